#include "card/kinds.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "card/folder_card.h"
#include "card/image_card.h"
#include "card/ps3_card.h"
#include "card/ps1/ps1_card.h"
#include "io/path.h"

namespace card {

namespace {

// A PS2 image of this layout: a card's superblock and size, or a file of a card's size
// with no superblock (unformatted, or damaged: opening it says which). A superblock whose
// card is not the file's size is a damaged raw image, whatever it was.
template <bool kEcc>
bool LooksLikeImage(std::span<const std::uint8_t> head, std::uint64_t size) {
  const ImageClass c = ClassifyImage(head, size);
  if (c.kind == ImageKind::kCard || c.kind == ImageKind::kUnformatted) return c.geometry.ecc == kEcc;
  const bool magic = head.size() >= sb::kMagic.size() && std::memcmp(head.data(), sb::kMagic.data(), sb::kMagic.size()) == 0;
  return !kEcc && magic;
}

template <Ps1FileKind kFile>
bool LooksLikePs1(std::span<const std::uint8_t> head, std::uint64_t size) {
  return Ps1KindOf(head, size) == kFile;
}

OpenedCard OpenImage(io::SourcePtr source, const std::string& path, CardReading reading) {
  return ImageCard::Open(std::move(source), path, reading);
}
OpenedCard OpenVm2(io::SourcePtr source, const std::string& path, CardReading reading) {
  return ImageCard::Open(std::move(source), path, reading, CardType::kPs3Vm2);
}
OpenedCard OpenVme(io::SourcePtr source, const std::string& path, CardReading reading) {
  return VmeCard::Open(std::move(source), path, reading);
}
// A .VME is known by its size: only decrypting it tells more (its open says when no key does).
bool LooksLikeVme(std::span<const std::uint8_t>, std::uint64_t size) { return IsVmeSize(size); }
OpenedCard OpenFolder(io::SourcePtr, const std::string& path, CardReading) { return FolderCard::Open(path); }
OpenedCard OpenPs1(io::SourcePtr source, const std::string& path, CardReading) {
  return Ps1Card::Open(std::move(source), path);
}

constexpr std::array kEccExtensions = {
    CardExtension{"ps2", "PCSX2 card image (with ECC)", "PCSX2"},
};
constexpr std::array kVm2Extensions = {CardExtension{"vm2", "PS3 card image (.VM2)", "a PS3"}};
constexpr std::array kVmeExtensions = {CardExtension{"vme", "PS2 Classics card (.VME, encrypted)", "a PS3"}};
constexpr std::array kRawExtensions = {
    CardExtension{"mc2", "MemCard PRO card image", "MemCard PRO 2"},
    CardExtension{"mcd", "SD2PSX card image", "sd2psx"},
    CardExtension{"bin", "PCSX2 raw card image", "PCSX2"},
    CardExtension{"vmc", "Open PS2 Loader virtual card", "Open PS2 Loader"},
};
constexpr std::array kPs1RawExtensions = {
    CardExtension{"mcd", "PS1 card (DuckStation, MemCard PRO, sd2psx)", "DuckStation, MemCard PRO and sd2psx"},
    CardExtension{"mcr", "PS1 card (ePSXe)", "ePSXe"},
    CardExtension{"srm", "PS1 card (RetroArch)", "RetroArch"},
    CardExtension{"bin", "PS1 card", ""},
    CardExtension{"mc", "PS1 card", ""},
    CardExtension{"vm1", "PS1 card (PS3)", "a PS3"},
    CardExtension{"vmc", "PS1 card (POPStarter)", "POPStarter"},
};
constexpr std::array kDexDriveExtensions = {CardExtension{"gme", "PS1 DexDrive card", "the DexDrive"}};
constexpr std::array kVgsExtensions = {CardExtension{"vgs", "PS1 VGS card", "VGS"},
                                       CardExtension{"mem", "PS1 VGS card", "VGS"}};
constexpr std::array kVmpExtensions = {CardExtension{"vmp", "PS1 PSP/Vita card", "a PSP or a Vita"}};
constexpr std::array kPocketStationExtensions = {
    CardExtension{"bin", "PS1 PocketStation card (131,232 bytes)", "a Vita"}};

// One row per kind.
const std::array kKinds = {
    CardKind{CardType::kImageWithEcc, {}, "image with ECC", "a PS2 card image with ECC", kEccExtensions, false, false,
             true, std::nullopt, &LooksLikeImage<true>, &OpenImage, "its pages with their ECC"},
    CardKind{CardType::kPs3Vm2, "vm2", "PS3 card (.VM2)", "a PS3 card (.VM2)", kVm2Extensions, false, false, true,
             std::nullopt, &LooksLikeImage<true>, &OpenVm2,
             "its pages with their ECC; one larger than 32 MB, which makes a PS3 loop at boot, is only read", true},
    CardKind{CardType::kRawImage, {}, "raw image", "a raw PS2 card image", kRawExtensions, false, false, false,
             std::nullopt, &LooksLikeImage<false>, &OpenImage, "its pages as they are"},
    CardKind{CardType::kPs3Vme, "vme", "PS2 Classics card (.VME)", "a PS2 Classics card (.VME)", kVmeExtensions, false,
             false, std::nullopt, std::nullopt, &LooksLikeVme, &OpenVme,
             "encrypted again with the key it was read with, every segment hashed afresh; one whose hashes fail "
             "opens read-only"},
    CardKind{CardType::kFolder, {}, "PCSX2 folder card", "a PCSX2 folder card", {}, false, true, std::nullopt,
             std::nullopt, nullptr, &OpenFolder, "one folder per save, as PCSX2 keeps it"},
    CardKind{CardType::kPs1Raw, "raw", "PS1 raw", "a raw PS1 card", kPs1RawExtensions, true, false, std::nullopt,
             Ps1FileKind::kRaw, &LooksLikePs1<Ps1FileKind::kRaw>, &OpenPs1, "as it is"},
    CardKind{CardType::kPs1DexDrive, "gme", "PS1 DexDrive", "a DexDrive card", kDexDriveExtensions, true, false,
             std::nullopt, Ps1FileKind::kDexDrive, &LooksLikePs1<Ps1FileKind::kDexDrive>, &OpenPs1,
             "its header and comments kept, its copies of the directory refreshed; a file cut short after its used "
             "blocks opens, the rest read as free"},
    CardKind{CardType::kPs1Vgs, "vgs", "PS1 VGS", "a VGS card", kVgsExtensions, true, false, std::nullopt,
             Ps1FileKind::kVgs, &LooksLikePs1<Ps1FileKind::kVgs>, &OpenPs1, "with its header"},
    CardKind{CardType::kPs1Vmp, "vmp", "PS1 PSP/Vita", "a PSP/Vita card", kVmpExtensions, true, false, std::nullopt,
             Ps1FileKind::kVmp, &LooksLikePs1<Ps1FileKind::kVmp>, &OpenPs1,
             "signed again; one whose signature fails opens read-only"},
    CardKind{CardType::kPs1PocketStation, "pocketstation", "PS1 PocketStation", "a PocketStation card",
             kPocketStationExtensions, true, false, std::nullopt, Ps1FileKind::kPocketStation,
             &LooksLikePs1<Ps1FileKind::kPocketStation>, &OpenPs1,
             "encrypted again with a fresh SHA-256; one whose hash fails opens read-only"},
};

std::string Joined(const std::vector<std::string>& parts, std::string_view separator, std::string_view last) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += (i + 1 == parts.size() && !last.empty()) ? last : separator;
    text += parts[i];
  }
  return text;
}

}  // namespace

