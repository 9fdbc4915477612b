// The masked date-time entry field of the Properties dialog, and the record that the
// dialog and its two entry fields share.
//
// A time is edited as the 19 characters "dd-mm-yyyy hh:mm:ss". The mask marks each digit
// position with '#'; every other mask character is a separator that the keyboard never
// changes. Digits overwrite in place, the caret hops over separators, and deleting a
// digit leaves the blank mark '_' in its place, so the text keeps its length and its
// separators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/entry.h"
#include "model/entry_time_text.h"

// What the Properties dialog edits, and its state while it runs. One per process: made on
// first use, released after every run of the dialog so that each run starts afresh.
struct EntryProperties {
  std::string name;     // up to 32 characters
  std::string summary;  // the size line
  EntryTime created;
  EntryTime modified;
  std::uint32_t mode = 0;
  bool editingCreated = false;
  bool editingModified = false;
  void* dialog = nullptr;  // the running dialog's window
  std::string mask{kEntryMask};
  char blank = kEntryBlank;
};

EntryProperties& GetEntryProperties();
void ReleaseEntryProperties();
bool HaveEntryProperties();

// The outcome of one input on the field: when `applied`, `text` is written back and, if
// `caret` holds a position, an empty selection is put there. Otherwise nothing changes.
struct FieldEdit {
  bool applied = false;
  std::string text;
  std::optional<std::size_t> caret;
};

// p is the start of the field's selection; only that position counts.
FieldEdit TypeDigit(std::string_view text, std::size_t p, char digit,
                    std::string_view mask = kEntryMask, char blank = kEntryBlank);
FieldEdit DeleteDigit(std::string_view text, std::size_t p, std::string_view mask = kEntryMask,
                      char blank = kEntryBlank);
FieldEdit BackspaceDigit(std::string_view text, std::size_t p,
                         std::string_view mask = kEntryMask, char blank = kEntryBlank);

// A typed character: digits are typed, '.' deletes like the Delete key, backspace blanks the
// digit before the caret, and everything else is swallowed (never applied).
FieldEdit TypeChar(std::string_view text, std::size_t p, char32_t ch,
                   std::string_view mask = kEntryMask, char blank = kEntryBlank);

// Pasted text is typed, not inserted: each of its digits fills the next digit position from
// p on, everything else in it is skipped, and filling stops at the end of the mask. The
// text therefore keeps its length; the caret ends after the last digit written.
FieldEdit PasteDigits(std::string_view text, std::size_t p, std::string_view pasted,
                      std::string_view mask = kEntryMask, char blank = kEntryBlank);

// What reaches the field, as each shell names it, and what the shell then does: the key
// rules of the field, the same on every platform.
enum class FieldInput {
  kMove,       // a key that moves the caret or the focus, or ends the dialog
  kSelectAll,
  kCopy,
  kCut,
  kPaste,      // `typed`: the clipboard's text
  kDelete,     // the Delete key, and the edit control's Clear command
  kBackspace,
  kUndo,       // undo and redo
  kMenu,       // the control's context menu (a right click, the menu key)
  kText,       // characters typed or composed, as UTF-8 in `typed`
};
enum class FieldAction {
  kPassOn,     // the control's own handling, which moves only
  kSelectAll,  // the whole text selected
  kCopy,       // the selection copied, the text left as it is
  kEdit,       // `edit` applied (which may change nothing)
};
struct FieldResponse {
  FieldAction action = FieldAction::kEdit;
  FieldEdit edit;
};
// Cutting copies only, since it would shorten the text; undo, redo and the context menu
// (whose Undo would bring back a text the rules never made) do nothing; a paste fills digit
// places; text is typed one character at a time, each from where the last one left the
// caret. p is the start of the selection.
FieldResponse RespondToInput(FieldInput input, std::string_view text, std::size_t p, std::string_view typed = {},
                             std::string_view mask = kEntryMask, char blank = kEntryBlank);
// A character as a Win32 edit control receives it: the control characters of Ctrl+A, C, V,
// X, Z and Y are those commands, backspace is kBackspace, anything else is text.
FieldInput InputOfChar(char32_t ch);
