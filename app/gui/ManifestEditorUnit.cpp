// The manifest editor window: a JAR's manifest attributes in a key/value grid, saved back into the JAR.
#include "app/gui/ManifestEditorUnit.h"

#include <stdexcept>

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QPalette>
#include <QScreen>
#include <QShowEvent>

#include "app/gui/HelpViewer.h"
#include "app/shell/ContextMenu.h"
#include "midlet/AuditExaminer.h"
#include "midlet/JarSignature.h"
#include "midlet/SuiteSummary.h"

namespace parcelix {

namespace {

// A cell's bytes as text in the manifest's code page; bytes the code page
// does not define show as U+FFFD.
QString CellText(const std::string& bytes, const std::string& codePage) {
  return QString::fromStdString(DecodeText(bytes, codePage));
}

}  // namespace

void TManifestGridModel::SetLines(const GridLines& lines, const std::string& codePage) {
  beginResetModel();
  codePage_ = codePage;
  rows_.clear();
  rows_.reserve(lines.size());
  for (const std::string& line : lines) {
    // The grid splits a line at its first '='; a line without one is a key
    // with an empty value.
    const size_t eq = line.find('=');
    Row row;
    row.key.bytes = line.substr(0, eq);
    row.value.bytes = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    row.key.text = CellText(row.key.bytes, codePage);
    row.value.text = CellText(row.value.bytes, codePage);
    rows_.push_back(std::move(row));
  }
  endResetModel();
}

GridLines TManifestGridModel::Lines() const {
  GridLines lines;
  lines.reserve(rows_.size());
  for (const Row& row : rows_) lines.push_back(row.key.bytes + "=" + row.value.bytes);
  return lines;
}

void TManifestGridModel::AppendEmptyRow() {
  const int at = RowCount();
  beginInsertRows(QModelIndex(), at, at);
  rows_.push_back(Row{});
  endInsertRows();
}

void TManifestGridModel::DeleteRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  beginRemoveRows(QModelIndex(), row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

int TManifestGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : RowCount(); }

int TManifestGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant TManifestGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= RowCount()) return {};
  const Row& row = rows_[static_cast<size_t>(index.row())];
  const Cell& cell = index.column() == 0 ? row.key : row.value;
  if (role == Qt::DisplayRole || role == Qt::EditRole) return cell.text;
  // The key column looks like a fixed column, yet stays editable.
  if (index.column() == 0 && role == Qt::BackgroundRole) return QApplication::palette().button();
  if (index.column() == 0 && role == Qt::ForegroundRole) return QApplication::palette().buttonText();
  return {};
}

bool TManifestGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.row() >= RowCount() || role != Qt::EditRole) return false;
  Row& row = rows_[static_cast<size_t>(index.row())];
  // A manifest line ends at a line break: one typed or pasted into a cell
  // would split the attribute, so it becomes a space.
  QString text = value.toString();
  text.replace(QLatin1String("\r\n"), QLatin1String(" "));
  text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  text.remove(QChar(0));
  Cell& cell = index.column() == 0 ? row.key : row.value;
  if (text == cell.text) return true;  // unedited: its bytes stay as loaded
  // An edited cell is written in the manifest's code page; a character that
  // code page cannot hold is refused here, while the user still sees it.
  try {
    cell.bytes = EncodeEdited(text.toStdString(), codePage_);
  } catch (const std::range_error& e) {
    if (OnRefused) OnRefused(e.what());
    return false;
  }
  cell.text = text;
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}

Qt::ItemFlags TManifestGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

