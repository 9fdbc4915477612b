#include "ui/date_time_field.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<EntryProperties>& PropertiesSlot() {
  static std::unique_ptr<EntryProperties> record;
  return record;
}

bool IsDigitSlot(std::string_view mask, std::size_t i) { return i < mask.size() && mask[i] == '#'; }

FieldEdit Put(std::string_view text, std::size_t at, char c, std::optional<std::size_t> caret) {
  FieldEdit edit;
  edit.applied = true;
  edit.text = std::string(text);
  edit.text[at] = c;
  edit.caret = caret;
  return edit;
}


}  // namespace

EntryProperties& GetEntryProperties() {
  auto& record = PropertiesSlot();
  if (!record) record = std::make_unique<EntryProperties>();
  return *record;
}

void ReleaseEntryProperties() { PropertiesSlot().reset(); }

bool HaveEntryProperties() { return PropertiesSlot() != nullptr; }

FieldEdit TypeDigit(std::string_view text, std::size_t p, char digit, std::string_view mask,
                    char /*blank*/) {
  if (!IsDigitSlot(mask, p) || p >= text.size() || digit < '0' || digit > '9') return {};
  std::optional<std::size_t> caret;
  for (std::size_t next = p + 1; next < mask.size(); ++next) {
    if (mask[next] == '#') {
      caret = next;
      break;
    }
  }
  return Put(text, p, digit, caret);
}

FieldEdit DeleteDigit(std::string_view text, std::size_t p, std::string_view mask, char blank) {
  if (!IsDigitSlot(mask, p) || p >= text.size()) return {};
  return Put(text, p, blank, p);
}

FieldEdit BackspaceDigit(std::string_view text, std::size_t p, std::string_view mask,
                         char blank) {
  if (p == 0) return {};
  // The nearest digit position before the caret, hopping back over separators.
  for (std::size_t q = p; q-- > 0;) {
    if (IsDigitSlot(mask, q)) {
      if (q >= text.size()) return {};
      return Put(text, q, blank, q);
    }
  }
  return {};
}

FieldEdit TypeChar(std::string_view text, std::size_t p, char32_t ch, std::string_view mask,
                   char blank) {
  if (ch >= U'0' && ch <= U'9') return TypeDigit(text, p, static_cast<char>(ch), mask, blank);
  if (ch == U'.') return DeleteDigit(text, p, mask, blank);
  if (ch == U'\b') return BackspaceDigit(text, p, mask, blank);
  return {};
}

FieldEdit PasteDigits(std::string_view text, std::size_t p, std::string_view pasted,
                      std::string_view mask, char blank) {
  FieldEdit result;
  std::string current(text);
  std::size_t at = p;
  for (char c : pasted) {
    if (c < '0' || c > '9') continue;
    while (at < mask.size() && mask[at] != '#') ++at;
    if (at >= mask.size() || at >= current.size()) break;
    FieldEdit step = TypeDigit(current, at, c, mask, blank);
    current = std::move(step.text);
    result.applied = true;
    at = step.caret.value_or(mask.size());
  }
  if (!result.applied) return {};
  result.text = std::move(current);
  result.caret = std::min(at, result.text.size());
  return result;
}

FieldResponse RespondToInput(FieldInput input, std::string_view text, std::size_t p, std::string_view typed,
                             std::string_view mask, char blank) {
  FieldResponse response;
  switch (input) {
    case FieldInput::kMove:
      response.action = FieldAction::kPassOn;
      break;
    case FieldInput::kSelectAll:
      response.action = FieldAction::kSelectAll;
      break;
    case FieldInput::kCopy:
    case FieldInput::kCut:
      response.action = FieldAction::kCopy;
      break;
    case FieldInput::kPaste:
      response.edit = PasteDigits(text, p, typed, mask, blank);
      break;
    case FieldInput::kDelete:
      response.edit = DeleteDigit(text, p, mask, blank);
      break;
    case FieldInput::kBackspace:
      response.edit = BackspaceDigit(text, p, mask, blank);
      break;
    case FieldInput::kUndo:
    case FieldInput::kMenu:
      break;
    case FieldInput::kText: {
      // A character outside ASCII is never a digit, '.' or a backspace: only ASCII bytes
      // can change the field.
      FieldEdit& edit = response.edit;
      std::string current(text);
      for (unsigned char c : typed) {
        if (c >= 0x80) continue;
        FieldEdit step = TypeChar(current, p, c, mask, blank);
        if (!step.applied) continue;
        current = std::move(step.text);
        edit.applied = true;
        if (step.caret) {
          edit.caret = step.caret;
          p = *step.caret;
        }
      }
      if (edit.applied) edit.text = std::move(current);
      break;
    }
  }
  return response;
}

FieldInput InputOfChar(char32_t ch) {
  switch (ch) {
    case U'\x01': return FieldInput::kSelectAll;
    case U'\x03': return FieldInput::kCopy;
    case U'\x16': return FieldInput::kPaste;
    case U'\x18': return FieldInput::kCut;
    case U'\x19':
    case U'\x1A': return FieldInput::kUndo;
    case U'\b': return FieldInput::kBackspace;
    default: return FieldInput::kText;
  }
}
