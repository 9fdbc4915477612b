#include "cli/common.h"

#include <cstdio>

#include "formats/max/max.h"
#include "formats/messages.h"
#include "formats/psv/psv.h"
#include "formats/registry.h"
#include "formats/write_save.h"
#include "io/file.h"
#include "io/path.h"

namespace cli {

void Console::Error(std::string_view text) {
  std::lock_guard<std::mutex> guard(lock);
  err << text << '\n';
  err.flush();
}

void Console::Note(std::string_view text) { Error(text); }

QuestionHandler MakeQuestionHandler(Console& console, bool yes) {
  return [&console, yes](const std::string& text, const std::string& caption) {
    if (text == psv::kSignatureQuestion) {
      console.Note("warning: the PS3 signature doesn't match the file's contents; it is read "
                   "anyway (a PS3 refuses the file as it is; written as .psv it is signed again)");
      return true;
    }
    console.Note(caption + ": " + text + (yes ? " -> Yes" : " -> No (--yes answers Yes)"));
    return yes;
  };
}

namespace {

// The second line of a failed open when the contents look like a family other than the
// one tried: what the file seems to be, and how to open it as that.
std::string ContentHint(const std::string& path, const FormatFamily* tried) {
  const FormatFamily* seen = FamilyOfFile(path);
  if (!seen || seen == tried) return {};
  return "\nthis looks like " + std::string(seen->noun) + ": rename it to ." +
         std::string(seen->OwnExtension()) + " or pass --as " + std::string(seen->name);
}

}  // namespace

Opened OpenSave(const std::string& path, Console& console, const OpenOptions& how) {
  Opened opened;
  const FormatFamily* family = nullptr;
  if (!how.as.empty()) {
    family = FamilyNamed(how.as);
    if (!family || !family->Can(kOpens)) {
      opened.error = "No family " + Quoted(how.as) + " to open a file as: --as takes " +
                     OpenableFamilyNames(", ", " or ");
      return opened;
    }
  } else {
    family = FamilyForExtension(ExtensionOf(path));
  }
  if (!family) {
    opened.error = std::string(messages::kUnknownFileType) + ContentHint(path, nullptr);
    return opened;
  }
  opened.save = family->create();
  opened.save->SetQuestionHandler(MakeQuestionHandler(console, how.yes));
  LoadResult result = opened.save->Load(path);
  if (result != LoadResult::kOk) {
    opened.error = messages::LoadFailureMessage(*opened.save, result);
    if (how.as.empty()) opened.error += ContentHint(path, family);
    opened.save.reset();
    return opened;
  }
  std::string_view ext = ExtensionOf(path);
  opened.save->extensionOffset = static_cast<int>(path.size() - ext.size());
  return opened;
}

std::string WriteFailure(const SaveWrite& outcome) {
  if (outcome.ok()) return {};
  if (!outcome.refusal.empty()) return outcome.refusal;
  if (outcome.reloaded)
    return "The save was written, but reading it back failed: " +
           std::string(messages::LoadResultMessage(*outcome.reloaded));
  std::string message(messages::SaveResultMessage(outcome.written));
  std::string reason = io::LastFailureReason();
  if (!reason.empty() && outcome.written == LoadResult::kOpenFailed) message += ": " + reason;
  return message;
}

std::string WriteSave(CSaveGame& save, const std::string& target, Console& console) {
  const FormatFamily* family = TargetFamilyForExtension(ExtensionOf(target));
  if (!family) return std::string(messages::kUnknownFileType);
  const bool converted = family->kind != save.kind;
  std::string failure = WriteFailure(WriteSaveAs(save, *family, target));
  if (failure.empty()) NoteWriteCaveats(save, *family, target, console, converted);
  return failure;
}

void NoteWriteCaveats(const CSaveGame& save, const FormatFamily& family, const std::string& target,
                      Console& console, bool converted) {
  if (!save.entries || save.entries->empty()) return;
  if (family.kind == kKindMax && converted && ArmaxDropsModesOrTimes(save))
    console.Note("warning: an ARMAX save keeps no modes and no times: " + Quoted(io::FileNameOf(target)) +
                 " gives its folder 0x8427, its files 0x8497, and all of them the time they are "
                 "restored");
  if (family.kind == kKindPsv) {
    const std::string_view folder = save.entries->front().Name();
    const std::optional<std::string> wanted = psv::ExportFileName(folder);
    if (!wanted)
      console.Note("warning: a PS3 takes no export of the folder " + Quoted(folder) +
                   ": its name can't be a file name on the USB drive");
    else if (io::FileNameOf(target) != *wanted)
      console.Note("warning: a PS3 takes this export only as " + *wanted +
                   " (in PS3/EXPORT/PSV on a USB drive), not as " + Quoted(io::FileNameOf(target)));
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

std::string TimeText(const EntryTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{t.year},
                unsigned{t.month}, unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute},
                unsigned{t.second});
  return text;
}

bool IsValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    std::size_t extra;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      unsigned char d = static_cast<unsigned char>(bytes[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += extra + 1;
  }
  return true;
}

std::string DisplayText(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : BytesToUtf8(bytes);
}

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted += DisplayText(text);
  quoted += '"';
  return quoted;
}

}  // namespace cli
