#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <iostream>

#include "cli/commands.h"
#include "cli/platform.h"

namespace cli {

namespace {

constexpr const char* kOverview =
    "Examples:\n"
    "  moravelt-cli info game.max\n"
    "  moravelt-cli convert game.max game.psu\n"
    "  moravelt-cli batch --to psu -o converted saves/\n"
    "  moravelt-cli unpack game.psu folders/\n"
    "  moravelt-cli pack folders/BESLES-12345SAVE game.psu\n"
    "Every command explains itself: moravelt-cli COMMAND --help\n"
    "Exit status: 0 success, 1 failure, 2 usage error.";

void AddYes(CLI::App* cmd, bool& yes) {
  cmd->add_flag("-y,--yes", yes, "Answer Yes to a question the loader asks (default: No)");
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        bool errIsTerminal) {
  Console console{out, err, errIsTerminal, {}};
  CLI::App app{"Reads PlayStation 2 memory-card saves (.psu .xps .sps .max .pws), shows them, "
               "edits them a little, and writes them as .psu or .xps.",
               "moravelt-cli"};
  app.require_subcommand(1);
  app.footer(kOverview);

  InfoOptions info;
  CLI::App* infoCmd = app.add_subcommand("info", "Show a save's folder, title, mode and files");
  infoCmd->add_option("FILE", info.file, "The save file")->required();
  infoCmd->add_flag("--json", info.json, "Print one JSON object");
  AddYes(infoCmd, info.yes);
  infoCmd->footer(
      "Examples:\n"
      "  moravelt-cli info game.psu\n"
      "  moravelt-cli info --json game.max");

  ConvertOptions convert;
  CLI::App* convertCmd = app.add_subcommand(
      "convert", "Write a save in the format its target's extension names (.psu or .xps)");
  convertCmd->add_option("SRC", convert.source, "The save to read")->required();
  convertCmd->add_option("DST", convert.target, "The file to write; SRC itself saves in place")
      ->required();
  AddYes(convertCmd, convert.yes);
  convertCmd->footer(
      "Examples:\n"
      "  moravelt-cli convert game.max game.psu\n"
      "  moravelt-cli convert game.sps game.xps\n"
      "  moravelt-cli convert game.psu game.psu     (rewrite in place)");

  ExtractOptions extract;
  CLI::App* extractCmd = app.add_subcommand("extract", "Write files of a save as PC files");
  extractCmd->add_option("SRC", extract.source, "The save")->required();
  extractCmd->add_option("NAME", extract.name, "The file to extract");
  CLI::Option* outOpt = extractCmd->add_option("-o,--output", extract.output, "Where NAME goes");
  CLI::Option* allOpt =
      extractCmd->add_option("--all", extract.allDir, "Write every file into this folder");
  allOpt->excludes(outOpt);
  AddYes(extractCmd, extract.yes);
  extractCmd->footer(
      "Names that are unsafe on a PC (separators, \"..\", device names like CON, characters\n"
      "Windows refuses) are written under a safe name, and the change is reported.\n"
      "Examples:\n"
      "  moravelt-cli extract game.psu icon.sys -o icon.sys\n"
      "  moravelt-cli extract game.max --all game-files");

  BatchOptions batch;
  CLI::App* batchCmd = app.add_subcommand(
      "batch", "Convert many saves: the files named and every save under the folders named");
  batchCmd->add_option("--to", batch.to, "Target format: psu or xps")->required();
  batchCmd->add_option("-o,--output", batch.outDir, "Folder for the outputs (default: beside each input)");
  batchCmd->add_option("-j,--jobs", batch.jobs, "Conversions at once (default: one per CPU; twice the CPUs, at least 8, where outputs are flushed one by one)")
      ->check(CLI::Range(1u, 256u));
  batchCmd->add_flag("-f,--force", batch.force, "Overwrite outputs that exist");
  batchCmd->add_flag("--json", batch.json, "Print one JSON object per input");
  AddYes(batchCmd, batch.yes);
  batchCmd->add_option("INPUT", batch.inputs, "Save files and folders")->required();
  batchCmd->footer(
      "Outputs keep the input's name with the new extension. Existing files are skipped\n"
      "unless --force; two inputs that would give one output name get distinct names\n"
      "(name-2.psu, name-3.psu, ...) and a warning.\n"
      "Examples:\n"
      "  moravelt-cli batch --to psu saves/\n"
      "  moravelt-cli batch --to xps -o out --jobs 2 a.max b.psu more-saves/\n"
      "  moravelt-cli batch --to psu --json saves/ > results.jsonl");

  UnpackOptions unpack;
  CLI::App* unpackCmd =
      app.add_subcommand("unpack", "Write a save as a plain folder DIR/<save folder name>/");
  unpackCmd->add_option("SRC", unpack.source, "The save")->required();
  unpackCmd->add_option("DIR", unpack.dir, "Where the save's folder is made")->required();
  unpackCmd->add_flag("-f,--force", unpack.force, "Overwrite files that exist");
  AddYes(unpackCmd, unpack.yes);
  unpackCmd->footer(
      "Unsafe names are changed and reported; modification times are applied.\n"
      "Examples:\n"
      "  moravelt-cli unpack game.max memcard/\n"
      "  moravelt-cli unpack --force game.psu memcard/");

  PackOptions pack;
  CLI::App* packCmd =
      app.add_subcommand("pack", "Make a save from the files of a folder (in name order)");
  packCmd->add_option("DIR", pack.dir, "The folder; it names the save unless --name")->required();
  packCmd->add_option("DST", pack.target, "The save to write: .psu or .xps")->required();
  packCmd->add_option("--name", pack.name, "The save folder's name (at most 32 characters)");
  packCmd->footer(
      "Refused: subfolders, names over 32 characters, a file over 8 MiB, more files or\n"
      "bytes than an 8 MiB memory card holds.\n"
      "Examples:\n"
      "  moravelt-cli pack memcard/BESLES-12345SAVE game.psu\n"
      "  moravelt-cli pack files/ game.xps --name BESLES-12345SAVE");

  EditOptions edit;
  std::string editFile;
  auto addEditCommon = [&](CLI::App* cmd, bool withFile) {
    cmd->add_option("SRC", edit.source, "The save to change")->required();
    cmd->add_option("-o,--output", edit.output,
                    "Write the changed save here (.psu or .xps) instead of over SRC");
    if (withFile)
      cmd->add_option("--file", editFile, "The file to change (default: the save folder)");
    AddYes(cmd, edit.yes);
  };
  const char* kWriteBack =
      "The save is written back over SRC (through a \"~0\" file) or to -o OUT.\n"
      "A .max/.pws save can't be written in its own format and needs -o.\n";

  CLI::App* renameCmd = app.add_subcommand("rename", "Rename the save folder or one file");
  addEditCommon(renameCmd, true);
  renameCmd->add_option("NEWNAME", edit.value, "The new name (at most 32 characters)")->required();
  renameCmd->footer(std::string(kWriteBack) +
                    "Examples:\n"
                    "  moravelt-cli rename game.psu BESLES-99999SAVE\n"
                    "  moravelt-cli rename game.psu --file data.bin data2.bin\n"
                    "  moravelt-cli rename game.max NEWNAME -o game.psu");

  CLI::App* addCmd = app.add_subcommand("add", "Add PC files to a save");
  addEditCommon(addCmd, false);
  addCmd->add_option("PCFILE", edit.pcFiles, "Files to add, named by their file name")->required();
  addCmd->add_flag("--replace", edit.replace,
                   "Replace a file of the same name (answers \"File exists\" with Yes)");
  addCmd->footer(std::string(kWriteBack) +
                 "Examples:\n"
                 "  moravelt-cli add game.psu notes.txt\n"
                 "  moravelt-cli add --replace game.psu icon.sys");

  CLI::App* removeCmd = app.add_subcommand("remove", "Remove one file from a save");
  addEditCommon(removeCmd, false);
  removeCmd->add_option("NAME", edit.value, "The file to remove")->required();
  removeCmd->footer(std::string(kWriteBack) +
                    "Examples:\n"
                    "  moravelt-cli remove game.psu old.bin\n"
                    "  moravelt-cli remove game.psu old.bin -o smaller.psu");

  CLI::App* modeCmd = app.add_subcommand("set-mode", "Set the mode flags of the folder or a file");
  addEditCommon(modeCmd, true);
  modeCmd->add_option("MODE", edit.value, "Decimal, or hexadecimal with 0x")->required();
  modeCmd->footer(std::string(kWriteBack) +
                  "The File (0x0010) and Directory (0x0020) flags stay as they are.\n"
                  "Examples:\n"
                  "  moravelt-cli set-mode game.psu 0x842F\n"
                  "  moravelt-cli set-mode game.psu --file data.bin 0x8497");

  bool created = false, modified = false;
  CLI::App* timeCmd =
      app.add_subcommand("set-time", "Set the creation or modification time of the folder or a file");
  addEditCommon(timeCmd, true);
  CLI::Option* createdOpt = timeCmd->add_flag("--created", created, "Set the creation time");
  CLI::Option* modifiedOpt = timeCmd->add_flag("--modified", modified, "Set the modification time");
  createdOpt->excludes(modifiedOpt);
  timeCmd->add_option("TIME", edit.value, "\"DD-MM-YYYY HH:MM:SS\"")->required();
  timeCmd->footer(std::string(kWriteBack) +
                  "Examples:\n"
                  "  moravelt-cli set-time game.psu --modified \"05-03-2007 14:03:09\"\n"
                  "  moravelt-cli set-time game.psu --file icon.sys --created \"31-12-2006 23:59:59\"");

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e, out, err);
    return code == 0 ? kExitOk : kExitUsage;
  }

