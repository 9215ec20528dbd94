// The manifest editor window: a JAR's manifest attributes in a key/value grid, saved back into the JAR.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QDialog>
#include <QGridLayout>
#include <QPushButton>
#include <QTableView>

#include "app/gui/GuiServices.h"
#include "app/gui/SuiteHeader.h"
#include "app/gui/WindowFader.h"
#include "midlet/CodePage.h"
#include "midlet/MidletSuite.h"

namespace parcelix {

class TChmHelpViewer;
struct TAuditExaminer;

// The grid's rows: key and value. Manifest text is 8-bit in the manifest's
// code page; a cell shows it as text, keeps the bytes it was loaded from and
// gives them back unchanged unless it was edited (an edited cell is written
// in that code page).
class TManifestGridModel : public QAbstractTableModel {
 public:
  void SetLines(const GridLines& lines, const std::string& codePage = kUtf8);
  GridLines Lines() const;
  // Told why an edit was refused: a character the code page cannot hold.
  std::function<void(const std::string& why)> OnRefused;
  void AppendEmptyRow();
  void DeleteRow(int row);
  int RowCount() const { return static_cast<int>(rows_.size()); }
  QString Key(int row) const { return rows_.at(static_cast<size_t>(row)).key.text; }
  QString Value(int row) const { return rows_.at(static_cast<size_t>(row)).value.text; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  struct Cell {
    QString text;
    std::string bytes;  // as loaded, or the edited text in the code page
  };
  struct Row {
    Cell key;
    Cell value;
  };
  std::vector<Row> rows_;
  std::string codePage_ = kUtf8;
};

class TManifestGrid : public QTableView {
 public:
  explicit TManifestGrid(QWidget* parent = nullptr);
  // Ends an edit in progress so that its text is in the model.
  void CommitEdits();
};

class TfrmManifestEditor : public QDialog {
 public:
  TfrmManifestEditor(TMidletSuite& suite, const TGuiServices& services, TChmHelpViewer& help,
                     QWidget* parent = nullptr);
  ~TfrmManifestEditor() override;

  static constexpr int kClientWidth = 505;
  static constexpr int kClientHeight = 377;
  static constexpr int kColumnWidth = 232;

  TManifestGridModel& Model() { return model_; }
  TManifestGrid& Grid() { return Manifest; }
  TWindowFader& Fader() { return fader_; }
  TSuiteHeader& Header() { return SuiteHeader; }
  // The program whose crypto module checks the suite's signatures (this
  // process's program unless set before the window is first shown).
  void SetProgram(const std::string& program) { program_ = program; }

  // Handlers.
  void FormShow();  // fills the grid from ManifestJarFile
  void FormClose();
  void btnManifestSaveClick();
  void btnManifestCancelClick();
  void btnManifestHelpClick();
  void AddAttribute1Click();
  void DeleteAttribute1Click();

  // Closing fades the window out first.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  TMidletSuite& suite_;
  const TGuiServices& services_;
  TChmHelpViewer& help_;
  // True when the JAR is not signed, or the user accepts that a save breaks its signature.
  bool ConfirmSignatureBreak();
  // Shows the icon, name and findings of ManifestJarFile above the grid.
  void RefreshHeader();
  bool busy_ = false;
  int result_ = 0;
  TManifestGridModel model_;
  QGridLayout layout_;
  TSuiteHeader SuiteHeader;
  TManifestGrid Manifest;
  QPushButton btnManifestSave;
  QPushButton btnManifestCancel;
  QPushButton btnManifestHelp;
  TWindowFader fader_;
  std::string program_;
  std::unique_ptr<TAuditExaminer> examiner_;  // made on the first show, kept for the next
};

}  // namespace parcelix
