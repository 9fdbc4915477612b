// A test-only program that opens the Properties dialog on a small save of its own, so the
// dialog and its entry fields can be checked under wine without the main window.
//
//   properties-demo --selftest LOG   drives the dialog through its messages and checks what
//                                    it shows and what reaches the save; exit code 0 = pass
//   properties-demo --show DIR       opens the dialog, writes DIR/shown once it is on screen
//                                    (with the creation time open for editing when --edit
//                                    follows), and closes it when DIR/close appears
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/app_state.h"
#include "model/save_game.h"
#include "properties_ids.h"
#include "ui/date_time_field.h"
#include "ui/win32/properties_dialog.h"

namespace {

std::ofstream g_log;
int g_failures = 0;

void Check(bool ok, const std::string& what) {
  g_log << (ok ? "ok   " : "FAIL ") << what << "\n";
  g_log.flush();
  if (!ok) ++g_failures;
}

std::string Text(HWND window) {
  wchar_t buffer[256] = {};
  GetWindowTextW(window, buffer, 256);
  char out[512] = {};
  WideCharToMultiByte(CP_UTF8, 0, buffer, -1, out, sizeof out, nullptr, nullptr);
  return out;
}

void CheckText(HWND dialog, int id, const std::string& expected) {
  std::string actual = Text(GetDlgItem(dialog, id));
  Check(actual == expected, "control " + std::to_string(id) + " shows \"" + actual +
                                "\", expected \"" + expected + "\"");
}

HWND PropertiesWindow() {
  return HaveEntryProperties() ? static_cast<HWND>(GetEntryProperties().dialog) : nullptr;
}

void Click(HWND dialog, int id) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Type(HWND field, const std::string& chars) {
  for (char c : chars) SendMessageW(field, WM_CHAR, static_cast<WPARAM>(c), 0);
}

void SetCaretAt(HWND field, int position) { SendMessageW(field, EM_SETSEL, position, position); }

int CaretOf(HWND field) {
  DWORD start = 0, end = 0;
  SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  return static_cast<int>(start);
}

void PutOnClipboard(HWND owner, const std::wstring& text) {
  if (!OpenClipboard(owner)) return;
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  auto* p = static_cast<wchar_t*>(GlobalLock(memory));
  std::copy(text.c_str(), text.c_str() + text.size() + 1, p);
  GlobalUnlock(memory);
  SetClipboardData(CF_UNICODETEXT, memory);
  CloseClipboard();
}

EntryTime Time(int year, int month, int day, int hour, int minute, int second) {
  EntryTime t;
  t.year = static_cast<std::uint16_t>(year);
  t.month = static_cast<std::uint8_t>(month);
  t.day = static_cast<std::uint8_t>(day);
  t.hour = static_cast<std::uint8_t>(hour);
  t.minute = static_cast<std::uint8_t>(minute);
  t.second = static_cast<std::uint8_t>(second);
  return t;
}

// A save of two PC files with known sizes and times, made current.
bool MakeSave(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  const std::pair<const char*, std::size_t> files[] = {{"DATA.BIN", 1536}, {"icon.sys", 964}};
  auto save = std::make_unique<CGeneric>();
  for (auto [name, size] : files) {
    std::ofstream(folder / name, std::ios::binary) << std::string(size, 'x');
    save->AddEntryFromDisk((folder / name).string(), name);
  }
  if (save->FileCount() != 2) return false;
  save->SetName(-1, "BESLES-12345SAVE");
  for (int i = -1; i < 2; ++i) {
    save->SetCreated(i, Time(2007, 3, 5, 14, 3, 9));
    save->SetModified(i, Time(2008, 12, 24, 1, 2, 3));
  }
  GetAppState().currentSave = std::move(save);
  return true;
}

// The steps of a run, one per timer tick, so that every step runs inside the dialog's own
// message loop. A step that opens a message box is answered by the next tick, which then
// runs inside the message box's loop.
struct Script {
  std::vector<std::function<void(HWND)>> steps;
  std::size_t next = 0;
  std::string expectedWarning;  // text of a message box the last step opened
  bool inStep = false;
};
Script g_script;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = PropertiesWindow();
  if (!dialog || !IsWindowVisible(dialog)) return;
  if (g_script.inStep) {
    // A step is waiting on a modal message box.
    HWND box = FindWindowW(L"#32770", L"Warrning");
    if (!box) return;
    std::string text = Text(GetDlgItem(box, 0xFFFF));
    Check(text == g_script.expectedWarning, "warning says \"" + text + "\"");
    Check(GetWindow(box, GW_OWNER) == dialog, "warning is owned by the dialog");
    SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    g_script.expectedWarning.clear();
    return;
  }
  if (g_script.next >= g_script.steps.size()) return;
  g_script.inStep = true;
  g_script.steps[g_script.next++](dialog);
  g_script.inStep = false;
}

