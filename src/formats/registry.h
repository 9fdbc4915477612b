// Which container class opens a file, and which kind a target file name asks for.
// Extensions compare in any letter case; the extension is the text after the last dot
// of the file name (none when the name has no dot).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "model/save_game.h"

struct FormatInfo {
  std::string_view extension;  // lower case, without the dot
  int kind;                    // the kind of the class that opens it
  std::string_view description;
};

// The extension of a path's file name, without the dot; empty when it has none.
std::string_view ExtensionOf(std::string_view path);

// A new, empty object of the class that reads files with this extension; nullptr for an
// extension no class reads.
std::unique_ptr<CSaveGame> CreateForExtension(std::string_view extension);

// The kind a file with this extension is written as: 1 for "psu", 2 for "xps", 0 otherwise.
int TargetKindForExtension(std::string_view extension);

// A new, empty object of a writable kind (1 or 2); nullptr for any other kind.
std::unique_ptr<CSaveGame> CreateForKind(int kind);

// Every extension that opens, in the order the open dialog lists them.
std::span<const FormatInfo> ReadableFormats();

// The short name of a kind: "psu", "xps", "generic", "max".
std::string_view KindName(int kind);
