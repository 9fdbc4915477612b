// What a file is, from the two tables: a save of a family (formats/registry.h), a card of a
// kind (card/kinds.h), or neither, with the reason. Every front end asks here; the file is
// opened once, and the open byte source is handed on to whatever works on it next.
//
// The extension names a save's family, as it does on every device and in every file
// dialog; a file whose extension names none is a save of a family without an extension
// (a raw PS1 save) or a card, by its contents. A file whose contents are another family's
// than its extension names is that family's all the same (its load then fails, and the
// contents say what it seems to be).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "io/byte_source.h"

namespace card {

struct CardKind;

// Why a file is neither a save nor a card.
enum class Unknown {
  kNone,       // it is known
  kCantOpen,   // it can't be opened (or doesn't exist)
  kFolder,     // a folder that is no PCSX2 folder card
  kNoKind,     // its name names no family and its contents are no family's or card's
  kMisnamed,   // its contents are a family's whose extension it lacks (seenFamily)
};

struct Identified {
  std::string path;     // as named; empty for bytes in memory
  io::SourcePtr source;  // the file, open (null for a folder, or a file that can't be opened)
  bool folder = false;   // the path names a folder
  // What it is: a save of this family, or a card of this kind; neither when it is neither.
  const FormatFamily* family = nullptr;
  const CardKind* card = nullptr;
  // What its contents look like, whatever its name says: a family, or a card kind.
  const FormatFamily* seenFamily = nullptr;
  const CardKind* seenCard = nullptr;
  Unknown unknown = Unknown::kNone;

  bool Known() const { return family || card; }
};

// What the file or folder at `path` is, opening it once; the file is read as `access`
// says (a card about to be opened: scattered, so that nothing is read ahead).
Identified Identify(const std::string& path, io::Access access = io::Access::kInOrder);
// What bytes are, by their name's extension and their contents.
Identified Identify(io::SourcePtr source);

}  // namespace card
