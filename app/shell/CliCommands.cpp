// The option tables of the archive, batch and save commands: each declares
// its options and arguments and hands the parsed values to its Run function.
#include "app/shell/CliCommands.h"

#include <memory>
#include <stdexcept>

#include "app/shell/CliTable.h"
#include "engine/common/arxGbls.h"
#include "midlet/CodePage.h"
#include "midlet/NameTemplate.h"

namespace parcelix {

namespace {

// -j N of the batch commands that examine JARs on worker threads.
void AddJobsOption(CLI::App& cmd, int& jobs) {
  cmd.add_option("-j,--jobs", jobs, "work on N JARs at a time (default: one per core)")
      ->check(CLI::Range(1, 256))
      ->option_text("N");
}

// What runs a command: its Run function on the values its table parsed.
template <class Options>
CommandRunner Run(CliContext& ctx, std::shared_ptr<Options> o, int (*run)(CliContext&, const Options&)) {
  return [&ctx, o, run] { return run(ctx, *o); };
}

void AddJson(CLI::App& cmd, bool& json, const char* what) { cmd.add_flag("--json", json, what); }

std::shared_ptr<ArchiveOptions> ArchiveArgument(CLI::App& cmd) {
  auto o = std::make_shared<ArchiveOptions>();
  cmd.add_option("ARCHIVE", o->archive, "the ZIP or JAR archive")->required();
  return o;
}

// rename and jad: files and folders, -r, -n, --json.
std::shared_ptr<BatchOptions> BatchArguments(CLI::App& cmd) {
  auto o = std::make_shared<BatchOptions>();
  cmd.add_flag("-r,--recursive", o->recursive, "also the JARs in the subfolders of each folder named");
  cmd.add_flag("-n,--dry-run", o->dryRun, "say what would be done, change nothing");
  AddJson(cmd, o->json, "print one JSON object per JAR instead of the lines and the summary");
  cmd.add_option("PATH", o->paths, "JAR files, or folders whose *.jar files are taken")->required();
  return o;
}

// set, unset and edit: what happens after the save, and the JAR.
std::shared_ptr<SaveOptions> SaveArguments(CLI::App& cmd) {
  auto o = std::make_shared<SaveOptions>();
  cmd.add_flag("--no-backup", o->noBackup, "keep no copy of the JAR as it was");
  cmd.add_flag("--no-rename", o->noRename, "do not rename the JAR after its MIDlet-Name");
  cmd.add_flag("--no-jad", o->noJad, "do not write a JAD beside the saved JAR");
  cmd.add_flag("--break-signature", o->breakSignature,
               "save a signed JAR although its signature will no longer hold");
  cmd.add_option("JAR", o->archive, "the JAR whose manifest changes")->required();
  return o;
}

}  // namespace

CommandRunner ListTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description("Prints the name of every member of the archive, one a line, in the order of its directory.");
  auto o = ArchiveArgument(cmd);
  AddJson(cmd, o->json, "print the archive, its members and findings as one JSON object");
  return Run(ctx, o, RunList);
}

CommandRunner TestTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description("Decodes every member and checks its CRC-32; exits 1 when one fails or the archive is damaged.");
  auto o = ArchiveArgument(cmd);
  AddJson(cmd, o->json, "print the verdict, the members and findings as one JSON object");
  return Run(ctx, o, RunTest);
}

CommandRunner ExtractTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description(
      "Writes the members (or those matching a MASK) below DIR, creating it; names that would leave DIR are "
      "refused. Prints each file written.");
  auto o = ArchiveArgument(cmd);
  cmd.add_option("DIR", o->dir, "the directory to extract to")->required();
  cmd.add_option("MASK", o->masks, "wildcard masks of the members wanted (* and ?)");
  return Run(ctx, o, RunExtract);
}

CommandRunner ManifestTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description("Prints the archive's META-INF/MANIFEST.MF as it is stored.");
  return Run(ctx, ArchiveArgument(cmd), RunManifest);
}

