// The manifest editor window: a JAR's manifest attributes in a key/value grid, saved back into the JAR.
#include "app/gui/ManifestEditorUnit.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QPalette>
#include <QScreen>
#include <QShowEvent>

#include "app/gui/HelpViewer.h"
#include "midlet/JarSignature.h"

namespace parcelix {

std::string TManifestGridModel::Cell::Bytes() const {
  if (text == FromManifestBytes(bytes)) return bytes;
  return text.toStdString();
}

void TManifestGridModel::SetLines(const GridLines& lines) {
  beginResetModel();
  rows_.clear();
  rows_.reserve(lines.size());
  for (const std::string& line : lines) {
    // The grid splits a line at its first '='; a line without one is a key
    // with an empty value.
    const size_t eq = line.find('=');
    Row row;
    row.key.bytes = line.substr(0, eq);
    row.value.bytes = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    row.key.text = FromManifestBytes(row.key.bytes);
    row.value.text = FromManifestBytes(row.value.bytes);
    rows_.push_back(std::move(row));
  }
  endResetModel();
}

GridLines TManifestGridModel::Lines() const {
  GridLines lines;
  lines.reserve(rows_.size());
  for (const Row& row : rows_) lines.push_back(row.key.Bytes() + "=" + row.value.Bytes());
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
  (index.column() == 0 ? row.key : row.value).text = text;
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
    : QDialog(parent), suite_(suite), services_(services), help_(help), fader_(*this) {
  setObjectName(QStringLiteral("frmManifestEditor"));
  setWindowTitle(QStringLiteral("Manifest Editor"));
  // A single border with only the close box: no resizing, no help button.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));

  Manifest.setObjectName(QStringLiteral("Manifest"));
  Manifest.setModel(&model_);
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

  layout_.addWidget(&Manifest, 0, 0, 1, 4);
  layout_.setRowStretch(0, 1);
  layout_.setColumnStretch(0, 1);
  layout_.addWidget(&btnManifestSave, 1, 1);
  layout_.addWidget(&btnManifestCancel, 1, 2);
  layout_.addWidget(&btnManifestHelp, 1, 3);
  setLayout(&layout_);

  connect(&btnManifestSave, &QPushButton::clicked, this, &TfrmManifestEditor::btnManifestSaveClick);
  connect(&btnManifestCancel, &QPushButton::clicked, this, &TfrmManifestEditor::btnManifestCancelClick);
  connect(&btnManifestHelp, &QPushButton::clicked, this, &TfrmManifestEditor::btnManifestHelpClick);
}

void TfrmManifestEditor::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void TfrmManifestEditor::FormShow() {
  model_.SetLines({});
  // A JAR without a manifest opens with an empty grid after the error.
  services_.Guard(this, [this] { model_.SetLines(suite_.LoadManifest(suite_.ManifestJarFile)); });
  if (model_.RowCount() > 0) Manifest.setCurrentIndex(model_.index(0, 1));
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
