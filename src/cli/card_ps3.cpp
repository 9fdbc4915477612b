// What the card commands do differently for the PS3's cards: card format and card convert
// to and from a .VM2 or a .VME, with the sizes a PS3 takes and the key of a new .VME.
#include "card/card_messages.h"
#include "card/kinds.h"
#include "card/ps3_card.h"
#include "cli/card_command.h"
#include "io/file.h"
#include "io/output_file.h"
#include "io/path.h"

namespace cli {

namespace {

// The key --key names; none after the usage error has been reported.
std::optional<card::VmeKey> KeyNamed(const std::string& key, Console& console) {
  if (key.empty()) return card::VmeKey::kRetail;
  if (std::optional<card::VmeKey> named = card::VmeKeyNamed(key)) return named;
  console.Error("--key is retail or debug, not " + Quoted(key));
  return std::nullopt;
}

// "PS2 Classics card (.VME), retail key", "PS3 card (.VM2)".
std::string Ps3KindText(card::CardType kind, card::VmeKey key) {
  std::string text(card::KindOf(kind).name);
  if (kind == card::CardType::kPs3Vme) text += ", " + std::string(card::VmeKeyName(key)) + " key";
  return text;
}

}  // namespace

std::optional<card::CardType> Ps3KindFor(const std::string& as, const std::string& path) {
  for (card::CardType kind : {card::CardType::kPs3Vm2, card::CardType::kPs3Vme}) {
    const card::CardKind& k = card::KindOf(kind);
    if (as.empty() ? k.Has(io::ExtensionOf(path)) : io::EqualsIgnoringCase(as, k.key)) return kind;
  }
  return std::nullopt;
}

int FormatPs3(const std::string& path, card::CardType kind, unsigned megabytes, bool force, const std::string& key,
              Console& console) {
  const std::optional<card::VmeKey> chosen = KeyNamed(key, console);
  if (!chosen) return kExitUsage;
  if (!key.empty() && kind != card::CardType::kPs3Vme) {
    console.Error("--key names the key of a new .VME");
    return kExitUsage;
  }
  if (const std::string why = card::Ps3SizeRefusal(kind, megabytes); !why.empty()) {
    console.Error("Not formatted: " + why);
    return kExitFailed;
  }
  card::FormatOptions options;
  options.megabytes = megabytes;
  options.overwrite = force;
  const card::FormatResult result = card::FormatPs3Card(path, kind, options, *chosen);
  const std::string message(card::messages::FormatMessage(result));
  if (result != card::FormatResult::kFormatted) {
    console.Error(message + (result == card::FormatResult::kTargetExists ? " (--force formats over a file)" : ""));
    return kExitFailed;
  }
  console.out << message << ": " << DisplayText(path) << " (" << Ps3KindText(kind, *chosen) << ")\n";
  const std::string warning = card::messages::SizeWarning(megabytes);
  if (!warning.empty()) console.Note("warning: " + warning);
  return kExitOk;
}

int ConvertPs3(const card::Identified& source, const Ps3ConvertRequest& r, Console& console) {
  const std::optional<card::CardType> toPs3 = Ps3KindFor({}, r.target);
  card::CardConversion how;
  how.force = r.force;
  if (toPs3) {
    if (r.raw) {
      console.Error(std::string(card::KindOf(*toPs3).noun) + " has ECC: --raw can't make one");
      return kExitUsage;
    }
    how.to = *toPs3;
  } else {
    const std::optional<bool> ecc = r.raw ? false : r.ecc ? std::optional<bool>(true) : card::EccForExtension(r.target);
    if (!ecc) {
      console.Error("Name the kind: OUT ending in " + card::CardExtensions(false, std::nullopt, ", ", " or ") +
                    ", or --ecc or --raw");
      return kExitUsage;
    }
    how.to = *ecc ? card::CardType::kImageWithEcc : card::CardType::kRawImage;
  }
  const std::optional<card::VmeKey> key = KeyNamed(r.key, console);
  if (!key) return kExitUsage;
  if (!r.key.empty() && how.to != card::CardType::kPs3Vme) {
    console.Error("--key names the key of a new .VME: OUT ends in .vme");
    return kExitUsage;
  }
  how.key = *key;
  const std::string kind = how.to == card::CardType::kImageWithEcc ? "with ECC"
                           : how.to == card::CardType::kRawImage   ? "raw"
                                                                   : Ps3KindText(how.to, how.key);
  const card::CardType from = source.card ? source.card->type : card::CardType::kRawImage;
  const int code = WriteConvertedCard(source, r.source, r.target, r.force, kind,
                                      [&](io::OutputFile& out, std::string* detail) {
                                        return card::ConvertCardFile(source.source, from, out, how, detail);
                                      },
                                      console);
  if (code != kExitOk) return code;
  if (how.to == card::CardType::kPs3Vm2) {
    const std::optional<io::FileStamp> made = io::StampOf(r.target);
    const std::string warning = card::messages::SizeWarning(made ? card::EccImageMegabytes(made->size) : 0);
    if (made && !warning.empty()) console.Note("warning: " + warning);
  }
  return kExitOk;
}

}  // namespace cli
