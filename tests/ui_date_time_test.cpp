#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/test_util.h"
#include "ui/date_time_field.h"
#include "ui/texts.h"

namespace {

using testutil::MakeTime;

constexpr std::string_view kStart = "05-03-2007 14:03:09";
constexpr std::size_t kNoCaret = static_cast<std::size_t>(-1);

enum class Input { kDigit, kDelete, kBackspace, kChar };

struct MaskCase {
  const char* what;
  Input input;
  std::size_t caret;
  char32_t ch;                // the digit or character typed
  const char* expectedText;  // nullptr: nothing happens
  std::size_t expectedCaret;  // kNoCaret: no caret position is set
};

FieldEdit ApplyInput(const MaskCase& c, std::string_view text) {
  switch (c.input) {
    case Input::kDigit:
      return TypeDigit(text, c.caret, static_cast<char>(c.ch));
    case Input::kDelete:
      return DeleteDigit(text, c.caret);
    case Input::kBackspace:
      return BackspaceDigit(text, c.caret);
    case Input::kChar:
      return TypeChar(text, c.caret, c.ch);
  }
  return {};
}

TEST(DateTimeField, EveryInputOnTextAndCaret) {
  const MaskCase cases[] = {
      {"digit at 0 moves to 1", Input::kDigit, 0, '1', "15-03-2007 14:03:09", 1},
      {"digit at 1 hops the separator", Input::kDigit, 1, '2', "02-03-2007 14:03:09", 3},
      {"digit at 4 hops to the year", Input::kDigit, 4, '9', "05-09-2007 14:03:09", 6},
      {"digit at 9 hops the space", Input::kDigit, 9, '1', "05-03-2001 14:03:09", 11},
      {"digit at 12 hops the colon", Input::kDigit, 12, '7', "05-03-2007 17:03:09", 14},
      {"digit at 17", Input::kDigit, 17, '5', "05-03-2007 14:03:59", 18},
      {"digit at 18 sets no caret", Input::kDigit, 18, '8', "05-03-2007 14:03:08", kNoCaret},
      {"digit on a separator", Input::kDigit, 2, '4', nullptr, 0},
      {"digit on the space", Input::kDigit, 10, '4', nullptr, 0},
      {"digit at the end", Input::kDigit, 19, '4', nullptr, 0},
      {"digit past the end", Input::kDigit, 40, '4', nullptr, 0},
      {"delete at 0 blanks in place", Input::kDelete, 0, 0, "_5-03-2007 14:03:09", 0},
      {"delete at 18", Input::kDelete, 18, 0, "05-03-2007 14:03:0_", 18},
      {"delete on a separator", Input::kDelete, 2, 0, nullptr, 0},
      {"delete on a colon", Input::kDelete, 13, 0, nullptr, 0},
      {"delete at the end", Input::kDelete, 19, 0, nullptr, 0},
      {"backspace at 0", Input::kBackspace, 0, 0, nullptr, 0},
      {"backspace at 1", Input::kBackspace, 1, 0, "_5-03-2007 14:03:09", 0},
      {"backspace at 3 hops the separator", Input::kBackspace, 3, 0, "0_-03-2007 14:03:09", 1},
      {"backspace on a separator", Input::kBackspace, 2, 0, "0_-03-2007 14:03:09", 1},
      {"backspace at 11 hops the space", Input::kBackspace, 11, 0, "05-03-200_ 14:03:09", 9},
      {"backspace at the end blanks 18", Input::kBackspace, 19, 0, "05-03-2007 14:03:0_", 18},
      {"'.' deletes like the Delete key", Input::kChar, 0, U'.', "_5-03-2007 14:03:09", 0},
      {"'.' on a separator", Input::kChar, 2, U'.', nullptr, 0},
      {"'.' at the end", Input::kChar, 19, U'.', nullptr, 0},
      {"typed backspace", Input::kChar, 3, U'\b', "0_-03-2007 14:03:09", 1},
      {"typed digit", Input::kChar, 0, U'7', "75-03-2007 14:03:09", 1},
      {"letter", Input::kChar, 0, U'a', nullptr, 0},
      {"capital letter", Input::kChar, 6, U'Z', nullptr, 0},
      {"space", Input::kChar, 0, U' ', nullptr, 0},
      {"dash on a separator", Input::kChar, 2, U'-', nullptr, 0},
      {"dash on a digit", Input::kChar, 0, U'-', nullptr, 0},
      {"colon", Input::kChar, 13, U':', nullptr, 0},
      {"paste shortcut character", Input::kChar, 0, U'\x16', nullptr, 0},
      {"cut shortcut character", Input::kChar, 0, U'\x18', nullptr, 0},
      {"Enter", Input::kChar, 0, U'\r', nullptr, 0},
      {"full-width digit", Input::kChar, 0, U'\xFF11', nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FieldEdit edit = ApplyInput(c, kStart);
    if (!c.expectedText) {
      EXPECT_FALSE(edit.applied);
      continue;
    }
    ASSERT_TRUE(edit.applied);
    EXPECT_EQ(edit.text, c.expectedText);
    EXPECT_EQ(edit.text.size(), kStart.size());
    if (c.expectedCaret == kNoCaret) {
      EXPECT_FALSE(edit.caret.has_value());
    } else {
      EXPECT_EQ(edit.caret, std::optional<std::size_t>(c.expectedCaret));
    }
  }
}

TEST(DateTimeField, TypingOneAfterAnother) {
  // 1 at 0, then 2 at the caret it leaves: 12-03-..., caret past the separator.
  FieldEdit first = TypeChar(kStart, 0, U'1');
  ASSERT_TRUE(first.applied);
  EXPECT_EQ(first.text, "15-03-2007 14:03:09");
  ASSERT_EQ(first.caret, std::optional<std::size_t>(1));
  FieldEdit second = TypeChar(first.text, *first.caret, U'2');
  EXPECT_EQ(second.text, "12-03-2007 14:03:09");
  EXPECT_EQ(second.caret, std::optional<std::size_t>(3));

  // Typing fourteen digits from 0 fills the whole mask.
  std::string text(kStart);
  std::size_t caret = 0;
  for (char d : std::string("31122099235958")) {
    FieldEdit e = TypeChar(text, caret, static_cast<char32_t>(d));
    ASSERT_TRUE(e.applied);
    text = e.text;
    caret = e.caret.value_or(caret);
  }
  EXPECT_EQ(text, "31-12-2099 23:59:58");
}

TEST(DateTimeField, OnlyTheSelectionStartCounts) {
  // With characters 0 to 4 selected the caller passes the selection's start: typing 7
  // replaces position 0 alone.
  FieldEdit edit = TypeChar(kStart, 0, U'7');
  EXPECT_EQ(edit.text, "75-03-2007 14:03:09");
  EXPECT_EQ(edit.caret, std::optional<std::size_t>(1));
}

TEST(DateTimeField, ShortTextIsNeverWrittenPastItsEnd) {
  EXPECT_FALSE(TypeDigit("05-0", 4, '1').applied);
  EXPECT_FALSE(DeleteDigit("05-0", 4).applied);
  EXPECT_FALSE(BackspaceDigit("", 5).applied);
  EXPECT_FALSE(DeleteDigit("", 0).applied);
  FieldEdit e = BackspaceDigit("05-0", 4);
  EXPECT_EQ(e.text, "05-_");
}

TEST(DateTimeField, PasteTypesDigitsAndKeepsTheLength) {
  struct Case {
    const char* what;
    std::size_t caret;
    const char* pasted;
    const char* expectedText;  // nullptr: nothing happens
    std::size_t expectedCaret;
  } cases[] = {
      {"a long run of digits stops at the end", 0, "123456789012345678901234567890",
       "12-34-5678 90:12:34", 19},
      {"a whole time with its own separators", 0, "31/12/1999 23.59.58", "31-12-1999 23:59:58", 19},
      {"separators in the paste are skipped", 0, "31-12", "31-12-2007 14:03:09", 6},
      {"from a separator to the next digit", 2, "7", "05-73-2007 14:03:09", 4},
      {"at the last position", 18, "42", "05-03-2007 14:03:04", 19},
      {"at the end", 19, "42", nullptr, 0},
      {"no digits", 0, "abc -:", nullptr, 0},
      {"empty", 0, "", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FieldEdit edit = PasteDigits(kStart, c.caret, c.pasted);
    if (!c.expectedText) {
      EXPECT_FALSE(edit.applied);
      continue;
    }
    ASSERT_TRUE(edit.applied);
    EXPECT_EQ(edit.text, c.expectedText);
    EXPECT_EQ(edit.caret, std::optional<std::size_t>(c.expectedCaret));
  }
  // Never longer than the mask, whatever is pasted where.
  for (std::size_t p = 0; p <= kEntryMask.size(); ++p) {
    FieldEdit e = PasteDigits(kStart, p, std::string(100, '9'));
    if (e.applied) {
      EXPECT_EQ(e.text.size(), kEntryMask.size());
    }
  }
}

// The field's key rules as both shells follow them: what each input does to the text, the
// caret and the clipboard. A character a Win32 edit control receives for a command is that
// command.
TEST(DateTimeField, EachInputAsTheShellsNameIt) {
  struct Case {
    const char* what;
    FieldInput input;
    std::size_t caret;
    const char* typed;
    FieldAction action;
    const char* expectedText;  // nullptr: the text stays
    std::size_t expectedCaret;  // kNoCaret: no caret position is set
  } cases[] = {
      {"a move is the control's", FieldInput::kMove, 4, "", FieldAction::kPassOn, nullptr, 0},
      {"select all", FieldInput::kSelectAll, 4, "", FieldAction::kSelectAll, nullptr, 0},
      {"copy", FieldInput::kCopy, 0, "", FieldAction::kCopy, nullptr, 0},
      {"cut copies only", FieldInput::kCut, 0, "", FieldAction::kCopy, nullptr, 0},
      {"undo does nothing", FieldInput::kUndo, 0, "", FieldAction::kEdit, nullptr, 0},
      {"the context menu does nothing", FieldInput::kMenu, 0, "", FieldAction::kEdit, nullptr, 0},
      {"delete", FieldInput::kDelete, 3, "", FieldAction::kEdit, "05-_3-2007 14:03:09", 3},
      {"backspace", FieldInput::kBackspace, 3, "", FieldAction::kEdit, "0_-03-2007 14:03:09", 1},
      {"paste", FieldInput::kPaste, 6, "2024", FieldAction::kEdit, "05-03-2024 14:03:09", 11},
      {"two digits, each from the caret the last left", FieldInput::kText, 0, "12", FieldAction::kEdit,
       "12-03-2007 14:03:09", 3},
      {"characters between digits are passed over", FieldInput::kText, 0, "1x-\xC3\xA9" "2", FieldAction::kEdit,
       "12-03-2007 14:03:09", 3},
      {"the last digit sets no caret", FieldInput::kText, 18, "8", FieldAction::kEdit, "05-03-2007 14:03:08", kNoCaret},
      {"a caret set before the last digit stays", FieldInput::kText, 17, "12", FieldAction::kEdit,
       "05-03-2007 14:03:12", 18},
      {"a full-width digit", FieldInput::kText, 0, "\xEF\xBC\x91", FieldAction::kEdit, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const FieldResponse r = RespondToInput(c.input, kStart, c.caret, c.typed);
    EXPECT_EQ(r.action, c.action);
    if (!c.expectedText) {
      EXPECT_FALSE(r.edit.applied);
      continue;
    }
    ASSERT_TRUE(r.edit.applied);
    EXPECT_EQ(r.edit.text, c.expectedText);
    EXPECT_EQ(r.edit.caret, c.expectedCaret == kNoCaret ? std::nullopt : std::optional<std::size_t>(c.expectedCaret));
  }
  const std::pair<char32_t, FieldInput> chars[] = {
      {U'\x01', FieldInput::kSelectAll}, {U'\x03', FieldInput::kCopy}, {U'\x16', FieldInput::kPaste},
      {U'\x18', FieldInput::kCut},       {U'\x1A', FieldInput::kUndo}, {U'\x19', FieldInput::kUndo},
      {U'\b', FieldInput::kBackspace},   {U'7', FieldInput::kText},     {U'\r', FieldInput::kText},
  };
  for (auto [ch, input] : chars) EXPECT_EQ(InputOfChar(ch), input) << static_cast<int>(ch);
}

TEST(DateTimeField, DisplayForm) {
  EXPECT_EQ(DisplayForm(MakeTime(2007, 3, 5, 14, 3, 9)), "5 March 2007 14:03:09");
  EXPECT_EQ(DisplayForm(MakeTime(7, 1, 31, 0, 0, 0)), "31 January 0007 00:00:00");
  EXPECT_EQ(DisplayForm(MakeTime(65535, 12, 1, 23, 59, 59)), "1 December 65535 23:59:59");
  const char* months[] = {"January", "February", "March",     "April",   "May",      "June",
                          "July",    "August",   "September", "October", "November", "December"};
  for (int m = 1; m <= 12; ++m) {
    EXPECT_EQ(DisplayForm(MakeTime(2000, m, 2, 1, 2, 3)),
              std::string("2 ") + months[m - 1] + " 2000 01:02:03");
  }
}

TEST(DateTimeField, DisplayFormOfAMonthOutsideTheTable) {
  EXPECT_EQ(DisplayForm(MakeTime(2007, 0, 0, 0, 0, 0)), "0 (month 0) 2007 00:00:00");
  EXPECT_EQ(DisplayForm(MakeTime(2007, 13, 5, 1, 2, 3)), "5 (month 13) 2007 01:02:03");
  EXPECT_EQ(DisplayForm(MakeTime(2007, 255, 255, 255, 255, 255)),
            "255 (month 255) 2007 255:255:255");
}

TEST(DateTimeField, EntryFormFillsTheMask) {
  EXPECT_EQ(EntryForm(MakeTime(2007, 3, 5, 14, 3, 9)), "05-03-2007 14:03:09");
  EXPECT_EQ(EntryForm(MakeTime(0, 0, 0, 0, 0, 0)), "00-00-0000 00:00:00");
  EXPECT_EQ(EntryForm(MakeTime(9999, 99, 99, 99, 99, 99)), "99-99-9999 99:99:99");
  // Values too wide for their positions turn into blanks, not a longer text.
  EXPECT_EQ(EntryForm(MakeTime(2007, 3, 100, 14, 3, 9)), "__-03-2007 14:03:09");
  EXPECT_EQ(EntryForm(MakeTime(10000, 3, 5, 14, 3, 9)), "05-03-____ 14:03:09");
  EXPECT_EQ(EntryForm(MakeTime(2007, 255, 5, 200, 3, 255)), "05-__-2007 __:03:__");
}

TEST(DateTimeField, ReadingAnEnteredTime) {
  struct Case {
    const char* text;
    TimeCheck check;
  } cases[] = {
      {"31-02-2007 10:00:00", TimeCheck::kOk},       // no calendar check
      {"00-00-0000 00:00:00", TimeCheck::kOk},       // no lower bounds
      {"31-12-9999 23:59:59", TimeCheck::kOk},
      {"32-01-2007 10:00:00", TimeCheck::kInvalid},
      {"01-13-2007 10:00:00", TimeCheck::kInvalid},
      {"01-01-2007 24:00:00", TimeCheck::kInvalid},
      {"01-01-2007 10:60:00", TimeCheck::kInvalid},
      {"01-01-2007 10:00:60", TimeCheck::kInvalid},
      {"99-99-9999 99:99:99", TimeCheck::kInvalid},
      {"_5-03-2007 14:03:09", TimeCheck::kBlank},
      {"05-03-2007 14:03:0_", TimeCheck::kBlank},
      {"05-03-2007 14:03:0", TimeCheck::kBlank},     // shorter than the mask
      {"", TimeCheck::kBlank},
      {"05-03-20a7 14:03:09", TimeCheck::kBlank},
      {"_5-13-2007 14:03:09", TimeCheck::kBlank},    // blanks are reported first
      {"05/03/2007 14:03:09", TimeCheck::kInvalid},  // separators not the mask's
      {"05-03-2007 14:03:09999", TimeCheck::kOk},    // only the mask's length is read
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ReadEntryForm(c.text).check, c.check);
  }
  TimeEntry entry = ReadEntryForm("31-02-2007 10:20:30");
  ASSERT_EQ(entry.check, TimeCheck::kOk);
  EXPECT_EQ(entry.time, MakeTime(2007, 2, 31, 10, 20, 30));
  EXPECT_EQ(entry.time.reserved, 0);
}

TEST(DateTimeField, EntryFormReadsBackToTheSameTime) {
  EntryTime t = MakeTime(2099, 12, 31, 23, 59, 59);
  t.reserved = 7;  // an entered time always gets a zero reserved byte
  TimeEntry back = ReadEntryForm(EntryForm(t));
  ASSERT_EQ(back.check, TimeCheck::kOk);
  t.reserved = 0;
  EXPECT_EQ(back.time, t);
  // A time that doesn't fit the mask can't be confirmed unchanged by mistake.
  EXPECT_EQ(ReadEntryForm(EntryForm(MakeTime(2007, 3, 100, 1, 2, 3))).check, TimeCheck::kBlank);
}

TEST(DateTimeField, MessagesAndCaption) {
  EXPECT_EQ(kBlankDigitsMessage, "All blanks have to be filled with digits.\nOperation cancelled.");
  EXPECT_EQ(kInvalidTimeMessage, "Invalid date/time format.\nOperation cancelled.");
  EXPECT_EQ(ui::kWarningCaption, "Warrning");
}

TEST(EntryPropertiesRecord, MadeOnFirstUseAndFreshAfterRelease) {
  ReleaseEntryProperties();
  EXPECT_FALSE(HaveEntryProperties());
  EntryProperties& record = GetEntryProperties();
  EXPECT_TRUE(HaveEntryProperties());
  EXPECT_EQ(&record, &GetEntryProperties());
  EXPECT_EQ(record.mask, "##-##-#### ##:##:##");
  EXPECT_EQ(record.blank, '_');
  EXPECT_TRUE(record.name.empty());
  EXPECT_TRUE(record.summary.empty());
  EXPECT_EQ(record.mode, 0u);
  EXPECT_FALSE(record.editingCreated);
  EXPECT_FALSE(record.editingModified);
  EXPECT_EQ(record.dialog, nullptr);
  EXPECT_EQ(record.created, EntryTime{});

  record.name = "CHANGED";
  record.mode = 0x8497;
  record.editingCreated = true;
  ReleaseEntryProperties();
  EXPECT_FALSE(HaveEntryProperties());
  EntryProperties& fresh = GetEntryProperties();
  EXPECT_TRUE(fresh.name.empty());
  EXPECT_EQ(fresh.mode, 0u);
  EXPECT_FALSE(fresh.editingCreated);
  ReleaseEntryProperties();
}

}  // namespace
