// The engine's global helpers: DOS dates, names and code pages, paths, files.
#include "engine/common/arxGbls.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace parcelix {

// ---------------------------------------------------------------- DOS dates

uint32_t UnixToDosDateTime(std::time_t t) {
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return kDefaultDosDate;
  int year = tm.tm_year + 1900;
  if (year < 1980) return 0x00210000;  // 1 Jan 1980 00:00:00, the first DOS date
  if (year > 2107) return 0xFF9FBF7D;  // 31 Dec 2107 23:59:58, the last one
  uint32_t date = uint32_t(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  // A leap second (tm_sec 60) would overflow the 5-bit field.
  int sec = tm.tm_sec > 59 ? 59 : tm.tm_sec;
  uint32_t time = uint32_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (sec / 2));
  return (date << 16) | time;
}

std::time_t DosDateTimeToUnix(uint32_t dos) {
  const int sec = int(dos & 0x1F) * 2;
  const int min = int((dos >> 5) & 0x3F);
  const int hour = int((dos >> 11) & 0x1F);
  const int day = int((dos >> 16) & 0x1F);
  const int month = int((dos >> 21) & 0x0F);
  const int year = int((dos >> 25) & 0x7F) + 1980;
  if (sec > 59 || min > 59 || hour > 23 || month < 1 || month > 12 || day < 1) return -1;
  static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return -1;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = min;
  tm.tm_sec = sec;
  tm.tm_isdst = -1;  // let the zone rules decide, as the file system would
  return std::mktime(&tm);
}

// --------------------------------------------------------------- code pages

namespace {

// The upper half of code page 437 (the "OEM" code page of old ZIP tools).
constexpr uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

bool IsSep(char c) { return c == '/' || c == '\\'; }

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

std::string_view TrimBlanks(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    // Manifests are mostly ASCII: skip it eight bytes at a time.
    while (n - i >= 8) {
      uint64_t word;
      std::memcpy(&word, s.data() + i, sizeof word);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i == n) break;
    const uint8_t c = uint8_t(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;  // a continuation byte, an overlong lead (C0, C1) or F5..FF
    }
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      const uint8_t cc = uint8_t(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;  // UTF-16 surrogates are not characters
    i += len;
  }
  return true;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (uint8_t(c) >= 0x80) return false;
  return true;
}

std::string Cp437ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 2);
  for (char ch : s) {
    const uint8_t c = uint8_t(ch);
    if (c < 0x80) out += ch;
    else AppendUtf8(out, kCp437High[c - 0x80]);
  }
  return out;
}

std::string StoredNameToUtf8(std::string_view raw, uint16_t flags, bool translateOemChar) {
  // Bit 11 declares UTF-8; a name that happens to be valid UTF-8 was almost
  // certainly written as such by a tool that did not set the bit (the JDK
  // before 7, many phones). Only the rest is taken as code page 437.
  if (!translateOemChar || (flags & 0x0800) || IsAscii(raw) || IsValidUtf8(raw))
    return std::string(raw);
  return Cp437ToUtf8(raw);
}

// -------------------------------------------------------------------- paths

std::string ExtractFilePath(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsSep(path[i - 1])) return std::string(path.substr(0, i));
  return std::string();
}

std::string_view ExtractFileNameView(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsSep(path[i - 1])) return path.substr(i);
  return path;
}

std::string ExtractFileName(std::string_view path) { return std::string(ExtractFileNameView(path)); }

std::string ExtractFileExt(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsSep(path[i - 1])) break;
    if (path[i - 1] == '.') return std::string(path.substr(i - 1));
  }
  return std::string();
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  const size_t oldExt = ExtractFileExt(path).size();
  std::string out(path.substr(0, path.size() - oldExt));
  out += ext;
  return out;
}

std::string IncludeTrailingSlash(std::string_view dir) {
  std::string out(dir);
  if (!out.empty() && out.back() != '/') out += '/';
  return out;
}

std::string ToLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

std::string ToUpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = char(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// -------------------------------------------------------------------- files

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  std::string path = dir;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (DirectoryExists(path)) return true;
  // Create each missing level from the top down; a level that exists as
  // something other than a directory makes the whole call fail.
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i != path.size() && path[i] != '/') continue;
    const std::string level = path.substr(0, i);
    if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return DirectoryExists(path);
}

std::string SystemTempDir() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env && *env) ? env : "/tmp";
  return IncludeTrailingSlash(dir);
}

}  // namespace parcelix
