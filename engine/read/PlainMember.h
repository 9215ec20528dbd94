// The quick read of one member of a plain archive: one open, the reads the
// layout needs, one inflate. What a batch does for every JAR of a
// collection, where a full open of each archive would cost more than the
// member itself. Anything unusual in the archive (bytes in front, zip64,
// a long comment, the member stored twice, a method other than stored and
// Deflate, a CRC that does not match) makes it give up; the caller then
// reads the archive with the full reader, which says what is wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/FileSystem.h"

namespace parcelix {

struct TPlainMember {
  std::vector<uint8_t> bytes;  // the member, decoded and CRC-checked
  TFileIdentity identity;      // of the file it was read from
};

// Reads the member called name (ASCII letters in any case, '\' read as '/')
// of the archive at path into out. False when the archive or the member is
// anything but plain, or larger than maxSize once decoded; out is then
// unspecified.
bool ReadPlainMember(const std::string& path, std::string_view name, size_t maxSize, TPlainMember& out);

}  // namespace parcelix
