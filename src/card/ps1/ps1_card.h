// A PlayStation 1 card kept in a file of any of its kinds (ps1_card_file.h), behind the
// card interface. A save on it opens as a PS1 save object whose blocks read through
// extents of the file (from memory for an encrypted PocketStation file).
//
// Every change is made to the card in memory, checked (Ps1Image keeps it only when it
// reads back with no finding the card lacked) and then written whole as a file of the
// same kind -- a .gme with its header and comments and its copies of the directory
// refreshed, a .vmp signed again, a PocketStation file hashed and encrypted again. What
// was written is read back as a card file of that kind before it takes the old file's
// place (a temporary file and a rename); a card in memory becomes the new bytes. Before
// each change the file is read again when another program has changed it.
//
// A card whose signature or hash does not verify, or a DexDrive file that ends before the
// blocks of one of its saves, is only read: card convert writes it as another file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "card/card.h"
#include "card/ps1/ps1_card_file.h"
#include "card/ps1/ps1_image.h"

namespace card {

class Ps1Card final : public Card {
 public:
  // The card file's bytes, found at `path` (empty for bytes in memory).
  static OpenedCard Open(io::SourcePtr file, std::string path);

  CardType type() const override;
  bool Damaged() const override;
  Listing List() const override;
  // None: a PS1 save is one piece, and a damaged one's title and icon are in its SaveInfo.
  std::unique_ptr<CCardSave> ReadableParts(std::string_view folder) const override;
  // Takes a save of any PS1 family (a PS2 save is refused, kInvalidSave).
  ImportOutcome Import(const CSaveGame& save, const ImportOptions& options) override;
  RemoveResult Remove(std::string_view folder) override;
  RestoreResult Restore(std::string_view folder) override;
  std::vector<Issue> Check() const override;
  // Sets wrong check bytes and the states of whole chains' middle and last blocks.
  RepairOutcome Repair() override;

  Ps1FileKind kind() const { return file_.kind; }
  const Ps1Image& image() const { return *image_; }

 private:
  Ps1Card(io::SourcePtr file, std::string path) : Card(std::move(file), std::move(path)) {}
  bool Rescan() override;
  SaveFound FindForOpen(std::string_view folder) const override;
  std::unique_ptr<CSaveGame> SaveObject(std::string_view folder) const override;
  // Writes the changed card as a file of this card's kind, read back before it is put in
  // place: refused (refusal_ says why) when it reads back otherwise or with damage the card
  // has not.
  WriteResult Write(const Ps1Image& changed);
  // The save as a save object reading from this card's file.
  std::unique_ptr<CSaveGame> MakeSave(const Ps1SaveState& state) const;

  Ps1CardFile file_;
  std::optional<Ps1Image> image_;
  bool read_ = false;  // file_ has been read once
};

// A new, empty card of `kind` at path (nothing is written over an existing file unless
// `overwrite`), or to a sink.
FormatResult FormatPs1Card(const std::string& path, Ps1FileKind kind, bool overwrite);
FormatResult FormatPs1Card(io::ByteSink& out, Ps1FileKind kind);

// Writes the PS1 card at `source` as a file of `kind` at `target` (which may be `source`).
// kNotAnImage when `source` is no PS1 card file; kAlreadyThatLayout when it is that very
// file, already of that kind and verified.
ConvertResult ConvertPs1Card(const std::string& source, const std::string& target, Ps1FileKind kind);
// The same from a card file's bytes to a sink (committed when converted).
ConvertResult ConvertPs1Card(const io::ByteSource& source, io::ByteSink& out, Ps1FileKind kind);

// The kind of card file a PS1 card type stands for, and back.
Ps1FileKind Ps1FileKindOf(CardType type);
CardType Ps1CardType(Ps1FileKind kind);

}  // namespace card
