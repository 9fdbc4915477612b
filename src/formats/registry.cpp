#include "formats/registry.h"

#include <algorithm>
#include <array>

#include "formats/cbs/cbs.h"
#include "formats/max/max.h"
#include "formats/ps1/ps1_save.h"
#include "formats/mcs/mcs.h"
#include "formats/ps1raw/ps1raw.h"
#include "formats/psu/psu.h"
#include "formats/psv/psv.h"
#include "formats/psx/psx.h"
#include "formats/xps/xps.h"
#include "io/file.h"

namespace {

template <class T>
std::unique_ptr<CSaveGame> Make() {
  return std::make_unique<T>();
}

constexpr std::array kPsuExtensions = {FamilyExtension{"psu", "Memory Linker", 2, true}};
constexpr std::array kXpsExtensions = {FamilyExtension{"xps", "Xport-2", 1, true},
                                       FamilyExtension{"sps", "Shark Port 2", 5, false}};
constexpr std::array kMaxExtensions = {FamilyExtension{"max", "ARMAX V3", 3, true},
                                       FamilyExtension{"pws", "ARMAX PowerSave", 4, true}};
constexpr std::array kCbsExtensions = {FamilyExtension{"cbs", "CodeBreaker", 6, true}};
constexpr std::array kPsvExtensions = {FamilyExtension{"psv", "PS3 export", 7, true}};
constexpr std::array kMcsExtensions = {FamilyExtension{"mcs", "PS1 PSXGameEdit", 8, true},
                                       FamilyExtension{"ps1", "PS1 Memory Juggler", 9, true}};
constexpr std::array kPsxExtensions = {FamilyExtension{"psx", "PS1 Action Replay", 10, true},
                                       FamilyExtension{"mcb", "PS1 GameShark", 11, true},
                                       FamilyExtension{"pda", "PS1 Xploder", 12, true},
                                       FamilyExtension{"mcx", "PS1 Datel", 13, true}};
constexpr std::array kPs1RawExtensions = {FamilyExtension{"", "PS1 raw save", 14, true}};
constexpr unsigned kPs1Family = kOpens | kWritesConversions | kSavesInPlace | kHoldsPs1 | kOnlyPs1;

// One row per family.
const std::array kFamilies = {
    FormatFamily{"psu", "a Memory Linker save", kKindPsu,
                 kOpens | kWritesConversions | kSavesInPlace, kPsuExtensions, &LooksLikePsu,
                 &Make<CPsu>},
    FormatFamily{"xps", "an X-Port or SharkPort save", kKindXps,
                 kOpens | kWritesConversions | kSavesInPlace, kXpsExtensions, &LooksLikeXps,
                 &Make<CXps>},
    FormatFamily{"max", "an ARMAX save", kKindMax, kOpens | kWritesConversions | kSavesInPlace,
                 kMaxExtensions, &LooksLikeMax, &Make<CMax>, nullptr, {}, &ArmaxConversionLoss},
    FormatFamily{"cbs", "a CodeBreaker save", kKindCbs, kOpens | kWritesConversions | kSavesInPlace,
                 kCbsExtensions, &LooksLikeCbs, &Make<CCbs>},
    FormatFamily{"psv", "a PS3 export", kKindPsv, kOpens | kWritesConversions | kSavesInPlace | kHoldsPs1,
                 kPsvExtensions, &LooksLikePsv, &Make<CPsv>, &psv::ExportFileName,
                 "in PS3/EXPORT/PSV on a USB drive"},
    FormatFamily{"mcs", "a PS1 single save (.mcs)", kKindMcs, kPs1Family, kMcsExtensions,
                 &LooksLikeMcs, &Make<CMcs>},
    FormatFamily{"psx", "a PS1 cheat-device save", kKindPsx, kPs1Family, kPsxExtensions,
                 &LooksLikePsx, &Make<CPsx>},
    FormatFamily{"raw", "a raw PS1 save", kKindPs1Raw, kPs1Family | kNoExtension, kPs1RawExtensions,
                 &LooksLikePs1Raw, &Make<CPs1Raw>, &ps1raw::FileName,
                 "the file name is the save's card file name"},
};

// Every extension of the table, in the dialogs' order.
std::vector<const FamilyExtension*> ListedExtensions() {
  std::vector<const FamilyExtension*> all;
  for (const FormatFamily& f : kFamilies)
    for (const FamilyExtension& e : f.extensions) all.push_back(&e);
  std::sort(all.begin(), all.end(),
            [](const FamilyExtension* a, const FamilyExtension* b) { return a->listed < b->listed; });
  return all;
}

std::string Joined(const std::vector<std::string>& parts, std::string_view separator,
                   std::string_view last = {}) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += (i + 1 == parts.size() && !last.empty()) ? last : separator;
    text += parts[i];
  }
  return text;
}

// "." then the extension, or "*." then it.
std::string Dotted(std::string_view prefix, std::string_view extension) {
  return std::string(prefix) + std::string(extension);
}

DialogFilter FilterFor(const FamilyExtension& e) {
  std::string pattern = Dotted("*.", e.extension);
  return {std::string(e.filterName) + " (" + pattern + ")", pattern};
}

}  // namespace

std::span<const FormatFamily> Families() { return kFamilies; }

const FormatFamily* FamilyForExtension(std::string_view extension) {
  for (const FormatFamily& f : kFamilies)
    for (const FamilyExtension& e : f.extensions)
      if (f.Can(kOpens) && io::EqualsIgnoringCase(e.extension, extension)) return &f;
  return nullptr;
}

