// The words and small texts of the fix: counted change lines, the JAD
// beside a JAR and its signature attribute, the Java signature's files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "midlet/JarSignature.h"

namespace parcelix {

// "1 member", "3 members".
std::string CountText(int64_t n, const char* one, const char* many);
// The change lines of the entries written under a new local header.
void PutRestampChanges(int descriptor, int local, int zip64, std::vector<std::string>& changes);
// A Java signature file (META-INF/NAME.SF) among the member names.
bool HasSignatureFile(const std::vector<std::string>& names);
// A JAD's "Name: value" lines, in file order.
JadAttributes ParseJadAttributes(std::string_view text);
// The JAD signs the JAR (MIDlet-Jar-RSA-SHA1 with a value).
bool JadSignsJar(const JadAttributes& jad);

}  // namespace parcelix