// Runs the dialog for one entry with the given steps; the last step must end it.
bool RunScripted(int index, std::vector<std::function<void(HWND)>> steps) {
  g_script = Script{};
  g_script.steps = std::move(steps);
  UINT_PTR timer = SetTimer(nullptr, 0, 100, Tick);
  bool applied = RunEntryProperties(index);
  KillTimer(nullptr, timer);
  Check(g_script.next == g_script.steps.size(), "every step ran");
  Check(!HaveEntryProperties(), "the record is released after the run");
  return applied;
}

int SelfTest(const char* logPath) {
  g_log.open(logPath);
  if (!MakeSave(std::filesystem::temp_directory_path() / "moravelt-properties-demo")) {
    Check(false, "the demo save is built");
    return 1;
  }
  CSaveGame& save = *GetAppState().currentSave;

  // 1. A file: change a mode bit, enter a new creation time by keys and a paste, fail the
  //    modification time with a blank, rename, OK.
  bool applied = RunScripted(0, {
      [](HWND d) {
        Check(Text(d) == "Properties", "caption");
        CheckText(d, IDC_PROP_NAME, "DATA.BIN");
        CheckText(d, IDC_PROP_SUMMARY, "1.5 kB");
        CheckText(d, IDC_PROP_CREATED, "5 March 2007 14:03:09");
        CheckText(d, IDC_PROP_MODIFIED, "24 December 2008 01:02:03");
        CheckText(d, IDC_PROP_ATTRIBUTES, "Attributes (0x00008497)");
        Check(IsDlgButtonChecked(d, 1023) == BST_CHECKED, "Read box checked");
        Check(IsDlgButtonChecked(d, 1026) == BST_UNCHECKED, "Copy Protected box clear");
        Check(IsDlgButtonChecked(d, 1038) == BST_CHECKED, "PS2 box checked");
        Check(!IsWindowEnabled(GetDlgItem(d, 1027)), "File box disabled");
        Check(!IsWindowEnabled(GetDlgItem(d, 1028)), "Directory box disabled");
        Check(!IsWindowVisible(GetDlgItem(d, IDC_PROP_CREATED_ENTRY)), "entry field hidden");
        Check(SendDlgItemMessageW(d, IDC_PROP_CREATED_ENTRY, EM_GETLIMITTEXT, 0, 0) == 19,
              "creation entry field limited to 19");
      },
      [](HWND d) {
        SendDlgItemMessageW(d, 1026, BM_CLICK, 0, 0);
        Check(IsDlgButtonChecked(d, 1026) == BST_CHECKED, "Copy Protected box now checked");
        CheckText(d, IDC_PROP_ATTRIBUTES, "Attributes (0x0000849F)");
      },
      [](HWND d) {
        Click(d, IDC_PROP_EDIT_CREATED);
        HWND field = GetDlgItem(d, IDC_PROP_CREATED_ENTRY);
        Check(IsWindowVisible(field) && IsWindowEnabled(field), "entry field open");
        Check(!IsWindowVisible(GetDlgItem(d, IDC_PROP_CREATED)), "display field hidden");
        CheckText(d, IDC_PROP_CREATED_ENTRY, "05-03-2007 14:03:09");
        CheckText(d, IDC_PROP_EDIT_CREATED, "Ok");
        Check(GetFocus() == field, "entry field has the focus");
        Check(CaretOf(field) == 0, "caret at 0");
      },
      [](HWND d) {
        HWND field = GetDlgItem(d, IDC_PROP_CREATED_ENTRY);
        Type(field, "12");
        CheckText(d, IDC_PROP_CREATED_ENTRY, "12-03-2007 14:03:09");
        Check(CaretOf(field) == 3, "caret past the separator");
        SendMessageW(field, WM_KEYDOWN, VK_DELETE, 0);
        CheckText(d, IDC_PROP_CREATED_ENTRY, "12-_3-2007 14:03:09");
        Type(field, "x- ");
        CheckText(d, IDC_PROP_CREATED_ENTRY, "12-_3-2007 14:03:09");
        Type(field, "0");
        SendMessageW(field, WM_RBUTTONDOWN, 0, 0);
        Type(field, "\b");
        CheckText(d, IDC_PROP_CREATED_ENTRY, "12-_3-2007 14:03:09");
        Type(field, "0");
        SetCaretAt(field, 6);
        PutOnClipboard(field, L"2024 09:30:00 and then 12345678901234567890");
        SendMessageW(field, WM_PASTE, 0, 0);
        CheckText(d, IDC_PROP_CREATED_ENTRY, "12-03-2024 09:30:00");
        SendMessageW(field, EM_SETSEL, 0, 5);
        SendMessageW(field, WM_CUT, 0, 0);
        CheckText(d, IDC_PROP_CREATED_ENTRY, "12-03-2024 09:30:00");
      },
      [](HWND d) {
        Click(d, IDC_PROP_EDIT_CREATED);
        CheckText(d, IDC_PROP_CREATED, "12 March 2024 09:30:00");
        Check(!IsWindowVisible(GetDlgItem(d, IDC_PROP_CREATED_ENTRY)), "entry field hidden again");
        CheckText(d, IDC_PROP_EDIT_CREATED, "Edit");
      },
      [](HWND d) {
        // The modification field has no text limit; a paste still can't lengthen it.
        Click(d, IDC_PROP_EDIT_MODIFIED);
        HWND field = GetDlgItem(d, IDC_PROP_MODIFIED_ENTRY);
        SetCaretAt(field, 0);
        PutOnClipboard(field, std::wstring(60, L'1'));
        SendMessageW(field, WM_PASTE, 0, 0);
        CheckText(d, IDC_PROP_MODIFIED_ENTRY, "11-11-1111 11:11:11");
        SetCaretAt(field, 0);
        SendMessageW(field, WM_KEYDOWN, VK_DELETE, 0);
        g_script.expectedWarning =
            "All blanks have to be filled with digits.\nOperation cancelled.";
        Click(d, IDC_PROP_EDIT_MODIFIED);
        Check(g_script.expectedWarning.empty(), "the blank warning was shown");
        CheckText(d, IDC_PROP_MODIFIED, "24 December 2008 01:02:03");
      },
      [](HWND d) {
        SetDlgItemTextW(d, IDC_PROP_NAME, L"RENAMED.BIN");
        Click(d, IDOK);
      },
  });
  Check(applied, "OK applies the changes");
  const SaveEntry* file = save.EntryAt(0);
  Check(file->Name() == "RENAMED.BIN", "the file is renamed");
  Check(file->mode == 0x849F, "the Copy Protected bit is set");
  Check(file->created == Time(2024, 3, 12, 9, 30, 0), "the new creation time is stored");
  Check(file->modified == Time(2008, 12, 24, 1, 2, 3), "the modification time is unchanged");

  // 2. The folder: changes, then Cancel.
  applied = RunScripted(-1, {
      [](HWND d) {
        CheckText(d, IDC_PROP_SUMMARY, "Num. of fiiles = 2");
        CheckText(d, IDC_PROP_NAME, "BESLES-12345SAVE");
        CheckText(d, IDC_PROP_ATTRIBUTES, "Attributes (0x00008427)");
        SendDlgItemMessageW(d, 1037, BM_CLICK, 0, 0);
        SetDlgItemTextW(d, IDC_PROP_NAME, L"OTHER");
        Click(d, IDCANCEL);
      },
  });
  Check(!applied, "Cancel applies nothing");
  Check(save.EntryAt(-1)->Name() == "BESLES-12345SAVE" && save.EntryAt(-1)->mode == 0x8427,
        "the folder is unchanged after Cancel");

  // 3. The folder again: an invalid time is refused, a time left open is not stored, and
  //    the close box ends the dialog without applying.
  applied = RunScripted(-1, {
      [](HWND d) {
        Click(d, IDC_PROP_EDIT_CREATED);
        HWND field = GetDlgItem(d, IDC_PROP_CREATED_ENTRY);
        SetCaretAt(field, 0);
        Type(field, "32");
        g_script.expectedWarning = "Invalid date/time format.\nOperation cancelled.";
        Click(d, IDC_PROP_EDIT_CREATED);
        Check(g_script.expectedWarning.empty(), "the invalid-format warning was shown");
        CheckText(d, IDC_PROP_CREATED, "5 March 2007 14:03:09");
      },
      [](HWND d) { SendMessageW(d, WM_CLOSE, 0, 0); },
  });
  Check(!applied, "the close box applies nothing");

  applied = RunScripted(-1, {
      [](HWND d) {
        Click(d, IDC_PROP_EDIT_MODIFIED);
        Type(GetDlgItem(d, IDC_PROP_MODIFIED_ENTRY), "01012001");
        Click(d, IDOK);
      },
  });
  Check(applied, "OK with a time still open applies");
  Check(save.EntryAt(-1)->modified == Time(2008, 12, 24, 1, 2, 3),
        "a time left open keeps its old value");

  // 4. Enter in an open entry field is the dialog's OK (the default button), Escape its
  //    Cancel; both go through the dialog's own keyboard handling, so they are posted.
  applied = RunScripted(1, {
      [](HWND d) {
        Click(d, IDC_PROP_EDIT_CREATED);
        HWND field = GetDlgItem(d, IDC_PROP_CREATED_ENTRY);
        Type(field, "0101");
        PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0);
      },
  });
  Check(applied, "Enter in the entry field ends the dialog with OK");
  Check(save.EntryAt(1)->created == Time(2007, 3, 5, 14, 3, 9),
        "Enter in the entry field keeps the old time");
  applied = RunScripted(1, {
      [](HWND d) {
        SendDlgItemMessageW(d, 1023, BM_CLICK, 0, 0);
        PostMessageW(GetDlgItem(d, IDC_PROP_NAME), WM_KEYDOWN, VK_ESCAPE, 0);
      },
  });
  Check(!applied && save.EntryAt(1)->mode == EntryMode::kNewFile, "Escape acts as Cancel");

  // 5. Names that are not plain ASCII: Japanese text shows as such, and bytes that are not
  //    UTF-8 come back unchanged when the user leaves the name alone.
  save.SetName(1, "\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96.DAT");
  applied = RunScripted(1, {
      [](HWND d) {
        CheckText(d, IDC_PROP_NAME, "\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96.DAT");
        Click(d, IDOK);
      },
  });
  Check(applied && save.EntryAt(1)->Name() == "\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96.DAT",
        "a Japanese name comes back unchanged");
  save.SetName(1, "caf\xE9");
  applied = RunScripted(1, {[](HWND d) { Click(d, IDOK); }});
  Check(applied && save.EntryAt(1)->Name() == "caf\xE9", "a name that is not UTF-8 is kept");

  Check(!RunEntryProperties(5), "no dialog for a row that doesn't exist");
  g_log << (g_failures == 0 ? "PASS" : "FAILED") << "\n";
  return g_failures == 0 ? 0 : 1;
}

