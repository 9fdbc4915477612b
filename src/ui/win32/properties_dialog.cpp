// The Win32 side of the Properties dialog: it forwards the dialog's messages to
// PropertiesDialog and the entry fields' input to the masked field functions, and carries
// out what they decide. Texts cross this boundary as UTF-8 and are UTF-16 inside Windows.
#include "properties_dialog.h"

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <string_view>

#include "app_state.h"
#include "properties_ids.h"
#include "ui/date_time_field.h"
#include "ui/properties.h"
#include "io/utf16.h"
#include "win32_platform.h"
#include "window_data.h"

namespace {

std::wstring WindowText(HWND window) {
  int n = GetWindowTextLengthW(window);
  if (n <= 0) return {};
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  n = GetWindowTextW(window, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(n > 0 ? n : 0));
  return text;
}

class Win32PropertiesView : public PropertiesView {
 public:
  void Attach(HWND dialog) { dialog_ = dialog; }

  void SetText(int id, const std::string& text) override {
    std::wstring wide = io::Widen(text);
    SetDlgItemTextW(dialog_, id, wide.c_str());
    given_.Given(id, text, io::Narrow(wide));
  }
  std::string GetText(int id) override {
    return given_.Read(id, io::Narrow(WindowText(GetDlgItem(dialog_, id))));
  }
  void SetChecked(int id, bool checked) override {
    CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
  }
  void Show(int id, bool visible) override {
    ShowWindow(GetDlgItem(dialog_, id), visible ? SW_SHOW : SW_HIDE);
  }
  void Enable(int id, bool enabled) override { EnableWindow(GetDlgItem(dialog_, id), enabled); }
  void Focus(int id) override { SetFocus(GetDlgItem(dialog_, id)); }
  void SetCaret(int id, std::size_t position) override {
    SendDlgItemMessageW(dialog_, id, EM_SETSEL, position, static_cast<LPARAM>(position));
  }
  void LimitText(int id, std::size_t chars) override {
    SendDlgItemMessageW(dialog_, id, EM_SETLIMITTEXT, chars, 0);
  }
  void Warn(const std::string& text, const std::string& caption) override {
    MessageBoxW(dialog_, io::Widen(text).c_str(), io::Widen(caption).c_str(),
                MB_OK | MB_ICONWARNING);
  }
  void EndDialog(int result) override { ::EndDialog(dialog_, result); }

 private:
  HWND dialog_ = nullptr;
  GivenTexts given_;
};

// One run of the dialog.
struct PropertiesRun {
  PropertiesRun() : logic(GetEntryProperties(), view) {}
  Win32PropertiesView view;
  PropertiesDialog logic;
};

// --- The masked entry fields 1045 and 1046 ----------------------------------------------

void ApplyFieldEdit(HWND field, const FieldEdit& edit) {
  if (!edit.applied) return;
  SetWindowTextW(field, io::Widen(edit.text).c_str());
  if (edit.caret) SendMessageW(field, EM_SETSEL, *edit.caret, static_cast<LPARAM>(*edit.caret));
}

std::size_t SelectionStart(HWND field) {
  DWORD start = 0, end = 0;
  SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  return start;
}

std::string ClipboardText(HWND owner) {
  std::string text;
  if (!OpenClipboard(owner)) return text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (auto* wide = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = io::Narrow(wide);
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

// Carries out what the field's rules make of an input; `message` is the control's own
// handling of it.
LRESULT Respond(HWND field, FieldInput input, std::string_view typed, UINT message, WPARAM wParam, LPARAM lParam) {
  const EntryProperties& record = GetEntryProperties();
  const FieldResponse response = RespondToInput(input, io::Narrow(WindowText(field)), SelectionStart(field), typed,
                                                record.mask, record.blank);
  switch (response.action) {
    case FieldAction::kPassOn:
      return DefSubclassProc(field, message, wParam, lParam);
    case FieldAction::kSelectAll:
      SendMessageW(field, EM_SETSEL, 0, -1);
      return 0;
    case FieldAction::kCopy:
      return DefSubclassProc(field, WM_COPY, 0, 0);
    case FieldAction::kEdit:
      ApplyFieldEdit(field, response.edit);
      return 0;
  }
  return 0;
}

LRESULT CALLBACK EntryFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam,
                                UINT_PTR subclassId, DWORD_PTR) {
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(field, EntryFieldProc, subclassId);
    return DefSubclassProc(field, message, wParam, lParam);
  }
  if (!HaveEntryProperties()) return DefSubclassProc(field, message, wParam, lParam);
  switch (message) {
    case WM_KEYDOWN:
      // The other keys move; what they type comes as WM_CHAR.
      if (wParam != VK_DELETE) break;
      return Respond(field, FieldInput::kDelete, {}, message, wParam, lParam);
    case WM_CLEAR:
      return Respond(field, FieldInput::kDelete, {}, message, wParam, lParam);
    case WM_CHAR:
    case WM_IME_CHAR: {
      // The edit control takes Ctrl+C, V, X, A and Z as characters.
      const FieldInput input = InputOfChar(static_cast<char32_t>(wParam));
      const std::string typed = input == FieldInput::kPaste
                                    ? ClipboardText(field)
                                    : io::Narrow(std::wstring(1, static_cast<wchar_t>(wParam)));
      return Respond(field, input, typed, message, wParam, lParam);
    }
    case WM_PASTE:
      return Respond(field, FieldInput::kPaste, ClipboardText(field), message, wParam, lParam);
    case WM_CUT:
      return Respond(field, FieldInput::kCut, {}, message, wParam, lParam);
    case WM_UNDO:
    case EM_UNDO:
      return Respond(field, FieldInput::kUndo, {}, message, wParam, lParam);
    case WM_RBUTTONDOWN:
    case WM_CONTEXTMENU:
      return Respond(field, FieldInput::kMenu, {}, message, wParam, lParam);
    case WM_IME_COMPOSITION:
      // The edit control would insert a composed string as a whole; the default handling
      // hands it over as WM_IME_CHAR, one character at a time, through the rules above.
      return DefWindowProcW(field, message, wParam, lParam);
    default:
      break;
  }
  return DefSubclassProc(field, message, wParam, lParam);
}

// --- The dialog ----------------------------------------------------------------------------

INT_PTR CALLBACK PropertiesProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* run = reinterpret_cast<PropertiesRun*>(lParam);
    win32::SetWindowData(dialog, run);
    run->view.Attach(dialog);
    SetWindowSubclass(GetDlgItem(dialog, IDC_PROP_CREATED_ENTRY), EntryFieldProc, 0, 0);
    SetWindowSubclass(GetDlgItem(dialog, IDC_PROP_MODIFIED_ENTRY), EntryFieldProc, 0, 0);
    GetEntryProperties().dialog = dialog;
    win32::SetProgramIcon(dialog);
    run->logic.Init();
    return TRUE;
  }
  auto* run = win32::WindowData<PropertiesRun>(dialog);
  if (!run) return FALSE;
  switch (message) {
    case WM_COMMAND:
      run->logic.Command(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      run->logic.Close();
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool RunEntryProperties(CSaveGame& save, int index) {
  AppState& app = GetAppState();
  return RunProperties(&save, index, [&] {
    PropertiesRun run;
    INT_PTR result = DialogBoxParamW(app.instance, MAKEINTRESOURCEW(IDD_PROPERTIES),
                                     app.mainWindow, PropertiesProc,
                                     reinterpret_cast<LPARAM>(&run));
    return static_cast<int>(result);
  });
}
