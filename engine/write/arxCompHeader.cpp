// The writer's entry list: items in archive order with a case-blind lookup by stored name.
#include "engine/write/arxCompHeader.h"

#include <algorithm>

namespace parcelix {

std::string TCompHeaderObj::LookupKey(const std::string& name) {
  std::string key(name);
  for (char& c : key) {
    if (c == '\\') c = '/';
    else if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return key;
}

int TCompHeaderObj::Add(TCompHeaderItem item) {
  const int i = int(items_.size());
  index_.emplace(LookupKey(item.StoredName), i);  // the first of equal names wins
  items_.push_back(std::move(item));
  return i;
}

int TCompHeaderObj::IndexOf(const std::string& storedName) const {
  auto it = index_.find(LookupKey(storedName));
  return it == index_.end() ? -1 : it->second;
}

void TCompHeaderObj::Rename(int i, const std::string& storedName) {
  items_.at(size_t(i)).StoredName = storedName;
  Reindex();
}

void TCompHeaderObj::MoveNewFirst() {
  // Appended items are normally all at the end: one rotation puts them first.
  auto firstNew = std::find_if(items_.begin(), items_.end(), [](const TCompHeaderItem& it) { return it.Record.Appended; });
  if (firstNew == items_.end()) return;
  if (std::all_of(firstNew, items_.end(), [](const TCompHeaderItem& it) { return it.Record.Appended; }))
    std::rotate(items_.begin(), firstNew, items_.end());
  else
    std::stable_partition(items_.begin(), items_.end(), [](const TCompHeaderItem& it) { return it.Record.Appended; });
  Reindex();
}

void TCompHeaderObj::Clear() {
  items_.clear();
  index_.clear();
}

void TCompHeaderObj::Reindex() {
  index_.clear();
  for (size_t i = 0; i < items_.size(); ++i) index_.emplace(LookupKey(items_[i].StoredName), int(i));
}

}  // namespace parcelix
