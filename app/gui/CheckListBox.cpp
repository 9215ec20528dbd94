// A sorted list of JAR files with a check mark each, as the Rename and Make JAD tabs show them.
#include "app/gui/CheckListBox.h"

#include <algorithm>

#include <QColor>
#include <QFileInfo>
#include <QHeaderView>
#include <QPainter>

namespace parcelix {

namespace {

bool SortsBefore(const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; }

}  // namespace

void TCheckListModel::SetChecked(int index, bool checked) {
  Item& item = items_.at(static_cast<size_t>(index));
  if (item.checked == checked) return;
  item.checked = checked;
  const QModelIndex at = this->index(index, 0);
  emit dataChanged(at, at, {Qt::CheckStateRole});
  if (OnChecksChanged) OnChecksChanged();
}

int TCheckListModel::Add(const QString& path) {
  const auto place = std::upper_bound(items_.begin(), items_.end(), path,
                                      [](const QString& p, const Item& item) { return SortsBefore(p, item.path); });
  const int row = static_cast<int>(place - items_.begin());
  beginInsertRows(QModelIndex(), row, row);
  items_.insert(place, Item{path, false});
  endInsertRows();
  return row;
}

void TCheckListModel::AddMany(const QStringList& paths) {
  if (paths.size() <= 1) {
    for (const QString& p : paths) Add(p);
    return;
  }
  std::vector<Item> added;
  added.reserve(static_cast<size_t>(paths.size()));
  for (const QString& p : paths) added.push_back(Item{p, false});
  const auto less = [](const Item& a, const Item& b) { return SortsBefore(a.path, b.path); };
  std::stable_sort(added.begin(), added.end(), less);
  std::vector<Item> merged;
  merged.reserve(items_.size() + added.size());
  // std::merge takes from the first range on a tie: items already in the
  // list stay before equal new ones.
  std::merge(std::make_move_iterator(items_.begin()), std::make_move_iterator(items_.end()),
             std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()),
             std::back_inserter(merged), less);
  beginResetModel();
  items_ = std::move(merged);
  endResetModel();
}

void TCheckListModel::Remove(int index) {
  if (index < 0 || index >= Count()) return;
  beginRemoveRows(QModelIndex(), index, index);
  items_.erase(items_.begin() + index);
  endRemoveRows();
}

void TCheckListModel::CheckAll(bool checked) {
  for (Item& item : items_) item.checked = checked;
  ChangedAll();
}

void TCheckListModel::InvertAll() {
  for (Item& item : items_) item.checked = !item.checked;
  ChangedAll();
}

int TCheckListModel::CheckedCount() const {
  return static_cast<int>(std::count_if(items_.begin(), items_.end(), [](const Item& i) { return i.checked; }));
}

void TCheckListModel::ChangedAll() {
  if (items_.empty()) return;
  emit dataChanged(index(0, 0), index(Count() - 1, 0), {Qt::CheckStateRole});
  if (OnChecksChanged) OnChecksChanged();
}

void TCheckListModel::ViewsChanged() {
  if (items_.empty()) return;
  emit dataChanged(index(0, 0), index(Count() - 1, 1));
}

int TCheckListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }
int TCheckListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant TCheckListModel::FileData(const Item& item, const TRowView* view, int role) const {
  switch (role) {
    case Qt::DisplayRole: return QFileInfo(item.path).fileName();
    case Qt::CheckStateRole: return item.checked ? Qt::Checked : Qt::Unchecked;
    case Qt::DecorationRole: return view && !view->icon.isNull() ? view->icon : defaultIcon_;
    case Qt::ToolTipRole: return view && !view->tooltip.isEmpty() ? view->tooltip : item.path;
    default: return {};
  }
}

QVariant TCheckListModel::ResultData(const TRowView* view, int role) const {
  switch (role) {
    case Qt::DisplayRole: return view ? view->result : QStringLiteral("reading...");
    case Qt::ForegroundRole:
      if (!view) return QColor(Qt::gray);
      return view->problem ? QVariant(QColor(0xb0, 0x00, 0x20)) : QVariant();
    case Qt::ToolTipRole: return view ? view->result : QVariant();
    default: return {};
  }
}

QVariant TCheckListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Count()) return {};
  const Item& item = items_[static_cast<size_t>(index.row())];
  const std::optional<TRowView> view = Describe ? Describe(index.row()) : std::nullopt;
  const TRowView* shown = view ? &*view : nullptr;
  return index.column() == 0 ? FileData(item, shown, role) : ResultData(shown, role);
}

QVariant TCheckListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section == 0 ? QStringLiteral("File") : resultTitle_;
}

bool TCheckListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.row() >= Count() || index.column() != 0 || role != Qt::CheckStateRole) return false;
  SetChecked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags TCheckListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  return index.column() == 0 ? flags | Qt::ItemIsUserCheckable : flags;
}

TCheckListBox::TCheckListBox(QWidget* parent) : QTreeView(parent) {
  setModel(&model_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setAllColumnsShowFocus(true);
  setUniformRowHeights(true);  // keeps a list of thousands of JARs quick to lay out
  setIconSize(QSize(IconSide(), IconSide()));
  model_.SetDefaultIcon(NeutralJarIcon(IconSide()));
  header()->setStretchLastSection(true);
  header()->resizeSection(0, 200);
}

int TCheckListBox::IconSide() const { return std::max(16, fontMetrics().height()); }

QImage TCheckListBox::NeutralJarIcon(int side) {
  QImage icon(side, side, QImage::Format_ARGB32_Premultiplied);
  icon.fill(Qt::transparent);
  QPainter p(&icon);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = side;
  // A grey box with a darker lid band and a row of zip teeth down its middle.
  const QRectF box(s * 0.12, s * 0.1, s * 0.76, s * 0.82);
  p.setPen(QPen(QColor(0x6b, 0x6f, 0x76), std::max(1.0, s / 16)));
  p.setBrush(QColor(0xd9, 0xdc, 0xe1));
  p.drawRoundedRect(box, s * 0.1, s * 0.1);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x8a, 0x90, 0x99));
  p.drawRect(QRectF(box.left() + 1, box.top() + s * 0.14, box.width() - 2, s * 0.14));
  for (qreal y = box.top() + s * 0.34; y < box.bottom() - s * 0.08; y += s * 0.12)
    p.drawRect(QRectF(s * 0.44, y, s * 0.12, s * 0.06));
  return icon;
}

}  // namespace parcelix
