// A sorted list of file paths with a check mark each, as the Rename and Make JAD tabs show them.
#include "app/gui/CheckListBox.h"

#include <algorithm>

namespace parcelix {

void TCheckListModel::SetChecked(int index, bool checked) {
  Item& item = items_.at(static_cast<size_t>(index));
  if (item.checked == checked) return;
  item.checked = checked;
  const QModelIndex at = this->index(index);
  emit dataChanged(at, at, {Qt::CheckStateRole});
}

int TCheckListModel::Add(const QString& path) {
  const auto place = std::upper_bound(items_.begin(), items_.end(), path, [](const QString& p, const Item& item) {
    return QString::compare(p, item.path, Qt::CaseInsensitive) < 0;
  });
  const int row = static_cast<int>(place - items_.begin());
  beginInsertRows(QModelIndex(), row, row);
  items_.insert(place, Item{path, false});
  endInsertRows();
  return row;
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
  emit dataChanged(index(0), index(Count() - 1), {Qt::CheckStateRole});
}

int TCheckListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

QVariant TCheckListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Count()) return {};
  const Item& item = items_[static_cast<size_t>(index.row())];
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return item.path;
  if (role == Qt::CheckStateRole) return item.checked ? Qt::Checked : Qt::Unchecked;
  return {};
}

bool TCheckListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.row() >= Count() || role != Qt::CheckStateRole) return false;
  SetChecked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags TCheckListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

TCheckListBox::TCheckListBox(QWidget* parent) : QListView(parent) {
  setModel(&model_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);  // keeps a list of thousands of JARs quick to lay out
}

}  // namespace parcelix