const FormatFamily* TargetFamilyForExtension(std::string_view extension) {
  for (const FormatFamily& f : kFamilies)
    for (const FamilyExtension& e : f.extensions)
      if (e.target && f.Can(kWritesConversions) && io::EqualsIgnoringCase(e.extension, extension))
        return &f;
  return nullptr;
}

const FormatFamily* FamilyNamed(std::string_view name) {
  for (const FormatFamily& f : kFamilies)
    if (io::EqualsIgnoringCase(f.name, name)) return &f;
  return nullptr;
}

const FormatFamily* FamilyOfKind(int kind) {
  for (const FormatFamily& f : kFamilies)
    if (f.kind == kind) return &f;
  return nullptr;
}

const FormatFamily* FamilyByContent(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  for (const FormatFamily& f : kFamilies)
    if (f.Can(kOpens) && f.sniff(head, fileSize)) return &f;
  return nullptr;
}

const FormatFamily* FamilyOfFile(const std::string& path) {
  io::File file = io::File::OpenRead(path);
  if (!file) return nullptr;
  std::optional<std::uint64_t> length = file.Length();
  if (!length) return nullptr;
  std::array<std::uint8_t, kSniffBytes> head{};
  std::size_t n = file.Read(head.data(), head.size());
  return FamilyByContent(std::span<const std::uint8_t>(head.data(), n), *length);
}

std::vector<DialogFilter> OpenDialogFilters() {
  std::vector<const FamilyExtension*> listed = ListedExtensions();
  std::vector<std::string> patterns;
  for (const FamilyExtension* e : listed) patterns.push_back(Dotted("*.", e->extension));
  std::vector<DialogFilter> filters = {{"All supported", Joined(patterns, ";")}};
  for (const FamilyExtension* e : listed) filters.push_back(FilterFor(*e));
  return filters;
}

const FormatFamily* FamilyToOpen(const std::string& path) {
  if (const FormatFamily* f = FamilyForExtension(io::ExtensionOf(path))) return f;
  const FormatFamily* seen = FamilyOfFile(path);
  return seen && seen->Can(kNoExtension) ? seen : nullptr;
}

PlayStation PlayStationOf(const CSaveGame& save) { return ps1::IsPs1(save) ? PlayStation::kPs1 : PlayStation::kPs2; }

bool Holds(const FormatFamily& family, PlayStation console) {
  switch (console) {
    case PlayStation::kPs1: return family.HoldsPs1();
    case PlayStation::kPs2: return family.HoldsPs2();
    case PlayStation::kEither: break;
  }
  return true;
}

const FormatFamily* TargetFamilyFor(std::string_view extension, const CSaveGame& save) {
  const FormatFamily* f = TargetFamilyForExtension(extension);
  if (f && f->Can(kNoExtension) && !Holds(*f, PlayStationOf(save))) return nullptr;
  return f;
}

std::vector<DialogFilter> SaveDialogFilters(PlayStation console) {
  std::vector<DialogFilter> filters;
  for (const FamilyExtension* e : ListedExtensions()) {
    const FormatFamily* f = TargetFamilyForExtension(e->extension);
    if (f && !e->extension.empty() && Holds(*f, console)) filters.push_back(FilterFor(*e));
  }
  return filters;
}

std::string ReadableExtensions(std::string_view separator, std::string_view last) {
  std::vector<std::string> parts;
  for (const FamilyExtension* e : ListedExtensions())
    if (!e->extension.empty() && FamilyForExtension(e->extension)) parts.push_back(Dotted(".", e->extension));
  return Joined(parts, separator, last);
}

std::string TargetExtensions(std::string_view separator, std::string_view last, PlayStation console) {
  std::vector<std::string> parts;
  for (const FormatFamily& f : kFamilies)
    for (const FamilyExtension& e : f.extensions)
      if (!e.extension.empty() && TargetFamilyForExtension(e.extension) == &f && Holds(f, console))
        parts.push_back(Dotted(".", e.extension));
  return Joined(parts, separator, last);
}

std::string TargetFamilyNames(std::string_view separator, std::string_view last, PlayStation console) {
  std::vector<std::string> parts;
  for (const FormatFamily& f : kFamilies)
    if (f.Can(kWritesConversions) && Holds(f, console)) parts.emplace_back(f.name);
  return Joined(parts, separator, last);
}

std::string OpenableFamilyNames(std::string_view separator, std::string_view last) {
  std::vector<std::string> parts;
  for (const FormatFamily& f : kFamilies)
    if (f.Can(kOpens)) parts.emplace_back(f.name);
  return Joined(parts, separator, last);
}

std::string OutputName(const FormatFamily& family, const CSaveGame& save, std::string_view stem) {
  if (family.requiredName && save.entries && !save.entries->empty())
    if (std::optional<std::string> name = family.requiredName(save.entries->front().Name()))
      return *name;
  if (family.OwnExtension().empty()) return std::string(stem);
  return Dotted(std::string(stem) + ".", family.OwnExtension());
}

std::unique_ptr<CSaveGame> CreateForExtension(std::string_view extension) {
  const FormatFamily* f = FamilyForExtension(extension);
  return f ? f->create() : nullptr;
}

int TargetKindForExtension(std::string_view extension) {
  const FormatFamily* f = TargetFamilyForExtension(extension);
  return f ? f->kind : 0;
}

std::unique_ptr<CSaveGame> CreateForKind(int kind) {
  const FormatFamily* f = FamilyOfKind(kind);
  return f && f->Can(kWritesConversions) ? f->create() : nullptr;
}

std::string_view KindName(int kind) {
  if (kind == kKindGeneric) return "generic";
  const FormatFamily* f = FamilyOfKind(kind);
  return f ? f->name : "unknown";
}
