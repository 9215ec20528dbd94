// Brings an existing JAD up to date with its JAR: MIDlet-Jar-Size and
// MIDlet-Jar-URL set to the JAR, every other line, its order, its line end
// and the signature attributes (they sign the JAR, not the JAD) kept.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "midlet/JadText.h"
#include "midlet/JarSignature.h"

namespace parcelix {

// The attributes of a JAD in file order: a UTF-8 byte-order mark dropped,
// continuation lines (starting with a space) joined to their attribute,
// values trimmed of spaces and tabs; lines without ':' are passed over.
JadAttributes ParseJadAttributes(std::string_view text);

// True when a MIDlet-Jar-URL value names the JAR beside the JAD: the bare
// file name (percent-escapes decoded, "./" allowed) or an absolute URL
// (scheme://...), which points elsewhere by intent and is not judged.
bool JadUrlKeeps(std::string_view url, std::string_view jarFileName);

// The JAD text with MIDlet-Jar-Size set to jarSize and MIDlet-Jar-URL to
// jarFileName unless JadUrlKeeps. Replaced lines keep their name and the
// spaces after the colon; their continuation lines go. Missing attributes
// are appended with the file's own line end (CR LF when it has none).
// *changes receives what changed, in words ("" when nothing did).
std::string UpdatedJadText(std::string_view jad, uint64_t jarSize, std::string_view jarFileName,
                           std::string* changes);

struct JadUpdateResult {
  enum class Status { Updated, Unchanged, Failed };
  Status status = Status::Failed;
  std::string message;  // what changed, or why it failed
};

// Updates the JAD at jadPath for the JAR at jarPath, written as every JAD is
// (a complete new file renamed over the old one); with dryRun nothing is
// written. Never throws: a JAD or JAR that cannot be read, a JAD larger than
// kMaxJadSize or a failed write is a Failed result with the JAD unchanged.
inline constexpr size_t kMaxJadSize = 4 << 20;
JadUpdateResult UpdateJadForJar(const std::string& jadPath, const std::string& jarPath, bool dryRun = false);

}  // namespace parcelix
