// The audit's view of the JAD beside a JAR: what a phone compares before it
// downloads the JAR, and what it compares after.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/common/FileSystem.h"
#include "midlet/AuditSteps.h"

namespace parcelix {

namespace {

// "%20" and the like decoded; a broken escape is kept as it is.
std::string PercentDecoded(std::string_view s) {
  std::string out;
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
      out += char(hex(s[i + 1]) * 16 + hex(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// An absolute URL begins with a scheme: a letter, then letters, digits, '+',
// '-' or '.', then ':' (a single letter is taken for a drive, not a scheme).
bool IsAbsoluteUrl(std::string_view url) {
  const size_t colon = url.find(':');
  if (colon == std::string_view::npos || colon < 2 || !std::isalpha(static_cast<unsigned char>(url[0]))) return false;
  return std::all_of(url.begin(), url.begin() + long(colon), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
}

void CompareWithManifest(const AttributeText& jad, const AttributeText& mf, std::vector<AuditFinding>& out) {
  static constexpr struct {
    const char* name;
    const char* code;
  } kSame[] = {{"MIDlet-Name", "jad-name-mismatch"},
               {"MIDlet-Version", "jad-version-mismatch"},
               {"MIDlet-Vendor", "jad-vendor-mismatch"}};
  for (const auto& [name, code] : kSame) {
    const std::string* inJad = FindAttribute(jad.attributes, name);
    const std::string* inJar = FindAttribute(mf.attributes, name);
    if (!inJad) {
      out.push_back({"missing-attribute", AuditSeverity::error, std::string("the JAD has no ") + name});
      continue;
    }
    if (inJar && *inJad != *inJar)
      out.push_back({code, AuditSeverity::error,
                     std::string(name) + " is \"" + *inJad + "\" in the JAD and \"" + *inJar +
                         "\" in the manifest; phones refuse the suite"});
  }
}

void CheckJarSize(const AttributeText& jad, const AuditResult& jar, std::vector<AuditFinding>& out) {
  const std::string* size = FindAttribute(jad.attributes, "MIDlet-Jar-Size");
  if (!size) {
    out.push_back({"missing-attribute", AuditSeverity::error, "the JAD has no MIDlet-Jar-Size"});
    return;
  }
  if (*size != std::to_string(jar.size))
    out.push_back({"jad-size-mismatch", AuditSeverity::error,
                   "MIDlet-Jar-Size is \"" + *size + "\", the JAR has " + std::to_string(jar.size) +
                       " bytes; phones report \"904 JAR size mismatch\""});
}

void CheckJarUrl(const AttributeText& jad, const AuditResult& jar, std::vector<AuditFinding>& out) {
  const std::string* url = FindAttribute(jad.attributes, "MIDlet-Jar-URL");
  if (!url) {
    out.push_back({"missing-attribute", AuditSeverity::error, "the JAD has no MIDlet-Jar-URL"});
    return;
  }
  if (IsAbsoluteUrl(*url)) {
    out.push_back({"jad-url-absolute", AuditSeverity::info,
                   "MIDlet-Jar-URL is the absolute URL \"" + *url + "\"; it is not compared with this JAR"});
    return;
  }
  if (!JarUrlNamesJar(*url, jar.jadPath, jar.path))
    out.push_back({"jad-url-mismatch", AuditSeverity::error,
                   "MIDlet-Jar-URL \"" + *url + "\" does not name this JAR"});
}

}  // namespace

bool JarUrlNamesJar(const std::string& url, const std::string& jadPath, const std::string& jarPath) {
  namespace fs = std::filesystem;
  const std::string_view path = std::string_view(url).substr(0, url.find_first_of("?#"));
  if (path.empty()) return false;
  const fs::path folder = fs::path(jadPath).parent_path();
  const fs::path jar = fs::path(jarPath).lexically_normal();
  for (const std::string& candidate : {std::string(path), PercentDecoded(path)}) {
    if (candidate.front() == '/') continue;  // a path of the server, not beside the JAD
    if ((folder / candidate).lexically_normal() == jar) return true;
  }
  return false;
}

bool ReadJad(const std::string& path, AttributeText& jad, std::vector<AuditFinding>& out) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes, kAuditJadLimit)) {
    if (errno == EFBIG)
      out.push_back({"jad-too-large", AuditSeverity::error,
                     "the JAD is larger than " + std::to_string(kAuditJadLimit >> 20) + " MiB; phones refuse it"});
    else
      out.push_back({"unreadable", AuditSeverity::error,
                     "the JAD " + path + " cannot be read: " + std::strerror(errno)});
    return false;
  }
  jad = ParseJadText(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  if (!jad.validUtf8)
    out.push_back({"not-utf8", AuditSeverity::warning,
                   "the JAD holds bytes that are not UTF-8, the encoding phones read it in"});
  if (jad.continuation)
    out.push_back({"jad-continuation", AuditSeverity::warning,
                   "the JAD continues a line on the next one (a line that begins with a space); phones "
                   "mishandle that"});
  if (jad.nul || jad.malformedLines > 0)
    out.push_back({"jad-bad-line", AuditSeverity::error,
                   "the JAD holds lines that are not \"Name: value\"" + std::string(jad.nul ? " and a NUL byte" : "")});
  return true;
}

void CheckJad(const AttributeText& jad, const AttributeText* mf, const AuditResult& jar,
              std::vector<AuditFinding>& out) {
  CheckJarSize(jad, jar, out);
  CheckJarUrl(jad, jar, out);
  if (mf) CompareWithManifest(jad, *mf, out);
}

}  // namespace parcelix
