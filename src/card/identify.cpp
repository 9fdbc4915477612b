#include "card/identify.h"

#include <array>

#include "card/folder_card.h"
#include "card/kinds.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/path.h"

namespace card {

namespace {

// What the first bytes and the size look like, and so what the file is.
void Judge(Identified& what, std::string_view name) {
  const io::ByteSource& source = *what.source;
  std::array<std::uint8_t, std::max(kSniffBytes, kCardSniffBytes)> head{};
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(head.size(), source.size()));
  if (!source.ReadAt(0, std::span(head.data(), n))) {
    what.unknown = Unknown::kCantOpen;
    return;
  }
  const std::span<const std::uint8_t> bytes(head.data(), n);
  what.seenFamily = FamilyByContent(bytes.first(std::min(n, kSniffBytes)), source.size());
  what.seenCard = what.seenFamily ? nullptr : CardKindByContent(bytes.first(std::min(n, kCardSniffBytes)), source.size());
  const FormatFamily* named = FamilyForExtension(io::ExtensionOf(name));
  if (named && !named->Can(kNoExtension)) {
    what.family = named;
  } else if (what.seenFamily && what.seenFamily->Can(kNoExtension)) {
    // A raw PS1 save's name is its card file name, which may hold a dot.
    what.family = what.seenFamily;
  } else if (what.seenCard) {
    what.card = &CardKindForName(*what.seenCard, io::ExtensionOf(name));
  } else if (named) {
    // A name without an extension is a raw PS1 save's: loading it says why it is none.
    what.family = named;
  } else {
    what.unknown = what.seenFamily ? Unknown::kMisnamed : Unknown::kNoKind;
  }
}

}  // namespace

Identified Identify(const std::string& path, io::Access access) {
  Identified what;
  what.path = path;
  if (io::IsFolder(path)) {
    what.folder = true;
    if (io::Exists(io::JoinPath(path, kFolderSuperblock))) {
      what.card = what.seenCard = &KindOf(CardType::kFolder);
    } else {
      // What its name says it is, for the message of the failure to open it as a file.
      what.family = FamilyForExtension(io::ExtensionOf(path));
      what.unknown = Unknown::kFolder;
    }
    return what;
  }
  what.source = io::OpenSource(path, access);
  if (!what.source) {
    // What its name says it is, for the message of the failure to open it.
    what.family = FamilyForExtension(io::ExtensionOf(path));
    what.unknown = Unknown::kCantOpen;
    return what;
  }
  Judge(what, path);
  return what;
}

Identified Identify(io::SourcePtr source) {
  Identified what;
  what.source = std::move(source);
  if (!what.source) {
    what.unknown = Unknown::kCantOpen;
    return what;
  }
  what.path = what.source->path();
  Judge(what, what.source->name());
  return what;
}

}  // namespace card
