#include "ui/properties.h"

#include <cstdio>

#include "properties_ids.h"
#include "formats/messages.h"
#include "ui/texts.h"

static_assert(kModeBoxes.size() == IDC_PROP_MODE_LAST - IDC_PROP_MODE_FIRST + 1);

std::string SummaryLine(const SaveEntry& entry, bool isRoot) {
  if (!isRoot) return FormatSize(entry.size);
  char text[40];
  // The root's size counts "." and ".." besides the files.
  std::snprintf(text, sizeof text, ui::kFileCountFormat, static_cast<long long>(entry.size) - 2);
  return text;
}

std::string AttributesCaption(std::uint32_t mode) {
  char text[32];
  std::snprintf(text, sizeof text, ui::kAttributesFormat, static_cast<unsigned>(mode));
  return text;
}

std::string CutName(std::string_view text) {
  std::size_t n = kNameChars;
  if (text.size() <= n) return std::string(text);
  auto continuation = [&](std::size_t i) {
    return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
  };
  // A cut inside a UTF-8 character ends the name before that character's lead byte;
  // bytes that are not UTF-8 are cut plainly.
  std::size_t lead = n;
  while (lead > 0 && continuation(lead)) --lead;
  if (lead < n && static_cast<unsigned char>(text[lead]) >= 0xC0) n = lead;
  return std::string(text.substr(0, n));
}

bool FillEntryProperties(const CSaveGame& save, int index, EntryProperties& record) {
  const SaveEntry* entry = save.EntryAt(index);
  if (!entry) return false;
  // A file's whole name: a 32-character one is kept whole in its title.
  record.name = std::string((index < 0 ? entry->Name() : entry->FullName()).substr(0, kNameChars));
  record.summary = SummaryLine(*entry, index < 0);
  record.created = entry->created;
  record.modified = entry->modified;
  record.mode = entry->mode;
  return true;
}

void ApplyEntryProperties(CSaveGame& save, int index, const EntryProperties& record) {
  save.SetMode(index, record.mode);
  save.SetName(index, record.name);
  save.SetCreated(index, record.created);
  save.SetModified(index, record.modified);
}

void PropertiesDialog::Init() {
  view_.SetText(IDC_PROP_NAME, record_.name);
  view_.SetText(IDC_PROP_SUMMARY, record_.summary);
  view_.SetText(IDC_PROP_CREATED, DisplayForm(record_.created));
  view_.SetText(IDC_PROP_MODIFIED, DisplayForm(record_.modified));
  view_.SetText(IDC_PROP_ATTRIBUTES, AttributesCaption(record_.mode));
  for (std::size_t k = 0; k < kModeBoxes.size(); ++k) {
    const int box = IDC_PROP_MODE_FIRST + static_cast<int>(k);
    if (record_.mode & (1u << k)) view_.SetChecked(box, true);
    view_.Enable(box, kModeBoxes[k].editable);
  }
  view_.LimitText(IDC_PROP_CREATED_ENTRY, kEntryMask.size());
}

void PropertiesDialog::Command(int id, int notifyCode) {
  if (notifyCode != 0) return;
  if (id == kPropertiesOk) {
    // A time still open for editing is neither checked nor kept.
    record_.name = CutName(view_.GetText(IDC_PROP_NAME));
    view_.EndDialog(kPropertiesOk);
  } else if (id == kPropertiesCancel) {
    view_.EndDialog(kPropertiesCancel);
  } else if (id >= IDC_PROP_MODE_FIRST && id <= IDC_PROP_MODE_LAST) {
    record_.mode ^= 1u << (id - IDC_PROP_MODE_FIRST);
    view_.SetText(IDC_PROP_ATTRIBUTES, AttributesCaption(record_.mode));
  } else if (id == IDC_PROP_EDIT_CREATED) {
    ToggleTime({IDC_PROP_CREATED_ENTRY, IDC_PROP_CREATED, IDC_PROP_EDIT_CREATED,
                &EntryProperties::created, &EntryProperties::editingCreated});
  } else if (id == IDC_PROP_EDIT_MODIFIED) {
    ToggleTime({IDC_PROP_MODIFIED_ENTRY, IDC_PROP_MODIFIED, IDC_PROP_EDIT_MODIFIED,
                &EntryProperties::modified, &EntryProperties::editingModified});
  }
}

void PropertiesDialog::Close() { view_.EndDialog(kPropertiesClosed); }

void PropertiesDialog::ToggleTime(const TimeControls& c) {
  EntryTime& time = record_.*c.time;
  bool& editing = record_.*c.editing;
  if (!editing) {
    view_.SetText(c.entry, EntryForm(time));
    view_.Show(c.entry, true);
    view_.Show(c.display, false);
    view_.Enable(c.entry, true);
    view_.SetText(c.button, std::string(ui::kOkButton));
    view_.Focus(c.entry);
    view_.SetCaret(c.entry, 0);
    editing = true;
    return;
  }
  TimeEntry entered = ReadEntryForm(view_.GetText(c.entry), record_.mask);
  switch (entered.check) {
    case TimeCheck::kOk:
      time = entered.time;
      break;
    case TimeCheck::kBlank:
      view_.Warn(std::string(kBlankDigitsMessage), std::string(ui::kWarningCaption));
      break;
    case TimeCheck::kInvalid:
      view_.Warn(std::string(kInvalidTimeMessage), std::string(ui::kWarningCaption));
      break;
  }
  view_.Enable(c.entry, false);
  view_.Show(c.display, true);
  view_.SetText(c.display, DisplayForm(time));
  view_.SetText(c.entry, "");
  view_.Show(c.entry, false);
  view_.SetText(c.button, std::string(ui::kEditButton));
  editing = false;
}

bool RunProperties(CSaveGame* save, int index, const std::function<int()>& runDialog) {
  if (!save) return false;
  bool applied = false;
  if (FillEntryProperties(*save, index, GetEntryProperties())) {
    if (runDialog() == kPropertiesOk) {
      ApplyEntryProperties(*save, index, GetEntryProperties());
      applied = true;
    }
  }
  ReleaseEntryProperties();
  return applied;
}
