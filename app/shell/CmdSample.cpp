// The sample command: a small MIDlet JAR written, renamed and given its JAD, each step shown.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "app/shell/CliTable.h"
#include "engine/common/FileSystem.h"
#include "engine/common/arxGbls.h"
#include "engine/write/arxZip.h"
#include "midlet/FileUtil.h"
#include "midlet/ManifestModel.h"
#include "midlet/MidletSuite.h"
#include "midlet/Settings.h"

namespace parcelix {

namespace {

namespace fs = std::filesystem;

// A 1x1 PNG (the suite's icon).
constexpr unsigned char kIconPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00,
    0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05,
    0x00, 0x01, 0xFF, 0x89, 0x99, 0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42,
    0x60, 0x82};

constexpr const char* kSampleManifest =
    "Manifest-Version: 1.0\r\n"
    "Created-By: Parcelix sample\r\n"
    "MIDlet-Name: Sample Game\r\n"
    "MIDlet-Version: 1.0.2\r\n"
    "MIDlet-Vendor: Parcelix\r\n"
    "MIDlet-1: Sample Game, /icon.png, SampleMidlet\r\n"
    "MIDlet-Icon: /icon.png\r\n"
    "MicroEdition-Profile: MIDP-2.0\r\n"
    "MicroEdition-Configuration: CLDC-1.1\r\n"
    "\r\n";

void WriteTreeFile(const std::string& path, std::string_view data) {
  ForceDirectories(ExtractFilePath(path));
  std::ofstream out(path, std::ios::binary);
  out.write(data.data(), std::streamsize(data.size()));
  if (!out) throw std::runtime_error("Cannot create file \"" + path + "\"");
}

// Builds the sample JAR with our own writer: the manifest first (a new
// archive from one tree), then the rest (an update from a second tree).
void BuildSampleJar(const std::string& jar, const std::string& scratch) {
  const std::string first = scratch + "manifest/";
  const std::string rest = scratch + "rest/";
  WriteTreeFile(first + "META-INF/MANIFEST.MF", kSampleManifest);
  // A placeholder class file: the magic number and a version, no code.
  WriteTreeFile(rest + "SampleMidlet.class", std::string("\xCA\xFE\xBA\xBE\x00\x00\x00\x2E", 8));
  WriteTreeFile(rest + "icon.png",
                std::string_view(reinterpret_cast<const char*>(kIconPng), sizeof kIconPng));
  std::string level;
  for (int i = 0; i < 64; ++i) level += "level 1 row " + std::to_string(i) + ": ....##....##....\n";
  WriteTreeFile(rest + "res/level1.txt", level);

  for (const std::string& tree : {first, rest}) {
    TJar writer;
    writer.FileSpec = {tree + "*.*"};
    writer.SetArchiveFile(jar);
    if (writer.Compress() < 1) {
      std::string why = writer.Errors().empty() ? "nothing written" : ErrorMessage(writer.Errors().front().code);
      throw std::runtime_error("Cannot write " + jar + ": " + why);
    }
  }
}

void PrintIndented(std::ostream& os, const std::string& text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    os << "    " << line << '\n';
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
}

}  // namespace

int CmdSample(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) {
    *ctx.err << "Usage: parcelix sample\n";
    return 2;
  }
  try {
    TPrivateTempDir out("parcelix-sample-");
    out.Keep();
    std::ostream& os = *ctx.out;
    os << "Parcelix sample: working in " << out.Path() << "\n\n";
    const std::string jar = out.Path() + "sample.jar";
    {
      TPrivateTempDir scratch("parcelix-sample-src-");
      os << "1. Writing sample.jar with the built-in JAR writer\n";
      BuildSampleJar(jar, scratch.Path());
    }
    TMidletSuite suite;
    LoadSettings(suite.Options);
    os << "   " << GetJarFileSize(jar) << " bytes. Its manifest:\n";
    PrintIndented(os, ManifestDocText(suite.LoadManifestDoc(jar)));

    os << "\n2. Renaming it after MIDlet-Name" << (suite.Options.AddVersion ? " and MIDlet-Version" : "")
       << " (AddVersion is " << (suite.Options.AddVersion ? "on" : "off") << ")\n";
    RenameResult r = suite.RenameByMIDletName(jar);
    if (!r.renamed) throw std::runtime_error("the rename did not happen: " + r.reason);
    os << "   sample.jar -> " << ExtractFileName(r.newPath) << '\n';

    os << "\n3. Writing the JAD beside it\n";
    std::string jad = suite.MakeJAD(r.newPath);
    os << "   " << ExtractFileName(jad) << '\n';

    os << "\nFiles in " << out.Path() << ":\n";
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out.Path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const auto& n : names) os << "    " << n << "  (" << GetJarFileSize(out.Path() + n) << " bytes)\n";

    std::string jadText;
    ReadWholeFile(jad, jadText);
    os << "\nThe JAD:\n";
    PrintIndented(os, jadText);
    return 0;
  } catch (const std::exception& e) {
    *ctx.err << "parcelix: sample: " << e.what() << '\n';
    return 1;
  }
}

CommandRunner SampleTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description("Writes a small MIDlet JAR into a new directory below the temporary directory, renames it after "
                  "its suite, writes its JAD and shows each step.");
  return [&ctx] { return CmdSample(ctx, {}); };
}

}  // namespace parcelix
