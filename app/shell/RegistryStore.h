// The store of Parcelix's registry in memory and its text form.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/common/arxGbls.h"

namespace parcelix {

// A key name may hold anything but '\\' (the separator) and control characters.
bool ValidKeyName(std::string_view name);

struct TKeyNode {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;
  std::vector<std::unique_ptr<TKeyNode>> keys;

  TKeyNode* Find(std::string_view n) const {
    for (const auto& k : keys)
      if (SameTextAscii(k->name, n)) return k.get();
    return nullptr;
  }
  TKeyNode* FindOrAdd(const std::string& n) {
    if (TKeyNode* k = Find(n)) return k;
    keys.push_back(std::make_unique<TKeyNode>());
    keys.back()->name = n;
    return keys.back().get();
  }
  const std::string* Value(std::string_view n) const {
    for (const auto& v : values)
      if (SameTextAscii(v.first, n)) return &v.second;
    return nullptr;
  }
  void SetValue(const std::string& n, const std::string& v) {
    for (auto& e : values)
      if (SameTextAscii(e.first, n)) {
        e.second = v;
        return;
      }
    values.emplace_back(n, v);
  }
};

// Splits "a\\b\\c" into its key names; false when one of them is not valid.
bool SplitKeyPath(std::string_view text, std::vector<std::string>& out);
// Reads the text form into root; lines that do not parse are skipped.
void ParseStore(std::string_view text, TKeyNode& root);
// The text form of the whole store.
std::string FormatStore(const TKeyNode& root);

}  // namespace parcelix
