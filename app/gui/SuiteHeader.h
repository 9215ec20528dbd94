// A strip that says which suite a window is about and what the audit found in
// it: the suite's icon, its name, version and vendor on one line, and below
// them the findings, each code coloured by its severity with its sentences
// as tool tip.
#pragma once

#include <array>
#include <vector>

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QStringList>

#include "midlet/Audit.h"
#include "midlet/SuiteSummary.h"

namespace parcelix {

class TSuiteHeader : public QFrame {
 public:
  explicit TSuiteHeader(QWidget* parent = nullptr);

  static constexpr int kIconSide = 32;
  // Finding codes shown at most; the rest are counted in "+N more".
  static constexpr int kMaxShown = 5;

  // Shows the suite of jarFile (a display path) as summary and audit have it.
  void Show(const QString& jarFile, const TSuiteSummary& summary, const AuditResult& audit);
  // Shows no suite.
  void Clear();
  // The suite's own icon is shown (not the neutral JAR icon).
  bool HasSuiteIcon() const { return hasSuiteIcon_; }

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  // The findings of one code: its worst severity and every sentence.
  struct Group {
    QString code;
    AuditSeverity severity = AuditSeverity::info;
    QStringList sentences;
  };
  static std::vector<Group> GroupFindings(const AuditResult& audit);
  // Shows the worst codes that fit the width, and counts the rest.
  void Fit();
  void ShowChip(QLabel& chip, const Group& group);

  QLabel icon_;
  QLabel title_;
  QWidget findings_;
  std::array<QLabel, kMaxShown> chips_;
  QLabel more_;
  QLabel clean_;
  QHBoxLayout findingsLayout_;
  QGridLayout layout_;
  std::vector<Group> groups_;
  QString titleText_;
  bool shown_ = false;
  bool hasSuiteIcon_ = false;
};

}  // namespace parcelix
