// The table of the Check tab: one row per JAR with its icon, file, suite
// name, vendor, version and the audit's findings, sortable by any column and
// filtered by a text and "problems only".
#pragma once

#include <optional>
#include <vector>

#include <QAbstractTableModel>
#include <QHash>
#include <QImage>
#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>

#include "app/gui/AuditReader.h"
#include "midlet/Audit.h"

namespace parcelix {

class TCheckTableModel : public QAbstractTableModel {
 public:
  enum Column { File, Name, Vendor, Version, Findings, ColumnCount };
  // The role the proxy sorts by: text columns by their text without regard
  // to case, findings by the worst severity.
  static constexpr int SortRole = Qt::UserRole;

  int Count() const { return static_cast<int>(rows_.size()); }
  const QString& Path(int row) const { return rows_.at(static_cast<size_t>(row)).path; }
  // The audit of a row; null while it is being read.
  const AuditResult* Audit(int row) const;
  // The row of a path; -1 when it is not listed.
  int RowOf(const QString& path) const;
  // Adds the paths not listed yet, as "reading..." rows; returns the added ones.
  QStringList Add(const QStringList& paths);
  void Remove(const QString& path);
  // A batch of audits from the reader (paths no longer listed are passed
  // over), as one change from the first row to the last, so that a sorted
  // view places them in one go, not row by row.
  void SetAudits(std::vector<TAuditRead>& batch);
  // Replaces the findings of a row that has its audit.
  void SetFindings(int row, std::vector<AuditFinding> findings);
  // The row of a listed path is "reading..." again; false when it is not listed.
  bool Forget(const QString& path);
  void SetDefaultIcon(const QImage& icon) { defaultIcon_ = icon; }
  // Every row has its audit.
  bool AllRead() const { return unread_ == 0; }
  int UnreadCount() const { return unread_; }

  // The worst severity of a row's findings; nullopt for none (or not read).
  static std::optional<AuditSeverity> Worst(const AuditResult& audit);
  // The findings in a few words: the code of the first of the worst, then
  // "+N" for the others ("bad-member +2"); "" for none.
  static QString Compact(const AuditResult& audit);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Row {
    QString path;
    std::optional<AuditResult> audit;
    QImage icon;
  };
  QVariant FileData(const Row& row, int role) const;
  QVariant FindingsData(const Row& row, int role) const;
  void Reindex(size_t from);
  bool Store(int row, AuditResult audit, const QImage& icon);
  std::vector<Row> rows_;
  QHash<QString, int> index_;
  int unread_ = 0;
  QImage defaultIcon_;
};

// Shows the rows whose file, suite name or a finding code holds the filter
// text (any case), and with ProblemsOnly only those with an error or a warning.
class TCheckFilter : public QSortFilterProxyModel {
 public:
  void SetText(const QString& text);
  void SetProblemsOnly(bool on);
  bool ProblemsOnly() const { return problemsOnly_; }

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  QString text_;
  bool problemsOnly_ = false;
};

}  // namespace parcelix
