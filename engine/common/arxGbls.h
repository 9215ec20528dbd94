// The engine's global helpers: DOS dates, names and code pages, paths, files.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace parcelix {

// DOS date-time, packed: low 16 bits time, high 16 bits date, local time.
inline constexpr uint32_t kDefaultDosDate = 0x00210020;  // 1 Jan 1980 00:01:00
uint32_t UnixToDosDateTime(std::time_t t);               // local time; before 1980 clamps to 1980
std::time_t DosDateTimeToUnix(uint32_t dos);             // local time; invalid fields give -1

// Code pages. The "ANSI" code page is UTF-8 here; the "OEM" one is CP437.
bool IsValidUtf8(std::string_view s);
// s without the spaces and tabs at either end.
std::string_view TrimBlanks(std::string_view s);
bool IsAscii(std::string_view s);
std::string Cp437ToUtf8(std::string_view s);
// Appends a code point of the Basic Multilingual Plane as UTF-8.
void AppendUtf8(std::string& out, uint32_t cp);
// A stored name as the reader converts it: flag bit 11 set, or valid UTF-8,
// stays as is; anything else is taken as CP437.
std::string StoredNameToUtf8(std::string_view raw, uint16_t flags, bool translateOemChar);

// Path pieces. Separators are '/' (native) and, inside converted member
// names, '\' as well.
std::string ExtractFilePath(std::string_view path);  // up to and including the last separator
std::string ExtractFileName(std::string_view path);  // after the last separator
std::string_view ExtractFileNameView(std::string_view path);  // the same, inside path
std::string ExtractFileExt(std::string_view path);   // from the last '.' of the file part, dot included
std::string ChangeFileExt(std::string_view path, std::string_view ext);
std::string IncludeTrailingSlash(std::string_view dir);
std::string ToLowerAscii(std::string_view s);
std::string ToUpperAscii(std::string_view s);
bool SameTextAscii(std::string_view a, std::string_view b);

// Files.
bool FileExists(const std::string& path);       // a regular file (not a directory)
bool DirectoryExists(const std::string& path);
bool ForceDirectories(const std::string& dir);  // mkdir -p; true when it exists afterwards
std::string SystemTempDir();                    // $TMPDIR or /tmp, with a trailing '/'

}  // namespace parcelix