  try {
    if (infoCmd->parsed()) return RunInfo(info, console);
    if (convertCmd->parsed()) return RunConvert(convert, console);
    if (extractCmd->parsed()) {
      bool all = allOpt->count() > 0;
      bool bad = all ? !extract.name.empty() : (extract.name.empty() || extract.output.empty());
      if (bad) {
        console.Error("extract needs either NAME -o OUT or --all DIR\n"
                      "Run with --help for more information.");
        return kExitUsage;
      }
      return RunExtract(extract, console);
    }
    if (batchCmd->parsed()) {
      std::transform(batch.to.begin(), batch.to.end(), batch.to.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      return RunBatch(batch, console);
    }
    if (unpackCmd->parsed()) return RunUnpack(unpack, console);
    if (packCmd->parsed()) return RunPack(pack, console);
    if (renameCmd->parsed()) edit.kind = EditKind::kRename;
    else if (addCmd->parsed()) edit.kind = EditKind::kAdd;
    else if (removeCmd->parsed()) edit.kind = EditKind::kRemove;
    else if (modeCmd->parsed()) edit.kind = EditKind::kSetMode;
    else if (timeCmd->parsed()) edit.kind = EditKind::kSetTime;
    if (edit.kind == EditKind::kSetTime) {
      if (!created && !modified) {
        console.Error("set-time needs --created or --modified\nRun with --help for more information.");
        return kExitUsage;
      }
      edit.created = created;
    }
    for (CLI::App* cmd : {renameCmd, modeCmd, timeCmd})
      if (cmd->parsed() && cmd->count("--file") > 0) edit.file = editFile;
    return RunEdit(edit, console);
  } catch (const std::exception&) {
    console.Error("Unexpected error");
    return kExitFailed;
  }
}

int Main(const std::vector<std::string>& args) {
  return Run(args, std::cout, std::cerr, platform::StderrIsTerminal());
}

}  // namespace cli
