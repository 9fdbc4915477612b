// One function per command; cli.cpp parses the command line into these options.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/common.h"

namespace cli {

struct InfoOptions {
  std::string file;
  bool json = false;
  bool yes = false;
};
int RunInfo(const InfoOptions& o, Console& console);

struct ConvertOptions {
  std::string source;
  std::string target;
  bool yes = false;
};
int RunConvert(const ConvertOptions& o, Console& console);

struct ExtractOptions {
  std::string source;
  std::string name;    // one file ...
  std::string output;  // ... written here
  std::string allDir;  // or every file into this folder
  bool yes = false;
};
int RunExtract(const ExtractOptions& o, Console& console);

struct BatchOptions {
  std::string to;  // "psu" or "xps"
  std::string outDir;
  unsigned jobs = 0;  // 0: twice the hardware threads, at least 8
  bool force = false;
  bool yes = false;
  bool json = false;
  std::vector<std::string> inputs;
};
int RunBatch(const BatchOptions& o, Console& console);

struct UnpackOptions {
  std::string source;
  std::string dir;
  bool force = false;
  bool yes = false;
};
int RunUnpack(const UnpackOptions& o, Console& console);

struct PackOptions {
  std::string dir;
  std::string target;
  std::string name;  // the folder name; DIR's own name when empty
};
int RunPack(const PackOptions& o, Console& console);

enum class EditKind { kRename, kAdd, kRemove, kSetMode, kSetTime };

struct EditOptions {
  EditKind kind = EditKind::kRename;
  std::string source;
  std::string output;                // -o: write here instead of over the source
  std::optional<std::string> file;   // --file: the file to change; the folder when absent
  std::string value;                 // new name, file name to remove, mode, or time
  std::vector<std::string> pcFiles;  // add
  bool replace = false;              // add: replace files of the same name
  bool created = false;              // set-time: --created (else --modified)
  bool yes = false;
};
int RunEdit(const EditOptions& o, Console& console);

}  // namespace cli
