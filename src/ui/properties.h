// The Properties dialog's decisions: what it shows for an entry, what each click does,
// and what reaches the save when the user confirms. The platform side only forwards
// commands here and carries out the view calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "model/save_game.h"
#include "ui/date_time_field.h"
#include "ui/labels.h"

// The dialog's controls, by resource id.
class PropertiesView {
 public:
  virtual ~PropertiesView() = default;
  virtual void SetText(int id, const std::string& text) = 0;
  virtual std::string GetText(int id) = 0;
  virtual void SetChecked(int id, bool checked) = 0;
  virtual void Show(int id, bool visible) = 0;
  virtual void Enable(int id, bool enabled) = 0;
  virtual void Focus(int id) = 0;
  // An empty selection at a position of an edit field.
  virtual void SetCaret(int id, std::size_t position) = 0;
  virtual void LimitText(int id, std::size_t chars) = 0;
  // A warning message box owned by the dialog.
  virtual void Warn(const std::string& text, const std::string& caption) = 0;
  virtual void EndDialog(int result) = 0;
};

// The mode's check boxes, box k for bit k: its label, and whether a click may change it. The
// File and Directory bits say what an entry is, so their boxes only show them.
struct ModeBox {
  std::string_view label;
  bool editable;
};
inline constexpr std::array<ModeBox, 16> kModeBoxes = {{
    {LABEL_MODE_0, true}, {LABEL_MODE_1, true}, {LABEL_MODE_2, true}, {LABEL_MODE_3, true},
    {LABEL_MODE_4, false}, {LABEL_MODE_5, false}, {LABEL_MODE_6, true}, {LABEL_MODE_7, true},
    {LABEL_MODE_8, true}, {LABEL_MODE_9, true}, {LABEL_MODE_10, true}, {LABEL_MODE_11, true},
    {LABEL_MODE_12, true}, {LABEL_MODE_13, true}, {LABEL_MODE_14, true}, {LABEL_MODE_15, true},
}};

// The texts a view gave its controls, for the controls that can't show every byte (a name
// that is not UTF-8 shows with replacement characters): a control whose text the user left
// alone gives back the very bytes it was given, any other its text as it reads now.
class GivenTexts {
 public:
  // `shown`: what the control reads as UTF-8 right after it was given `text`.
  void Given(int id, std::string text, std::string shown) {
    given_[id] = {std::move(text), std::move(shown)};
  }
  std::string Read(int id, std::string shown) const {
    auto it = given_.find(id);
    if (it != given_.end() && it->second.second == shown) return it->second.first;
    return shown;
  }

 private:
  std::map<int, std::pair<std::string, std::string>> given_;  // id: given, shown
};

// How the dialog ends: OK, Cancel, or the close box.
inline constexpr int kPropertiesOk = 1;
inline constexpr int kPropertiesCancel = 2;
inline constexpr int kPropertiesClosed = 0;

// "Num. of fiiles = 3" for the save folder, FormatSize of the size for a file.
std::string SummaryLine(const SaveEntry& entry, bool isRoot);
// "Attributes (0x00008497)".
std::string AttributesCaption(std::uint32_t mode);
// At most the first 32 bytes of a name, never ending inside a UTF-8 character.
std::string CutName(std::string_view text);

// Fills the record from entry index `index` (-1 the root) of the save; false when the save
// has no such entry.
bool FillEntryProperties(const CSaveGame& save, int index, EntryProperties& record);
// Writes the record back through the container operations: mode, name, created, modified.
void ApplyEntryProperties(CSaveGame& save, int index, const EntryProperties& record);

// The running dialog: one per run, working on the shared record.
class PropertiesDialog {
 public:
  PropertiesDialog(EntryProperties& record, PropertiesView& view) : record_(record), view_(view) {}

  // Shows the record; the platform has already given the entry fields their behaviour.
  void Init();
  // A WM_COMMAND: anything but a click (notification code 0) is ignored.
  void Command(int id, int notifyCode);
  // The close box.
  void Close();

 private:
  struct TimeControls {
    int entry;
    int display;
    int button;
    EntryTime EntryProperties::*time;
    bool EntryProperties::*editing;
  };
  void ToggleTime(const TimeControls& controls);

  EntryProperties& record_;
  PropertiesView& view_;
};

// The whole of a run with the modal loop handed in: fills the shared record from the entry
// (nothing runs when the save has no such entry), runs the dialog, applies the record when
// it ended with OK, releases the record, and tells whether the changes were applied.
bool RunProperties(CSaveGame* save, int index, const std::function<int()>& runDialog);
