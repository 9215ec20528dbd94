// What a list of JARs shows of each suite before anything is done with it:
// the manifest, the suite's name, vendor and version, its icon, and whether
// the JAD beside it carries a MIDP signature. Read on worker threads, one
// reader per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "midlet/MidletSuite.h"

namespace parcelix {

// Icon members above this size are not read: an icon is a few kilobytes, and
// a hostile JAR must not make a list of thousands hold megabytes per row.
inline constexpr int64_t kMaxIconBytes = 1 << 20;

struct TSuiteSummary {
  // Why the manifest could not be read: "damaged: ..." (the file is no
  // sound ZIP, or the manifest fails its check) or "no META-INF/MANIFEST.MF"
  // (a sound ZIP without one); empty when it was.
  std::string error;
  std::vector<uint8_t> manifest;
  // As the manifest's code page reads them, in UTF-8; empty when missing.
  std::string name, vendor, version;
  bool hasName = false;
  // The icon member as the manifest names it (leading '/' dropped), and its
  // bytes when it exists, is at most kMaxIconBytes and decodes sound.
  std::string icon;
  std::vector<uint8_t> iconBytes;
  // The JAD beside the JAR holds a MIDP signature: a new JAD drops it.
  bool signedJad = false;
};

// The icon member of a suite: MIDlet-Icon, else the icon field (the second)
// of MIDlet-1, with a leading '/' dropped; empty when neither names one.
std::string IconMemberOf(const ManifestDoc& main);

// Reads what the lists show of jarFile with reader; never throws for a JAR
// that cannot be read (error says why).
TSuiteSummary ReadSuiteSummary(TUnZip& reader, TManifestCodec& codec, const std::string& jarFile);

// One member's bytes, selected by its exact name ('/' separated); false when
// it is missing, larger than limit or damaged.
bool ReadJarMember(TUnZip& reader, const std::string& jarFile, const std::string& member, int64_t limit,
                   std::vector<uint8_t>& bytes);

}  // namespace parcelix
