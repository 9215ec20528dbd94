// Manifest text in the code pages of the world's phones: the valid-UTF-8
// test, the choice of a legacy code page for a manifest that is not UTF-8,
// and conversion to and from UTF-8 (glibc iconv). The bytes of a manifest are
// never changed by any of this: conversion is for names and for the screen.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/arxGbls.h"

namespace parcelix {

inline constexpr const char* kUtf8 = "UTF-8";

// IsValidUtf8 and IsAscii: engine/common/arxGbls.h.

// The length of bytes without an incomplete UTF-8 sequence at its end (a
// value cut by a byte window).
size_t Utf8CompleteLength(std::string_view bytes);
// The longest prefix of UTF-8 text of at most maxBytes that ends on a
// character boundary.
std::string CutUtf8(std::string_view text, size_t maxBytes);

// The legacy code pages manifests are read in besides UTF-8, in the order
// detection prefers them when two read a manifest equally well.
const std::vector<std::string>& LegacyCodePages();

// The code page as Parcelix spells it ("windows-1251", "KOI8-R", "GBK",
// "Big5", "Shift_JIS", "windows-1250", "windows-1252" or "UTF-8") for a name
// or usual alias in any case (cp1251, win-1251, koi8r, gb2312, cp936, sjis,
// cp932, latin1, ...); empty when it names none of them.
std::string CanonicalCodePage(std::string_view name);
// The legacy code page that a charset detector's answer stands for (its
// language neighbours included: ISO-8859-5 reads as windows-1251,
// GB18030 as GBK, EUC-JP as Shift_JIS); empty when none fits.
std::string CodePageOfDetected(std::string_view detected);

// Conversion to and from the code pages, with the iconv descriptors kept
// open for the object's life: opening one loads the code page's module and
// closing the last one unloads it again, which costs more than converting a
// manifest. An operation that converts many texts keeps one of these; the
// free functions below open and close theirs for one text.
class TConverters {
 public:
  TConverters();
  ~TConverters();
  TConverters(TConverters&&) noexcept;
  TConverters& operator=(TConverters&&) noexcept;

  std::optional<std::string> DecodeStrict(std::string_view bytes, const std::string& codePage);
  std::string DecodeText(std::string_view bytes, const std::string& codePage,
                         std::string_view replacement = "\xEF\xBF\xBD");
  std::optional<std::string> EncodeStrict(std::string_view utf8, const std::string& codePage,
                                          std::string* unencodable = nullptr);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The bytes as UTF-8 when every byte sequence is valid in codePage;
// nothing otherwise.
std::optional<std::string> DecodeStrict(std::string_view bytes, const std::string& codePage);
// The bytes as UTF-8: a sequence the code page does not define becomes
// replacement; an incomplete sequence at the very end is dropped.
std::string DecodeText(std::string_view bytes, const std::string& codePage,
                       std::string_view replacement = "\xEF\xBF\xBD");
// UTF-8 text in codePage. When a character has no place in it, nothing is
// returned and *unencodable (when given) receives that character.
std::optional<std::string> EncodeStrict(std::string_view utf8, const std::string& codePage,
                                        std::string* unencodable = nullptr);

// An edited manifest text in the code page the manifest was read in (UTF-8
// text stays as it is). Throws std::range_error naming the character when
// the code page cannot hold it.
std::string EncodeEdited(std::string_view utf8, const std::string& codePage);

// How unlikely utf8 is as the reading of bytes in codePage: symbols among
// letters, a capital after a small letter or a change of alphabet inside a
// word, rare double-byte characters. 0 for ordinary text.
int Implausibility(std::string_view bytes, std::string_view utf8, const std::string& codePage);

// The charset detector, loaded when first needed: a command that reads only
// UTF-8 manifests, or manifests that one legacy page reads plainer than all
// others, never loads it. Without the library, detection still chooses
// among the legacy code pages by how plausible each reading is.
class TCharsetDetector {
 public:
  TCharsetDetector();
  ~TCharsetDetector();
  TCharsetDetector(const TCharsetDetector&) = delete;
  TCharsetDetector& operator=(const TCharsetDetector&) = delete;

  bool Available() const { return api_ != nullptr; }
  // Why the library could not be used (empty when it can).
  const std::string& LoadError() const { return error_; }
  // The detector's charset name for the text, "" when it guesses nothing.
  std::string Detect(std::string_view bytes);

 private:
  struct Api;
  std::unique_ptr<Api> api_;
  std::string error_;
};

// Decides the code page of one manifest after another and turns their
// values into UTF-8. One object per operation; it owns the detector.
class TManifestCodec {
 public:
  // codePage: empty or "auto" detects; else a name CanonicalCodePage knows.
  // Throws std::invalid_argument naming the value when it knows none.
  explicit TManifestCodec(std::string_view codePage = {});
  ~TManifestCodec();
  TManifestCodec(TManifestCodec&&) noexcept;
  TManifestCodec& operator=(TManifestCodec&&) noexcept;

  // "UTF-8" for a manifest that is valid UTF-8 (no detection at all); else
  // the fixed code page, or the one detected over all its values together.
  std::string CodePageOf(std::span<const uint8_t> manifest);
  // The legacy code page that reads these bytes best (the least
  // implausible reading; the detector decides between equally good ones).
  std::string Detect(std::string_view bytes);
  // A value of a manifest read in codePage, as UTF-8 text.
  std::string Text(std::string_view value, const std::string& codePage,
                   std::string_view replacement = "\xEF\xBF\xBD");
  // Said once when detection had to do without its library; empty otherwise.
  std::string TakeNotice();

 private:
  std::string fixed_;
  TConverters converters_;
  std::unique_ptr<TCharsetDetector> detector_;
  bool noticeGiven_ = false;
};

}  // namespace parcelix