// Opens the dialog for a person (or a screenshot) to look at.
std::filesystem::path g_showDir;
bool g_openEdit = false;

void CALLBACK ShowTick(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = PropertiesWindow();
  if (!dialog || !IsWindowVisible(dialog)) return;
  static bool announced = false;
  if (!announced) {
    announced = true;
    if (g_openEdit) {
      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_PROP_EDIT_CREATED, BN_CLICKED), 0);
      HWND field = GetDlgItem(dialog, IDC_PROP_CREATED_ENTRY);
      SendMessageW(field, WM_KEYDOWN, VK_DELETE, 0);
    }
    std::ofstream(g_showDir / "shown") << "shown\n";
  }
  if (std::filesystem::exists(g_showDir / "close")) SendMessageW(dialog, WM_CLOSE, 0, 0);
}

int Show(const char* dir, bool openEdit) {
  g_showDir = dir;
  g_openEdit = openEdit;
  if (!MakeSave(std::filesystem::temp_directory_path() / "moravelt-properties-demo")) return 1;
  GetAppState().currentSave->EntryAt(0)->mode = 0x8497 | 0x4000;
  UINT_PTR timer = SetTimer(nullptr, 0, 200, ShowTick);
  RunEntryProperties(0);
  KillTimer(nullptr, timer);
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  GetAppState().instance = instance;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    char buffer[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, buffer, sizeof buffer, nullptr, nullptr);
    args.emplace_back(buffer);
  }
  LocalFree(argv);
  if (args.size() >= 3 && args[1] == "--selftest") return SelfTest(args[2].c_str());
  if (args.size() >= 3 && args[1] == "--show") {
    return Show(args[2].c_str(), args.size() >= 4 && args[3] == "--edit");
  }
  return 2;
}