TManifestGrid::TManifestGrid(QWidget* parent) : QTableView(parent) {
  horizontalHeader()->hide();
  verticalHeader()->hide();
  horizontalHeader()->setDefaultSectionSize(TfrmManifestEditor::kColumnWidth);
  horizontalHeader()->setStretchLastSection(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
}

void TManifestGrid::CommitEdits() {
  if (state() != QAbstractItemView::EditingState) return;
  // A cell editor is a child of the viewport; the view ignores any widget
  // that is not one of its editors.
  const QObjectList children = viewport()->children();
  for (QObject* child : children) {
    auto* editor = qobject_cast<QWidget*>(child);
    if (!editor || !editor->isVisible()) continue;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
  }
}

TfrmManifestEditor::TfrmManifestEditor(TMidletSuite& suite, const TGuiServices& services, TChmHelpViewer& help,
                                       QWidget* parent)
    : QDialog(parent), suite_(suite), services_(services), help_(help), fader_(*this), program_(ProgramPath()) {
  setObjectName(QStringLiteral("frmManifestEditor"));
  setWindowTitle(QStringLiteral("Manifest Editor"));
  // A single border with only the close box: no resizing, no help button.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));

  Manifest.setObjectName(QStringLiteral("Manifest"));
  Manifest.setModel(&model_);
  model_.OnRefused = [this](const std::string& why) { services_.ShowError(this, QString::fromStdString(why)); };
  Manifest.setContextMenuPolicy(Qt::ActionsContextMenu);
  QAction* add = Manifest.addAction(QStringLiteral("Add Attribute"));
  add->setObjectName(QStringLiteral("AddAttribute1"));
  add->setToolTip(QStringLiteral("Add Attribute"));
  add->setStatusTip(QStringLiteral("Add Attribute"));
  connect(add, &QAction::triggered, this, &TfrmManifestEditor::AddAttribute1Click);
  QAction* del = Manifest.addAction(QStringLiteral("Delete Attribute"));
  del->setObjectName(QStringLiteral("DeleteAttribute1"));
  del->setToolTip(QStringLiteral("Delete Attribute"));
  del->setStatusTip(QStringLiteral("Delete Attribute"));
  connect(del, &QAction::triggered, this, &TfrmManifestEditor::DeleteAttribute1Click);

  btnManifestSave.setObjectName(QStringLiteral("btnManifestSave"));
  btnManifestSave.setText(QStringLiteral("Save"));
  btnManifestSave.setToolTip(QStringLiteral("Save and Exit"));
  btnManifestSave.setAutoDefault(false);
  btnManifestCancel.setObjectName(QStringLiteral("btnManifestCancel"));
  btnManifestCancel.setText(QStringLiteral("Cancel"));
  btnManifestCancel.setToolTip(QStringLiteral("Exit without saving"));
  btnManifestCancel.setAutoDefault(false);
  btnManifestHelp.setObjectName(QStringLiteral("btnManifestHelp"));
  btnManifestHelp.setText(QStringLiteral("Help"));
  btnManifestHelp.setToolTip(QStringLiteral("Help"));
  btnManifestHelp.setAutoDefault(false);

  layout_.addWidget(&SuiteHeader, 0, 0, 1, 4);
  layout_.addWidget(&Manifest, 1, 0, 1, 4);
  layout_.setRowStretch(1, 1);
  layout_.setColumnStretch(0, 1);
  layout_.addWidget(&btnManifestSave, 2, 1);
  layout_.addWidget(&btnManifestCancel, 2, 2);
  layout_.addWidget(&btnManifestHelp, 2, 3);
  setLayout(&layout_);

  connect(&btnManifestSave, &QPushButton::clicked, this, &TfrmManifestEditor::btnManifestSaveClick);
  connect(&btnManifestCancel, &QPushButton::clicked, this, &TfrmManifestEditor::btnManifestCancelClick);
  connect(&btnManifestHelp, &QPushButton::clicked, this, &TfrmManifestEditor::btnManifestHelpClick);
}

TfrmManifestEditor::~TfrmManifestEditor() = default;

void TfrmManifestEditor::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void TfrmManifestEditor::FormShow() {
  model_.SetLines({});
  // A JAR without a manifest opens with an empty grid after the error.
  services_.Guard(this, [this] {
    const GridLines lines = suite_.LoadManifest(suite_.ManifestJarFile);
    model_.SetLines(lines, suite_.ManifestCodePage(suite_.ManifestJarFile));
  });
  if (model_.RowCount() > 0) Manifest.setCurrentIndex(model_.index(0, 1));
  RefreshHeader();
}

void TfrmManifestEditor::RefreshHeader() {
  const std::string& jar = suite_.ManifestJarFile;
  TSuiteSummary summary;
  AuditResult audit;
  // The audit of one JAR takes a few milliseconds; the SHA-256 that finds
  // duplicates matters only across a collection and is left out.
  try {
    summary = ReadSuiteSummary(suite_.UnJar, suite_.Codec(), jar);
  } catch (const std::exception& e) {
    summary.error = e.what();  // a code page of the settings that names none, or no memory
  }
  try {
    if (!examiner_) examiner_ = std::make_unique<TAuditExaminer>(program_);
    audit = ExamineForAudit(jar, *examiner_, false).audit;
  } catch (const std::exception& e) {
    audit.findings.push_back({"unreadable", AuditSeverity::error, e.what()});
  }
  SuiteHeader.Show(FromNativePath(jar), summary, audit);
}

void TfrmManifestEditor::btnManifestSaveClick() {
  if (busy_) return;
  Manifest.CommitEdits();
  if (!ConfirmSignatureBreak()) return;
  const GridLines lines = model_.Lines();
  QString error;
  {
    // The engine lets events through during the rebuild: nothing here may
    // start a second save or close the window meanwhile.
    busy_ = true;
    btnManifestSave.setEnabled(false);
    btnManifestCancel.setEnabled(false);
    Manifest.setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
      suite_.SaveCommand(lines);
    } catch (const std::exception& e) {
      error = QString::fromUtf8(e.what());
    }
    // The JAR (perhaps renamed, with a new JAD) as the save left it.
    RefreshHeader();
    QApplication::restoreOverrideCursor();
    Manifest.setEnabled(true);
    btnManifestCancel.setEnabled(true);
    btnManifestSave.setEnabled(true);
    busy_ = false;
  }
  if (!error.isEmpty()) {
    // The edits stay in the grid so the user can try again.
    services_.ShowError(this, error);
    return;
  }
  accept();
}

bool TfrmManifestEditor::ConfirmSignatureBreak() {
  const std::string signedBy = SignatureASaveBreaks(suite_, suite_.ManifestJarFile);
  if (signedBy.empty()) return true;
  return services_.Ask(this, {"Warning!",
                              "The JAR is signed (" + signedBy +
                                  "). Saving the manifest breaks the signature: the JAR will no longer count as "
                                  "signed.\n\nSave all the same?",
                              MsgIcon::Warning});
}

void TfrmManifestEditor::btnManifestCancelClick() { reject(); }

void TfrmManifestEditor::btnManifestHelpClick() { help_.ShowTopic(QStringLiteral("manifest_editor")); }

void TfrmManifestEditor::AddAttribute1Click() {
  Manifest.CommitEdits();
  model_.AppendEmptyRow();
  Manifest.setCurrentIndex(model_.index(model_.RowCount() - 1, 0));
}

void TfrmManifestEditor::DeleteAttribute1Click() {
  Manifest.CommitEdits();
  const QModelIndex current = Manifest.currentIndex();
  if (!current.isValid()) return;
  model_.DeleteRow(current.row());
}

void TfrmManifestEditor::FormClose() {
  fader_.Start([this] { QDialog::done(result_); });
}

void TfrmManifestEditor::done(int result) {
  if (busy_ || fader_.Running()) return;
  result_ = result;
  FormClose();
}

}  // namespace parcelix
