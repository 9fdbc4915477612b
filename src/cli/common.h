// What the commands share: the streams, opening a save by its extension, finding an entry
// by name, writing a save back, and the text forms of names and times.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "card/identify.h"
#include "formats/registry.h"
#include "formats/write_save.h"
#include "io/text.h"
#include "model/save_game.h"

namespace cli {

// The two streams of one run. Lines written through Note/Error are whole lines even when
// several threads report at once.
struct Console {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  std::mutex lock;

  void Error(std::string_view text);  // "text\n" on err
  void Note(std::string_view text);   // "text\n" on err
};

// A loader's question that the command line answers Yes with a warning instead of asking:
// a PS3 signature that doesn't match (the file is signed again whenever it is written).
bool IsWarningOnlyQuestion(std::string_view text);

// The command line's answer to a loader's question: --yes answers Yes, else No; either way
// the question and the answer are reported on err (when `report`). A PS3 export whose
// signature doesn't match is read all the same, with a warning: its contents are whole,
// and writing it signs it again.
bool AnswerQuestion(const LoadQuestion& question, Console& console, bool yes, bool report = true);

// Loads `save` from `source`, each question it stops at answered so and the load made
// again with the answers.
LoadResult LoadAnswering(CSaveGame& save, const io::SourcePtr& source, Console& console, bool yes,
                         bool report = true);

// A loaded save, or the message that explains why there is none.
struct Opened {
  std::unique_ptr<CSaveGame> save;
  std::string error;  // empty on success
};

// The message for a failed write, empty for none: the writer's refusal where it gave one,
// else the program's own words, and after "Error opening file" the system's reason where
// it gave one ("Error opening file: No space left on device").
std::string WriteFailure(const SaveWrite& outcome);

// How a save is opened: --yes answers the loaders' questions, --as names the family when
// the extension doesn't.
struct OpenOptions {
  bool yes = false;
  std::string as;  // a family name, or empty: by the extension
};

// A save on a memory card is named CARD:FOLDER: the card (an image file or a PCSX2 folder
// card), a colon, and the save's folder name on the card. The text is split at its last
// colon, so a Windows drive letter ("D:\cards\Mcd001.ps2:BESCES-50501REZ") stays with the
// card; a folder name holding a colon or a path separator can't be named this way.
struct CardSaveName {
  std::string card;
  std::string folder;
};
// The two parts, when the text has that shape: a card part that is more than a drive
// letter, and a folder part of 1 to 32 characters without / or \. Whether they exist is
// for the caller to see.
std::optional<CardSaveName> SplitCardSaveName(std::string_view text);

// Opens path with the class --as or its extension names and loads it. When that fails,
// or no class takes the extension, and the contents look like another family's, the
// message says so ("this looks like an ARMAX save: rename it to .max or pass --as max"),
// or that it is a memory card. A path that names no file but has the CARD:FOLDER shape
// of an existing card opens that save on the card. The file is opened once.
Opened OpenSave(const std::string& path, Console& console, const OpenOptions& how);
// The same for a file identified already.
Opened OpenSave(card::Identified what, Console& console, const OpenOptions& how);
// The family a file is opened as: --as's, else the one Identify found; nullptr, and the
// message in `error`, when there is none.
const FormatFamily* FamilyToLoad(const card::Identified& what, const OpenOptions& how, std::string& error);
// The message OpenSave gives when `save`, of `family` (chosen by the extension unless
// byAs), fails to load the file `what` with `result`.
std::string LoadFailure(const CSaveGame& save, LoadResult result, const card::Identified& what,
                        const FormatFamily* family, bool byAs);
// The second line of a failed open: what the file's contents look like instead of
// `tried` (a family, or nullptr), or empty.
std::string ContentHint(const card::Identified& what, const FormatFamily* tried);
// OpenSave for a command that stops when the save doesn't open: the error is printed, and
// the result is empty.
std::unique_ptr<CSaveGame> OpenSaveOrReport(const std::string& path, Console& console, const OpenOptions& how);

// Writes a loaded save to target: the save's own Save when the target's extension names
// its kind (in place through the "~0" file when target is its source, reloading it
// afterwards), else a short-lived object of the target kind converts it. Returns the
// message for a failure, empty on success; notes what the target format drops or how the
// file must be named (NoteWriteCaveats).
std::string WriteSave(CSaveGame& save, const std::string& target, Console& console);

// Warnings, not failures, for a save written as `family` to `target`: a conversion
// (`converted`: from another family) to ARMAX that drops modes or times, and a PS3 export
// under a name a PS3 refuses (with the name it takes).
void NoteWriteCaveats(const CSaveGame& save, const FormatFamily& family, const std::string& target,
                      Console& console, bool converted);

// Writes the save's files into the folder `folder` (made when missing), as unpack does:
// safe, distinct names with each change reported, existing files kept unless force, the
// files' and the folder's modification times applied. Returns the exit code.
int WriteSaveFolder(const CSaveGame& save, const std::string& folder, bool force, Console& console);

// The files of a PC folder as a new save, in name order, as pack and card import take
// them; the save's folder name is `name`, or the folder's own name when that is empty.
// Refused, with the reason in `error`: a name that isn't 1 to 32 characters, subfolders,
// anything but regular files, file names over 32 characters, an empty folder, and a save
// folder of a PCSX2 folder card (its save is opened as CARD:FOLDER instead).
Opened ReadSaveFolder(const std::string& dir, const std::string& name);

// The entry index (-1 root, 0.. files) of the file called name; none when no file has it.
// A name field of 32 characters reaches `name` as 31, while the title keeps all 32: such a
// file is found under either spelling.
std::optional<int> FindFile(const CSaveGame& save, std::string_view name);


// Bytes of 0x80 and above read as the code points of the same value, in UTF-8, so that a
// name or title of any bytes prints and serialises as valid text.
std::string BytesToUtf8(std::string_view bytes);

// "YYYY-MM-DD HH:MM:SS" from the stored fields, zero-padded and unvalidated.
std::string TimeText(const EntryTime& time);



// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
using io::IsValidUtf8;

// Text for the terminal: every control character (C0, DEL and the C1 range U+0080-U+009F)
// shown as \x1b, so that no name, title or message read from a file can move the cursor,
// set the window's title or clear the screen. Every text from a file that the command line
// prints passes through here, most through DisplayText and Quoted; with keepNewlines a
// message of several lines keeps its line breaks. Only --json keeps the exact text, as
// JSON escapes.
std::string Printable(std::string_view utf8, bool keepNewlines = false);

// Text from a save exactly, as valid UTF-8 (for JSON): kept as it is when it is valid
// UTF-8, else each byte of 0x80 and above as the code point of the same value.
std::string ExactText(std::string_view bytes);

// Text from a save for people to read on the terminal: ExactText made Printable.
std::string DisplayText(std::string_view bytes);

// Quoted for messages: "text", with DisplayText applied.
std::string Quoted(std::string_view text);

}  // namespace cli
