#include "cli/common.h"

#include <array>
#include <cstdio>
#include <system_error>

#include "card/card.h"
#include "card/card_messages.h"
#include "card/folder_card.h"
#include "formats/max/max.h"
#include "formats/messages.h"
#include "formats/psv/psv.h"
#include "formats/registry.h"
#include "formats/write_save.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/path.h"
#include "model/entry_time_text.h"

namespace cli {

void Console::Error(std::string_view text) {
  // Whatever a message holds, nothing in it reaches the terminal as a control sequence.
  const std::string shown = Printable(text, /*keepNewlines=*/true);
  std::lock_guard<std::mutex> guard(lock);
  err << shown << '\n';
  err.flush();
}

void Console::Note(std::string_view text) { Error(text); }

bool IsWarningOnlyQuestion(std::string_view text) { return text == psv::kSignatureQuestion; }

bool AnswerQuestion(const LoadQuestion& question, Console& console, bool yes, bool report) {
  if (IsWarningOnlyQuestion(question.text)) {
    if (report)
      console.Note("warning: the PS3 signature doesn't match the file's contents; it is read "
                   "anyway (a PS3 refuses the file as it is; written as .psv it is signed again)");
    return true;
  }
  if (report) console.Note(question.caption + ": " + question.text + (yes ? " -> Yes" : " -> No (--yes answers Yes)"));
  return yes;
}

LoadResult LoadAnswering(CSaveGame& save, const io::SourcePtr& source, Console& console, bool yes, bool report) {
  return LoadWithAnswers(save, source, [&](const LoadQuestion& q) { return AnswerQuestion(q, console, yes, report); });
}

std::string ContentHint(const card::Identified& what, const FormatFamily* tried) {
  if (const FormatFamily* seen = what.seenFamily) {
    if (seen == tried) return {};
    return "\nthis looks like " + std::string(seen->noun) + ": rename it to ." +
           std::string(seen->OwnExtension()) + " or pass --as " + std::string(seen->name);
  }
  if (!what.seenCard) return {};
  if (what.folder) return "\nthis looks like a PCSX2 folder card: see moravelt-cli card ls";
  return "\nthis looks like a memory card image: see moravelt-cli card ls";
}

namespace {

Opened OpenCardSave(const CardSaveName& name) {
  Opened opened;
  card::OpenedCard openedCard = card::OpenCard(name.card);
  if (!openedCard.card) {
    opened.error = DisplayText(card::messages::OpenFailure(openedCard));
    return opened;
  }
  card::OpenedSave onCard = openedCard.card->OpenSave(name.folder);
  if (onCard.result != card::OpenSaveResult::kOpened || !onCard.save) {
    opened.error = DisplayText(card::messages::OpenSaveMessage(onCard.result, name.folder));
    return opened;
  }
  opened.save = std::move(onCard.save);
  return opened;
}

}  // namespace

std::optional<CardSaveName> SplitCardSaveName(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view cardPart = text.substr(0, colon);
  const std::string_view folder = text.substr(colon + 1);
  const bool driveLetter = cardPart.size() == 1 && ((cardPart[0] >= 'A' && cardPart[0] <= 'Z') ||
                                                    (cardPart[0] >= 'a' && cardPart[0] <= 'z'));
  if (cardPart.empty() || driveLetter || folder.empty() || folder.size() > kNameChars ||
      folder.find_first_of("/\\") != std::string_view::npos)
    return std::nullopt;
  return CardSaveName{std::string(cardPart), std::string(folder)};
}

Opened OpenSave(const std::string& path, Console& console, const OpenOptions& how) {
  if (!io::Exists(path)) {
    std::optional<CardSaveName> onCard = SplitCardSaveName(path);
    if (onCard && io::Exists(onCard->card)) return OpenCardSave(*onCard);
  }
  return OpenSave(card::Identify(path), console, how);
}

const FormatFamily* FamilyToLoad(const card::Identified& what, const OpenOptions& how, std::string& error) {
  if (!how.as.empty()) {
    const FormatFamily* family = FamilyNamed(how.as);
    if (!family || !family->Can(kOpens))
      error = "No family " + Quoted(how.as) + " to open a file as: --as takes " + OpenableFamilyNames(", ", " or ");
    return error.empty() ? family : nullptr;
  }
  if (!what.family) error = std::string(messages::kUnknownFileType) + ContentHint(what, nullptr);
  return what.family;
}

Opened OpenSave(card::Identified what, Console& console, const OpenOptions& how) {
  Opened opened;
  const FormatFamily* family = FamilyToLoad(what, how, opened.error);
  if (!family) return opened;
  opened.save = family->create();
  const LoadResult result =
      what.source ? LoadAnswering(*opened.save, what.source, console, how.yes) : LoadResult::kOpenFailed;
  if (result != LoadResult::kOk) {
    opened.error = LoadFailure(*opened.save, result, what, family, !how.as.empty());
    opened.save.reset();
    return opened;
  }
  std::string_view ext = ExtensionOf(what.path);
  opened.save->extensionOffset = static_cast<int>(what.path.size() - ext.size());
  return opened;
}

std::string LoadFailure(const CSaveGame& save, LoadResult result, const card::Identified& what,
                        const FormatFamily* family, bool byAs) {
  const std::string message = DisplayText(messages::LoadFailureMessage(save, result));
  return byAs ? message : message + ContentHint(what, family);
}

std::unique_ptr<CSaveGame> OpenSaveOrReport(const std::string& path, Console& console, const OpenOptions& how) {
  Opened opened = OpenSave(path, console, how);
  if (!opened.save) console.Error(opened.error);
  return std::move(opened.save);
}

std::string WriteFailure(const SaveWrite& outcome) {
  if (outcome.ok()) return {};
  if (!outcome.refusal.empty()) return DisplayText(outcome.refusal);
  if (outcome.reloaded)
    return "The save was written, but reading it back failed: " +
           std::string(messages::LoadResultMessage(*outcome.reloaded));
  std::string message(messages::SaveResultMessage(outcome.written));
  std::string reason = io::LastFailureReason();
  if (!reason.empty() && outcome.written == LoadResult::kOpenFailed) message += ": " + reason;
  return message;
}

std::string WriteSave(CSaveGame& save, const std::string& target, Console& console) {
  const FormatFamily* family = TargetFamilyFor(ExtensionOf(target), save);
  if (!family) return std::string(messages::kUnknownFileType);
  const bool converted = family->kind != save.kind;
  std::string failure = WriteFailure(WriteSaveAs(save, *family, target));
  if (failure.empty()) NoteWriteCaveats(save, *family, target, console, converted);
  return failure;
}

void NoteWriteCaveats(const CSaveGame& save, const FormatFamily& family, const std::string& target,
                      Console& console, bool converted) {
  if (!save.entries || save.entries->empty()) return;
  const std::string_view name = io::FileNameOf(target);
  if (converted && family.conversionLoss) {
    std::string loss = family.conversionLoss(save);
    if (!loss.empty()) console.Note("warning: " + Quoted(name) + ": " + loss);
  }
  if (family.requiredName) {
    const std::string_view folder = save.entries->front().Name();
    const std::optional<std::string> wanted = family.requiredName(folder);
    if (!wanted)
      console.Note("warning: " + std::string(family.noun) + " of the folder " + Quoted(folder) +
                   " can't be named as its device requires");
    else if (name != *wanted)
      console.Note("warning: " + std::string(family.noun) + " is taken only as " + DisplayText(*wanted) + " (" +
                   std::string(family.requiredPlace) + "), not as " + Quoted(name));
  }
}

std::optional<int> FindFile(const CSaveGame& save, std::string_view name) {
  for (int i = 0; i < save.FileCount(); ++i) {
    const SaveEntry* e = save.EntryAt(i);
    if (e->Name() == name || e->FullName() == name) return i;
  }
  return std::nullopt;
}

std::string BytesToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string TimeText(const EntryTime& t) { return ListingForm(t); }

std::string Printable(std::string_view utf8, bool keepNewlines) {
  std::string out;
  out.reserve(utf8.size());
  auto escape = [&out](unsigned code) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[code >> 4];
    out += kHex[code & 0xF];
  };
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    // U+0080-U+009F, the C1 controls, are C2 80 to C2 9F in UTF-8.
    const bool c1 = c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
    if (c1)
      escape(static_cast<unsigned char>(utf8[++i]));
    else if ((c < 0x20 && !(keepNewlines && c == '\n')) || c == 0x7F)
      escape(c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

std::string ExactText(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : BytesToUtf8(bytes);
}

std::string DisplayText(std::string_view bytes) { return Printable(ExactText(bytes)); }

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted += DisplayText(text);
  quoted += '"';
  return quoted;
}

}  // namespace cli
