// The words of the fix: counted change lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace parcelix {

// "1 member", "3 members".
std::string CountText(int64_t n, const char* one, const char* many);
// The change lines of the entries written under a new local header.
void PutRestampChanges(int descriptor, int local, int zip64, std::vector<std::string>& changes);

}  // namespace parcelix