bool CardKind::Has(std::string_view extension) const {
  for (const CardExtension& e : extensions)
    if (io::EqualsIgnoringCase(e.extension, extension)) return true;
  return false;
}

std::span<const CardKind> CardKinds() { return kKinds; }

const CardKind& KindOf(CardType type) {
  for (const CardKind& k : kKinds)
    if (k.type == type) return k;
  return kKinds.front();
}

bool IsPs1(CardType type) { return KindOf(type).ps1; }

const CardKind* CardKindByContent(std::span<const std::uint8_t> head, std::uint64_t size) {
  for (bool ps1 : {true, false})
    for (const CardKind& k : kKinds)
      if (k.ps1 == ps1 && !k.byName && k.sniff && k.sniff(head, size)) return &k;
  return nullptr;
}

const CardKind& CardKindForName(const CardKind& byContent, std::string_view extension) {
  for (const CardKind& k : kKinds)
    if (k.byName && k.sniff == byContent.sniff && k.Has(extension)) return k;
  return byContent;
}

std::optional<Ps1FileKind> Ps1KindNamed(std::string_view key) {
  for (const CardKind& k : kKinds)
    if (k.ps1File && io::EqualsIgnoringCase(k.key, key)) return k.ps1File;
  return std::nullopt;
}

std::string_view Ps1KindKey(Ps1FileKind kind) { return KindOfPs1File(kind).key; }

Ps1FileKind Ps1KindForExtension(std::string_view extension) {
  for (const CardKind& k : kKinds)
    if (k.ps1File && k.ps1File != Ps1FileKind::kPocketStation && k.Has(extension)) return *k.ps1File;
  return Ps1FileKind::kRaw;
}

std::vector<std::string_view> Ps1CardExtensions() {
  std::vector<std::string_view> all;
  for (const CardKind& k : kKinds)
    for (const CardExtension& e : k.extensions)
      if (k.ps1 && std::find(all.begin(), all.end(), e.extension) == all.end()) all.push_back(e.extension);
  return all;
}

const CardKind& KindOfPs1File(Ps1FileKind file) {
  for (const CardKind& k : kKinds)
    if (k.ps1File == file) return k;
  return kKinds.front();
}

std::optional<bool> EccForExtension(std::string_view path) {
  const std::string_view ext = io::ExtensionOf(path);
  for (const CardKind& k : kKinds)
    if (k.ecc && k.Has(ext)) return k.ecc;
  return std::nullopt;
}

std::string CardExtensions(bool ps1, std::optional<bool> ecc, std::string_view separator, std::string_view last) {
  std::vector<std::string> parts;
  for (const CardKind& k : kKinds) {
    if (k.ps1 != ps1 || (ecc && k.ecc != ecc)) continue;
    for (const CardExtension& e : k.extensions) {
      std::string dotted = "." + std::string(e.extension);
      bool seen = false;
      for (const std::string& p : parts) seen = seen || p == dotted;
      if (!seen) parts.push_back(std::move(dotted));
    }
  }
  return Joined(parts, separator, last);
}

std::string Ps1KindNames(std::string_view separator, std::string_view last) {
  std::vector<std::string> parts;
  for (const CardKind& k : kKinds)
    if (k.ps1 && !k.key.empty()) parts.emplace_back(k.key);
  return Joined(parts, separator, last);
}

}  // namespace card