CommandRunner RenameTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description(
      "Renames each JAR after its MIDlet-Name (and MIDlet-Version, as the settings say), or after a template, "
      "in UTF-8 whatever the manifest's code page. A JAR whose new name exists keeps its name.");
  auto o = BatchArguments(cmd);
  auto* with = cmd.add_flag_callback("--version", [o] { o->version = 1; }, "add the MIDlet-Version to the name");
  auto* without = cmd.add_flag_callback("--no-version", [o] { o->version = 0; }, "leave the version out of the name");
  with->excludes(without);
  cmd.add_option("--template", o->nameTemplate,
                 "name the JAR after TEXT: {Attribute-Name}, {file}, {ext}; '/' makes folders below the JAR's")
      ->type_name("TEXT")
      ->check(CLI::Validator(
          [](std::string& text) {
            try {
              TNameTemplate check(text);
            } catch (const std::invalid_argument& e) {
              return std::string(e.what());
            }
            return std::string();
          },
          ""));
  cmd.add_option("--codepage", o->codePage, "read manifests that are not UTF-8 in this code page (or auto)")
      ->type_name("NAME")
      ->check(CLI::Validator(
          [](std::string& name) {
            if (SameTextAscii(name, "auto") || !CanonicalCodePage(name).empty()) return std::string();
            return "unknown code page '" + name +
                   "' (auto, UTF-8, windows-1251, KOI8-R, GBK, Big5, Shift_JIS, windows-1250, windows-1252)";
          },
          ""));
  cmd.add_option_function<std::string>(
         "--on-conflict", [o](const std::string& mode) { o->numberOnConflict = mode == "number"; },
         "when the new name is taken: keep the JAR's name (keep, the default) or add \" (2)\", \" (3)\" (number)")
      ->type_name("keep|number")
      ->check(CLI::IsMember({"keep", "number"}));
  AddJobsOption(cmd, o->jobs);
  return Run(ctx, o, RunRename);
}

CommandRunner JadTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description(
      "Writes a JAD beside each JAR, from its manifest, its size and the settings' URL. With --update, sets "
      "MIDlet-Jar-Size and MIDlet-Jar-URL of the JAD that is there to the JAR and keeps every other line.");
  auto o = BatchArguments(cmd);
  cmd.add_flag("--update", o->update, "update the JADs that exist (size and URL) instead of writing new ones");
  AddJobsOption(cmd, o->jobs);
  return Run(ctx, o, RunJad);
}

CommandRunner SetTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description("Sets manifest attributes and saves the JAR as the editor saves it.");
  auto o = SaveArguments(cmd);
  AddJson(cmd, o->json, "print the outcome as one JSON object");
  cmd.add_option("KEY=VALUE", o->rest, "an attribute and its new value")->required();
  return Run(ctx, o, RunSet);
}

CommandRunner UnsetTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description("Removes manifest attributes and saves the JAR as the editor saves it.");
  auto o = SaveArguments(cmd);
  cmd.add_option("KEY", o->rest, "an attribute to remove")->required();
  return Run(ctx, o, RunUnset);
}

CommandRunner EditTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description("Opens the manifest in $VISUAL, $EDITOR or vi, and saves the JAR when the text changed.");
  return Run(ctx, SaveArguments(cmd), RunEdit);
}

CommandRunner CheckTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description(
      "Checks each JAR and the JAD beside it: the archive, the manifest, the MIDP attributes, the JAD and the "
      "signatures. Prints one line per finding and a count per code; exits 1 when an error was found.");
  auto o = std::make_shared<CheckOptions>();
  cmd.add_flag("-r,--recursive", o->recursive, "also the JARs in the subfolders of each folder named");
  auto* json = cmd.add_flag("--json", o->json, "print one JSON object per JAR instead of the lines and the summary");
  auto* csv = cmd.add_flag("--csv", o->csv, "print one CSV row per JAR, after a header row");
  json->excludes(csv);
  cmd.add_flag("--duplicates", o->duplicates, "also find identical JARs and copies of the same suite in other bytes");
  cmd.add_flag("--fix", o->fix, "set MIDlet-Jar-Size and MIDlet-Jar-URL of a JAD that does not fit its JAR");
  cmd.add_flag("--trash-duplicates", o->trashDuplicates,
               "of each group of identical JARs keep one and move the others to the Trash");
  AddJobsOption(cmd, o->jobs);
  cmd.add_option("PATH", o->paths, "JAR files, or folders whose *.jar files are taken")->required();
  return Run(ctx, o, RunCheck);
}

CommandRunner FixTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description(
      "Writes each JAR again so that strict readers accept it: the manifest first, local headers that agree with "
      "the directory, no data descriptors, no bytes in front; member data are copied as they are. Says per JAR "
      "what changed, or \"already fine\" (the file is then not touched).");
  auto o = std::make_shared<FixOptions>();
  cmd.add_flag("-r,--recursive", o->recursive, "also the JARs in the subfolders of each folder named");
  cmd.add_flag("-n,--dry-run", o->dryRun, "say what would be changed, change nothing");
  cmd.add_flag("--no-backup", o->noBackup, "keep no copy of the JAR as it was");
  cmd.add_flag("--salvage", o->salvage, "write the intact members of a damaged JAR and drop later duplicates");
  cmd.add_flag("--deflate64-to-deflate", o->deflate64ToDeflate, "decode Deflate64 members and deflate them again");
  cmd.add_flag("--break-signature", o->breakSignature, "fix a JAR its JAD signs, although the signature breaks");
  AddJobsOption(cmd, o->jobs);
  cmd.add_option("PATH", o->paths, "JAR files, or folders whose *.jar files are taken")->required();
  return Run(ctx, o, RunFix);
}

}  // namespace parcelix
