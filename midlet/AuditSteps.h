// The JAD half of the audit, shared by Audit.cpp and AuditJad.cpp.
#pragma once

#include <string>
#include <vector>

#include "midlet/Audit.h"
#include "midlet/JadText.h"

namespace parcelix {

// Reads the JAD at path (at most kAuditJadLimit bytes) into jad, with the
// findings about its text; false (with a finding) when it cannot be read.
bool ReadJad(const std::string& path, AttributeText& jad, std::vector<AuditFinding>& out);

// The JAD against the JAR: its size and URL, and the suite's name, version
// and vendor against the manifest's (mf is null when the JAR has none).
void CheckJad(const AttributeText& jad, const AttributeText* mf, const AuditResult& jar,
              std::vector<AuditFinding>& out);

// Whether a relative MIDlet-Jar-URL, resolved against the JAD's folder,
// names the JAR (as written, or with its %XX escapes decoded).
bool JarUrlNamesJar(const std::string& url, const std::string& jadPath, const std::string& jarPath);

}  // namespace parcelix
