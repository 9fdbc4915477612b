// Drives the real moravelt.exe the way a user would: starts it, finds the main dialog by
// its caption and the controls by their resource ids, clicks, reads texts and enabled
// states back, answers the open and save dialogs and the message boxes, and compares
// the files written with the bytes they must hold.
//
//   moravelt-e2e <moravelt.exe> <moravelt-cli.exe> <work folder> <corpus folder> <case>
//
// The command line, which shares the container classes, tells what bytes a conversion
// must give; the library itself reads back and checks the memory cards the program wrote.
//
// Exit status: 0 passed, 1 failed, 77 skipped (the build lacks what the case needs).
// One case per run, each in a fresh process of the program; a script gives every run
// its time bound.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "card/card.h"
#include "card/card_messages.h"
#include "card_ids.h"
#include "formats/registry.h"
#include "model/entry_data.h"
#include "model/icon_sys.h"
#include "properties_ids.h"
#include "resource.h"
#include "sd/split.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::wstring g_exe, g_cli, g_work, g_corpus;
int g_failures = 0;

void Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

#define CHECK(cond)                                                   \
  do {                                                                \
    if (!(cond)) {                                                    \
      Log("FAIL %s:%d: %s", __FILE__, __LINE__, #cond);               \
      ++g_failures;                                                   \
    }                                                                 \
  } while (0)

#define CHECK_EQ(a, b)                                                                   \
  do {                                                                                   \
    auto va_ = (a);                                                                      \
    auto vb_ = (b);                                                                      \
    if (!(va_ == vb_)) {                                                                 \
      Log("FAIL %s:%d: %s == %s\n  got:  %s\n  want: %s", __FILE__, __LINE__, #a, #b,    \
          Show(va_).c_str(), Show(vb_).c_str());                                         \
      ++g_failures;                                                                      \
    }                                                                                    \
  } while (0)

std::string Show(const std::string& s) {
  std::string out;
  out.reserve(s.size() + 2);
  out.push_back('"');
  out.append(s);
  out.push_back('"');
  return out;
}
std::string Show(const std::wstring& w) { return Show(Utf8(w)); }
[[maybe_unused]] std::string Show(const wchar_t* w) { return Show(std::wstring(w)); }
std::string Show(int v) { return std::to_string(v); }
std::string Show(unsigned v) { return std::to_string(v); }
std::string Show(unsigned long v) { return std::to_string(v); }
std::string Show(std::size_t v) { return std::to_string(v); }
std::string Show(const std::vector<std::wstring>& v) {
  std::string out = "[";
  for (const auto& w : v) out += Show(w) + " ";
  return out + "]";
}
std::string Show(long long v) { return std::to_string(v); }
// Short byte strings (times) in full, longer ones by their length.
std::string Show(const Bytes& b) {
  if (b.size() > 16) return std::to_string(b.size()) + " bytes";
  std::string out;
  for (std::uint8_t v : b) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X ", v);
    out += hex;
  }
  return out;
}

struct Fatal {};

BOOL CALLBACK DumpProc(HWND hwnd, LPARAM) {
  if (!IsWindowVisible(hwnd)) return TRUE;
  wchar_t cls[64] = {}, title[256] = {};
  GetClassNameW(hwnd, cls, 64);
  GetWindowTextW(hwnd, title, 256);
  Log("  window %p class \"%s\" title \"%s\" owner %p", static_cast<void*>(hwnd),
      Utf8(cls).c_str(), Utf8(title).c_str(), static_cast<void*>(GetWindow(hwnd, GW_OWNER)));
  return TRUE;
}

[[noreturn]] void Abort(const char* what) {
  Log("FAIL %s; visible windows:", what);
  EnumWindows(DumpProc, 0);
  ++g_failures;
  throw Fatal{};
}

bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
  for (int waited = 0; waited < ms; waited += 50) {
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

// ---- files ---------------------------------------------------------------------------

std::wstring WorkPath(const std::wstring& name) { return g_work + L"\\" + name; }

Bytes ReadAll(const std::wstring& path) {
  Bytes out;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return out;
  LARGE_INTEGER size{};
  GetFileSizeEx(h, &size);
  out.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD got = 0;
  if (!out.empty()) ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &got, nullptr);
  out.resize(got);
  CloseHandle(h);
  return out;
}

void WriteAll(const std::wstring& path, const Bytes& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) Abort("cannot write a test file");
  DWORD put = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(h);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

Bytes Pseudo(std::size_t n, unsigned seed) {
  Bytes b(n);
  unsigned x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<std::uint8_t>(x >> 16);
  }
  return b;
}

// ---- Memory Linker images ------------------------------------------------------------

struct PsuFile {
  std::string name;
  Bytes data;
  // Read back from a written file only.
  std::uint32_t mode = 0;
  Bytes created{}, modified{};
};

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

Bytes PsuHeader(std::uint32_t mode, std::uint32_t size, const std::string& name) {
  Bytes h(512, 0);
  Put32(h, 0, mode);
  Put32(h, 4, size);
  const std::uint8_t time[8] = {0, 9, 3, 14, 5, 3, 0xD7, 0x07};  // 5 March 2007 14:03:09
  for (int i = 0; i < 8; ++i) h[8 + i] = h[0x18 + i] = time[i];
  for (std::size_t i = 0; i < name.size() && i < 32; ++i) h[0x40 + i] = static_cast<std::uint8_t>(name[i]);
  return h;
}

Bytes IconSys(const std::string& title) {
  Bytes b(964, 0);
  b[0] = 'P', b[1] = 'S', b[2] = '2', b[3] = 'D';
  for (std::size_t i = 0; i < title.size(); ++i) b[192 + i] = static_cast<std::uint8_t>(title[i]);
  return b;
}

Bytes BuildPsu(const std::string& folder, const std::vector<PsuFile>& files) {
  Bytes out;
  auto append = [&out](const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); };
  append(PsuHeader(0x8427, static_cast<std::uint32_t>(files.size() + 2), folder));
  append(PsuHeader(0x8427, 0, "."));
  append(PsuHeader(0x8427, 0, ".."));
  for (const PsuFile& f : files) {
    append(PsuHeader(0x8497, static_cast<std::uint32_t>(f.data.size()), f.name));
    append(f.data);
    out.insert(out.end(), (1024 - f.data.size() % 1024) % 1024, 0xFF);
  }
  return out;
}

// The save every case starts from.
std::vector<PsuFile> SampleFiles() {
  return {{"icon.sys", IconSys("SAMPLE TITLE")},
          {"icon.ico", Pseudo(1536, 1)},
          {"save.dat", Pseudo(3000, 2)}};
}

struct ParsedPsu {
  std::string folder;
  std::uint32_t rootMode = 0;
  Bytes rootCreated, rootModified;
  std::vector<PsuFile> files;
  bool ok = false;
};

std::vector<std::wstring> NamesOf(const ParsedPsu& p);

ParsedPsu ParsePsu(const Bytes& b) {
  ParsedPsu p;
  auto name = [&b](std::size_t at) {
    std::string s;
    for (std::size_t i = 0; i < 32 && b[at + 0x40 + i]; ++i) s.push_back(static_cast<char>(b[at + 0x40 + i]));
    return s;
  };
  if (b.size() < 1536) return p;
  auto time = [&b](std::size_t at) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + 8));
  };
  p.rootMode = Get32(b, 0);
  p.rootCreated = time(8);
  p.rootModified = time(0x18);
  p.folder = name(0);
  std::uint32_t count = Get32(b, 4);
  std::size_t at = 1536;
  for (std::uint32_t i = 2; i < count; ++i) {
    if (at + 512 > b.size()) return p;
    std::uint32_t size = Get32(b, at + 4);
    PsuFile f{name(at), {}, Get32(b, at), time(at + 8), time(at + 0x18)};
    at += 512;
    if (at + size > b.size()) return p;
    f.data.assign(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + size));
    at += size + (1024 - size % 1024) % 1024;
    p.files.push_back(std::move(f));
  }
  p.ok = true;
  return p;
}

// ---- the program under test ----------------------------------------------------------

struct FoundWindow {
  DWORD pid;
  const wchar_t* title;  // nullptr: any
  HWND owner;            // nullptr: any
  HWND found;
  bool skipCardWindow = false;  // the card window is no dialog waiting for an answer
};

constexpr std::wstring_view kCardCaption = L"Memory card - ";

BOOL CALLBACK FindProc(HWND hwnd, LPARAM lParam) {
  auto* f = reinterpret_cast<FoundWindow*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != f->pid || !IsWindowVisible(hwnd)) return TRUE;
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  if (std::wstring(cls) != L"#32770") return TRUE;
  if (f->owner && GetWindow(hwnd, GW_OWNER) != f->owner) return TRUE;
  if (f->title || f->skipCardWindow) {
    wchar_t text[256] = {};
    GetWindowTextW(hwnd, text, 256);
    if (f->title && std::wstring(text) != f->title) return TRUE;
    if (f->skipCardWindow && std::wstring_view(text).starts_with(kCardCaption)) return TRUE;
  }
  f->found = hwnd;
  return FALSE;
}

std::wstring WindowText(HWND hwnd) {
  wchar_t buffer[4096] = {};
  DWORD_PTR got = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &got);
  return buffer;
}

class App {
 public:
  // `arguments`: the command line after the program's name.
  explicit App(const std::wstring& arguments = {}) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring command = L"\"" + g_exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    if (!CreateProcessW(g_exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        g_work.c_str(), &si, &pi_))
      Abort("cannot start moravelt.exe");
    WaitForInputIdle(pi_.hProcess, 10000);
    if (!WaitUntil([this] { return (main_ = Find(L"Converter", nullptr)) != nullptr; }, 20000))
      Abort("no window captioned \"Converter\"");
    list_ = Control(IDC_FILE_LIST);
    remote_ = VirtualAllocEx(pi_.hProcess, nullptr, 8192, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote_) Abort("VirtualAllocEx");
  }
  ~App() {
    if (!exited_) TerminateProcess(pi_.hProcess, 1);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }

  HWND main() const { return main_; }
  DWORD Pid() const { return pi_.dwProcessId; }
  HWND Find(const wchar_t* title, HWND owner) const {
    FoundWindow f{pi_.dwProcessId, title, owner, nullptr};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&f));
    return f.found;
  }
  HWND Control(int id) const {
    HWND h = GetDlgItem(main_, id);
    if (!h) Abort("missing control");
    return h;
  }
  std::wstring Text(int id) const { return WindowText(Control(id)); }
  bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }

  // A click or menu choice, posted so that a modal dialog it opens doesn't block us.
  void Command(int id) { PostMessageW(main_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
  // Waits until the program has handled everything posted so far. A message sent from
  // another process is handled before the messages posted earlier, so a round trip
  // alone proves nothing (the rename case failed that way now and then). Instead a
  // harmless setting of the list (its hover time, which nothing here uses) is posted
  // behind everything else and read back until it has changed: posted messages are
  // handled in order.
  void Settle() {
    static WPARAM mark = 0;
    const LPARAM hover = static_cast<LPARAM>(400 + (++mark % 100));
    PostMessageW(list_, LVM_SETHOVERTIME, 0, hover);
    WaitUntil([&] {
      DWORD_PTR now = 0;
      return SendMessageTimeoutW(list_, LVM_GETHOVERTIME, 0, 0, SMTO_NORMAL, 1000, &now) &&
             static_cast<LPARAM>(now) == hover;
    });
  }

  // Menu items, when this system lets another process read the menu.
  int MenuState(int id) const {
    HMENU menu = GetMenu(main_);
    if (!menu) return -1;
    UINT state = GetMenuState(menu, static_cast<UINT>(id), MF_BYCOMMAND);
    if (state == static_cast<UINT>(-1)) return -1;
    return (state & (MF_GRAYED | MF_DISABLED)) ? 0 : 1;
  }

  // Answers the next file dialog with a path; returns the name it offered.
  std::wstring AnswerFileDialog(const wchar_t* title, const std::wstring& path, HWND owner = nullptr) {
    HWND dialog = nullptr;
    if (!WaitUntil([&] { return (dialog = Find(title, owner ? owner : main_)) != nullptr; }))
      Abort("file dialog did not appear");
    HWND edit = FileNameEdit(dialog);
    if (!edit) Abort("file dialog has no name field");
    WaitUntil([&] { return IsWindowVisible(edit) != FALSE; });
    std::wstring offered = WindowText(edit);
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    // Closed, or asking something first.
    WaitUntil([&] { return !IsWindow(dialog) || Find(nullptr, dialog) != nullptr; });
    return offered;
  }
  // Answers the system's folder picker (owned by the main window) with a folder, selected
  // in its tree as a click would.
  void AnswerFolderPicker(const std::wstring& folder) {
    HWND dialog = nullptr;
    if (!WaitUntil([&] {
          FoundWindow f{pi_.dwProcessId, nullptr, main_, nullptr, true};
          EnumWindows(FindProc, reinterpret_cast<LPARAM>(&f));
          return (dialog = f.found) != nullptr;
        }))
      Abort("the folder picker did not appear");
    WriteProcessMemory(pi_.hProcess, remote_, folder.c_str(), (folder.size() + 1) * sizeof(wchar_t), nullptr);
    // The picker fills its tree after it shows: on a busy machine a selection made at once
    // was undone by that (even one made again half a second later), and the picker
    // answered the folder it started in. So the folder is chosen until the tree has shown
    // it selected twice in a row, 200 ms apart, and only then is OK pressed.
    const std::wstring name = folder.substr(folder.find_last_of(L"\\/") + 1);
    HWND tree = FindWindowExW(dialog, nullptr, L"SysTreeView32", nullptr);
    int seen = 0;
    for (int tries = 0; tries < 100 && seen < 2; ++tries) {
      if (seen == 0) SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote_));
      Sleep(200);
      seen = tree && SelectedTreeText(tree) == name ? seen + 1 : 0;
    }
    if (seen < 2) Abort("the folder picker did not keep the folder selected");
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    WaitUntil([&] { return !IsWindow(dialog); });
  }
  // The filter the file dialog shows, and the one selected.
  void CancelFileDialog(const wchar_t* title, std::wstring* offered = nullptr, std::wstring* filter = nullptr) {
    HWND dialog = nullptr;
    if (!WaitUntil([&] { return (dialog = Find(title, main_)) != nullptr; }))
      Abort("file dialog did not appear");
    if (HWND edit = FileNameEdit(dialog); edit && offered) *offered = WindowText(edit);
    if (filter) *filter = WindowText(GetDlgItem(dialog, 0x470));  // cmb1, the type box
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    WaitUntil([&] { return !IsWindow(dialog); });
  }

  // Waits for a message box with this caption, returns its text and presses a button.
  // `ms`: how long the box may take to come, for work that may take a while on a busy
  // machine.
  std::wstring AnswerMessageBox(const wchar_t* caption, int button, HWND owner = nullptr, int ms = 10000) {
    HWND box = nullptr;
    if (!WaitUntil([&] { return (box = Find(caption, owner ? owner : main_)) != nullptr; }, ms))
      Abort("message box did not appear");
    std::wstring text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      wchar_t cls[32] = {};
      GetClassNameW(child, cls, 32);
      if (std::wstring(cls) == L"Static") {
        std::wstring t = WindowText(child);
        if (!t.empty()) text = t;
      }
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    WaitUntil([&] { return !IsWindow(box); });
    return text;
  }
  bool NoDialogOpen() const {
    FoundWindow f{pi_.dwProcessId, nullptr, main_, nullptr, true};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&f));
    return f.found == nullptr;
  }

  // The text of a tree view's selected item, read through memory in the program's process
  // (past the first 4 KiB there, which may hold a path handed to a dialog).
  std::wstring SelectedTreeText(HWND tree) {
    const auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!selected) return {};
    auto* itemAt = static_cast<char*>(remote_) + 4096;
    auto* textAt = itemAt + 1024;
    TVITEMW item{};
    item.mask = TVIF_TEXT | TVIF_HANDLE;
    item.hItem = selected;
    item.pszText = reinterpret_cast<wchar_t*>(textAt);
    item.cchTextMax = 512;
    WriteProcessMemory(pi_.hProcess, itemAt, &item, sizeof item, nullptr);
    wchar_t zero = 0;
    WriteProcessMemory(pi_.hProcess, textAt, &zero, sizeof zero, nullptr);
    if (!SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(itemAt))) return {};
    wchar_t text[512] = {};
    ReadProcessMemory(pi_.hProcess, textAt, text, sizeof text - sizeof(wchar_t), nullptr);
    return text;
  }

  // The file list, read through memory in the program's process.
  int Rows() const { return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }
  std::wstring Cell(int row, int column) { return CellOf(list_, row, column); }
  // A cell of any list view of the program.
  std::wstring CellOf(HWND list, int row, int column) {
    LVITEMW item{};
    item.iSubItem = column;
    item.cchTextMax = 1024;
    auto* textAt = static_cast<char*>(remote_) + 1024;
    item.pszText = reinterpret_cast<wchar_t*>(textAt);
    WriteProcessMemory(pi_.hProcess, remote_, &item, sizeof item, nullptr);
    wchar_t zero = 0;
    WriteProcessMemory(pi_.hProcess, textAt, &zero, sizeof zero, nullptr);
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote_));
    wchar_t text[1024] = {};
    ReadProcessMemory(pi_.hProcess, textAt, text, sizeof text - sizeof(wchar_t), nullptr);
    return text;
  }
  std::vector<std::wstring> Names() {
    std::vector<std::wstring> names;
    for (int r = 0; r < Rows(); ++r) names.push_back(Cell(r, 0));
    return names;
  }
  void Select(int row) { SelectIn(list_, row, /*add=*/true); }
  // Selects a row of any list view of the program (-1: clears the selection); with `add`
  // the rows selected before stay selected.
  void SelectIn(HWND list, int row, bool add = false) {
    LVITEMW item{};
    if (!add && row >= 0) {
      item.stateMask = LVIS_SELECTED;
      WriteProcessMemory(pi_.hProcess, remote_, &item, sizeof item, nullptr);
      SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(remote_));
    }
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = row >= 0 ? LVIS_SELECTED | LVIS_FOCUSED : 0;
    WriteProcessMemory(pi_.hProcess, remote_, &item, sizeof item, nullptr);
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote_));
  }
  int ColumnWidth(int column) { return static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0)); }
  HWND list() const { return list_; }

  // A double click on a row's name, as the mouse gives it to the list.
  void DoubleClickRow(int row) {
    RECT r{};
    r.left = LVIR_LABEL;
    WriteProcessMemory(pi_.hProcess, remote_, &r, sizeof r, nullptr);
    SendMessageW(list_, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote_));
    ReadProcessMemory(pi_.hProcess, remote_, &r, sizeof r, nullptr);
    PostMessageW(list_, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
  }

  // Renames a row in place and presses Enter.
  void EditLabel(int row, const std::wstring& text) {
    SetForegroundWindow(main_);
    HWND edit = reinterpret_cast<HWND>(SendMessageW(list_, LVM_EDITLABELW, static_cast<WPARAM>(row), 0));
    if (!edit) Abort("label edit did not start");
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
    // Wait until the edit is gone, or a message box about the name is up.
    if (!WaitUntil([&] { return !IsWindow(edit) || !NoDialogOpen(); }))
      Abort("label edit did not end");
  }
  void PressKeyInList(UINT key) {
    PostMessageW(list_, WM_KEYDOWN, key, 0);
    PostMessageW(list_, WM_KEYUP, key, 0xC0000001);
  }

  // Opens a container through the Open button.
  void Open(const std::wstring& path) {
    Command(IDC_OPEN);
    AnswerFileDialog(L"Open", path);
    WaitUntil([&] { return Find(L"Open", main_) == nullptr; });
    Settle();
  }

  // Ends the program through "E&xit" and returns its exit status.
  DWORD Exit() {
    Command(IDM_EXIT);
    if (WaitForSingleObject(pi_.hProcess, 10000) != WAIT_OBJECT_0) Abort("program did not end");
    exited_ = true;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
  }

 private:
  static HWND FileNameEdit(HWND dialog) {
    if (HWND combo = GetDlgItem(dialog, 0x47c)) {  // cmb13
      if (HWND edit = FindWindowExW(combo, nullptr, L"Edit", nullptr)) return edit;
      return combo;
    }
    return GetDlgItem(dialog, 0x480);  // edt1
  }

  PROCESS_INFORMATION pi_{};
  HWND main_ = nullptr;
  HWND list_ = nullptr;
  void* remote_ = nullptr;
  bool exited_ = false;
};

// Signals the script that a screenshot can be taken, and waits until it has been.
void Screenshot(const char* name) {
  std::wstring ready = WorkPath(L"shot-" + Wide(name) + L".ready");
  std::wstring done = WorkPath(L"shot-" + Wide(name) + L".done");
  WriteAll(ready, {});
  if (!WaitUntil([&] { return Exists(done); }, 20000)) Log("note: no screenshot taken for %s", name);
}

std::wstring WritePsu(const std::wstring& name, const std::vector<PsuFile>& files, const std::string& folder = "BESLES-12345SAVE") {
  std::wstring path = WorkPath(name);
  WriteAll(path, BuildPsu(folder, files));
  return path;
}

// The save dialog's question before it overwrites an existing file: a message box owned
// by the dialog.
void AnswerOverwritePrompt(App& app) {
  HWND dialog = app.Find(L"Save As", app.main());
  if (!dialog) Abort("the save dialog closed without asking about the existing file");
  HWND prompt = nullptr;
  if (!WaitUntil([&] { return (prompt = app.Find(nullptr, dialog)) != nullptr; }))
    Abort("no overwrite question");
  PostMessageW(prompt, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
  WaitUntil([&] { return !IsWindow(dialog); });
}

// Sends a message to a window of the program and returns the result, never waiting long.
LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, 10000, &result))
    Abort("the program did not answer a message");
  return static_cast<LRESULT>(result);
}

// Saves through the Save button as a new file and waits until it is there.
void SaveAs(App& app, const std::wstring& path) {
  app.Command(IDC_SAVE);
  app.AnswerFileDialog(L"Save As", path);
  if (!WaitUntil([&] { return Exists(path) && app.NoDialogOpen(); })) Abort("the save was not written");
  app.Settle();
}

// Saves over the file the save came from: the "~0" file, then the save loaded again.
void SaveInPlace(App& app, const std::wstring& path) {
  app.Command(IDC_SAVE);
  app.AnswerFileDialog(L"Save As", path);
  AnswerOverwritePrompt(app);
  WaitUntil([&] { return app.NoDialogOpen(); });
  app.Settle();
  CHECK(app.NoDialogOpen());
  CHECK(!Exists(path + L"~0"));
}

std::wstring Quote(const std::wstring& s) { return L"\"" + s + L"\""; }

// Runs moravelt-cli.exe in the work folder and returns its exit status.
DWORD RunCli(const std::wstring& arguments) {
  std::wstring command = Quote(g_cli) + L" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(g_cli.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      g_work.c_str(), &si, &pi))
    Abort("cannot start moravelt-cli.exe");
  DWORD code = 1;
  if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 1);
    Log("FAIL moravelt-cli.exe did not end");
    ++g_failures;
  } else {
    GetExitCodeProcess(pi.hProcess, &code);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

// What the command line writes for the same conversion.
Bytes CliConvert(const std::wstring& source, const std::wstring& target) {
  DWORD code = RunCli(L"convert " + Quote(source) + L" " + Quote(target));
  CHECK_EQ(code, 0ul);
  return ReadAll(target);
}

// The save the conversion cases start from, in the family of `extension`: the corpus file
// when there is one, else one the command line converts from the built Memory Linker file.
std::wstring SourceSave(const std::wstring& extension) {
  std::wstring corpus = g_corpus + L"\\" + extension + L"\\a." + extension;
  std::wstring path = WorkPath(L"source." + extension);
  if (Exists(corpus)) {
    WriteAll(path, ReadAll(corpus));
    return path;
  }
  if (extension == L"psu") return WritePsu(L"source.psu", SampleFiles());
  CliConvert(WritePsu(L"built.psu", SampleFiles()), path);
  return path;
}

// The Memory Linker form of the conversion cases' save, whose files every format holds.
ParsedPsu ReferencePsu() {
  std::wstring corpus = g_corpus + L"\\psu\\a.psu";
  return ParsePsu(Exists(corpus) ? ReadAll(corpus) : BuildPsu("BESLES-12345SAVE", SampleFiles()));
}

std::vector<std::wstring> NamesOf(const ParsedPsu& p) {
  std::vector<std::wstring> names;
  for (const PsuFile& f : p.files) names.push_back(Wide(f.name));
  return names;
}

void CheckSameFiles(const ParsedPsu& written, const ParsedPsu& reference) {
  CHECK(written.ok && reference.ok);
  CHECK_EQ(written.folder, reference.folder);
  CHECK_EQ(written.files.size(), reference.files.size());
  for (std::size_t i = 0; i < written.files.size() && i < reference.files.size(); ++i) {
    CHECK_EQ(written.files[i].name, reference.files[i].name);
    CHECK_EQ(written.files[i].data, reference.files[i].data);
  }
}

// A Memory Linker image with the two times of every header zeroed. An ARMAX file keeps no
// times: its loader stamps the moment of loading, which differs between two programs.
Bytes WithoutTimes(Bytes b) {
  auto clear = [&b](std::size_t at) {
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(at + 8), b.begin() + static_cast<std::ptrdiff_t>(at + 16), 0);
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(at + 0x18), b.begin() + static_cast<std::ptrdiff_t>(at + 0x20), 0);
  };
  if (b.size() < 1536) return b;
  for (std::size_t at : {0, 512, 1024}) clear(at);
  std::uint32_t count = Get32(b, 4);
  std::size_t at = 1536;
  for (std::uint32_t i = 2; i < count && at + 512 <= b.size(); ++i) {
    std::uint32_t size = Get32(b, at + 4);
    clear(at);
    at += 512 + size + (1024 - size % 1024) % 1024;
  }
  return b;
}

// Puts text on the clipboard, from a window of our own.
void PutOnClipboard(const std::wstring& text) {
  static HWND owner = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (!OpenClipboard(owner)) Abort("cannot open the clipboard");
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  auto* p = static_cast<wchar_t*>(GlobalLock(memory));
  std::copy(text.c_str(), text.c_str() + text.size() + 1, p);
  GlobalUnlock(memory);
  SetClipboardData(CF_UNICODETEXT, memory);
  CloseClipboard();
}

// The Properties dialog, once it is open above the main window.
class Props {
 public:
  explicit Props(App& app) : app_(app) {
    if (!WaitUntil([&] { return (d_ = app.Find(L"Properties", app.main())) != nullptr; }))
      Abort("the Properties dialog did not appear");
  }
  HWND hwnd() const { return d_; }
  HWND Item(int id) const { return GetDlgItem(d_, id); }
  std::wstring Text(int id) const { return WindowText(Item(id)); }
  bool Checked(int id) const { return Send(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
  // A check box, clicked as the mouse does it.
  void ClickBox(int id) { Send(Item(id), BM_CLICK, 0, 0); }
  // A push button that opens nothing: done when this returns.
  void Click(int id) { Send(d_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id))); }
  // A push button that may open a message box.
  void Press(int id) { PostMessageW(d_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id))); }
  void Type(int id, const std::string& chars) {
    for (char c : chars) Send(Item(id), WM_CHAR, static_cast<unsigned char>(c), 1);
  }
  void Key(int id, UINT key) { Send(Item(id), WM_KEYDOWN, key, 1); }
  void Paste(int id, int at, const std::wstring& text) {
    PutOnClipboard(text);
    SetCaret(id, at);
    Send(Item(id), WM_PASTE, 0, 0);
  }
  void SetCaret(int id, int at) { Send(Item(id), EM_SETSEL, static_cast<WPARAM>(at), at); }
  int Caret(int id) const { return LOWORD(Send(Item(id), EM_GETSEL, 0, 0)); }
  void SetText(int id, const std::wstring& text) { Send(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())); }
  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(d_, nullptr), &info);
    return info.hwndFocus;
  }
  // The warning the last Press opened, answered with OK.
  std::wstring Warning() { return app_.AnswerMessageBox(L"Warrning", IDOK, d_); }
  // Ends the dialog by a posted message and waits until it is gone.
  void End(UINT message, WPARAM wParam, HWND to = nullptr) {
    PostMessageW(to ? to : d_, message, wParam, 0);
    if (!WaitUntil([&] { return !IsWindow(d_); })) Abort("the Properties dialog did not close");
    app_.Settle();
  }
  void Ok() { End(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED)); }
  void Cancel() { End(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)); }

 private:
  App& app_;
  HWND d_ = nullptr;
};

// ---- cases ---------------------------------------------------------------------------

int CaseStart() {
  App app;
  CHECK(app.Enabled(IDC_OPEN));
  CHECK(!app.Enabled(IDC_SAVE));
  CHECK(!app.Enabled(IDC_FOLDER_PROPERTIES));
  CHECK_EQ(app.Text(IDC_FOLDER_NAME), L"");
  CHECK_EQ(app.Text(IDC_TITLE), L"");
  CHECK_EQ(app.Text(IDC_ROOT_MODE), L"");
  CHECK_EQ(WindowText(app.main()), L"Converter");
  CHECK_EQ(app.Rows(), 0);
  CHECK_EQ(app.ColumnWidth(0), 214);
  CHECK_EQ(app.ColumnWidth(1), 80);
  CHECK_EQ(app.ColumnWidth(2), 80);
  if (app.MenuState(IDM_OPEN) < 0) {
    Log("note: menu states are not readable from another process here; the unit tests cover them");
  } else {
    for (int id : {IDM_OPEN, IDM_EXIT, IDM_ADD_FILE, IDM_ABOUT}) CHECK_EQ(app.MenuState(id), 1);
    for (int id : {IDM_SAVE_AS, IDM_DELETE_FILE, IDM_EXTRACT_FILE, IDM_PROPERTIES}) CHECK_EQ(app.MenuState(id), 0);
  }
  // Enter and Escape do nothing.
  PostMessageW(app.main(), WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
  PostMessageW(app.main(), WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
  app.Settle();
  CHECK(IsWindow(app.main()));
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseOpenPsu() {
  std::wstring path = WritePsu(L"sample.psu", SampleFiles());
  App app;
  app.Open(path);
  CHECK(app.NoDialogOpen());
  CHECK_EQ(app.Text(IDC_FOLDER_NAME), L"BESLES-12345SAVE");
  CHECK_EQ(app.Text(IDC_TITLE), L"SAMPLE TITLE");
  CHECK_EQ(app.Text(IDC_ROOT_MODE), L"0x00008427");
  CHECK(app.Enabled(IDC_SAVE));
  CHECK(app.Enabled(IDC_FOLDER_PROPERTIES));
  CHECK_EQ(app.Rows(), 3);
  CHECK_EQ(app.Cell(0, 0), L"icon.sys");
  CHECK_EQ(app.Cell(0, 1), L"964 B");
  CHECK_EQ(app.Cell(1, 1), L"1.5 kB");
  CHECK_EQ(app.Cell(2, 0), L"save.dat");
  CHECK_EQ(app.Cell(2, 1), L"2.93 kB");
  CHECK_EQ(app.Cell(2, 2), L"0x00008497");
  if (app.MenuState(IDM_SAVE_AS) >= 0) {
    CHECK_EQ(app.MenuState(IDM_SAVE_AS), 1);
    app.Select(1);
    app.Settle();
    CHECK_EQ(app.MenuState(IDM_EXTRACT_FILE), 1);
  }

  // The real save from the corpus.
  std::wstring corpus = g_corpus + L"\\psu\\a.psu";
  if (Exists(corpus)) {
    Bytes bytes = ReadAll(corpus);
    std::wstring copy = WorkPath(L"corpus-a.psu");
    WriteAll(copy, bytes);
    app.Open(copy);
    // What the window shows must be what the file's headers say.
    ParsedPsu parsed = ParsePsu(bytes);
    CHECK(parsed.ok);
    CHECK_EQ(app.Text(IDC_FOLDER_NAME), Wide(parsed.folder));
    CHECK_EQ(app.Text(IDC_ROOT_MODE), L"0x00008427");
    CHECK(app.Text(IDC_TITLE) != L"No valid icon.sys");
    CHECK(app.Text(IDC_TITLE) != Wide(parsed.folder));
    CHECK_EQ(app.Names(), NamesOf(parsed));
    CHECK_EQ(app.Cell(1, 1), L"45.27 kB");
  } else {
    Log("note: corpus psu/a.psu absent");
  }
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseDamaged() {
  std::wstring good = WritePsu(L"good.psu", SampleFiles());
  Bytes cut = BuildPsu("X", SampleFiles());
  cut.resize(2000);  // ends inside the first file's data
  WriteAll(WorkPath(L"cut.psu"), cut);
  Bytes notDir = BuildPsu("X", SampleFiles());
  Put32(notDir, 0, 0x8497);
  WriteAll(WorkPath(L"notdir.psu"), notDir);

  App app;
  app.Open(good);
  CHECK_EQ(app.Rows(), 3);
  app.Command(IDC_OPEN);
  app.AnswerFileDialog(L"Open", WorkPath(L"notdir.psu"));
  CHECK_EQ(app.AnswerMessageBox(L"Error", IDOK), L"Cannot load file. First entry is not a directory");
  app.Settle();
  CHECK_EQ(app.Text(IDC_FOLDER_NAME), L"");
  CHECK_EQ(app.Text(IDC_TITLE), L"");
  CHECK_EQ(app.Text(IDC_ROOT_MODE), L"");
  CHECK_EQ(app.Rows(), 0);
  CHECK(!app.Enabled(IDC_SAVE));
  CHECK(!app.Enabled(IDC_FOLDER_PROPERTIES));

  app.Open(good);
  app.Command(IDC_OPEN);
  app.AnswerFileDialog(L"Open", WorkPath(L"cut.psu"));
  CHECK_EQ(app.AnswerMessageBox(L"Error", IDOK), L"Unexpected error");
  app.Settle();
  CHECK_EQ(app.Rows(), 0);
  CHECK(!app.Enabled(IDC_SAVE));
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseUnknownType() {
  std::wstring good = WritePsu(L"sample.psu", SampleFiles());
  WriteAll(WorkPath(L"notes.txt"), BuildPsu("X", SampleFiles()));
  App app;
  app.Open(good);
  app.Command(IDC_OPEN);
  app.AnswerFileDialog(L"Open", WorkPath(L"notes.txt"));
  CHECK_EQ(app.AnswerMessageBox(L"Error", IDOK), L"Unknown file type");
  app.Settle();
  CHECK_EQ(app.Text(IDC_FOLDER_NAME), L"BESLES-12345SAVE");
  CHECK_EQ(app.Rows(), 3);
  CHECK(app.Enabled(IDC_SAVE));
  // Save refuses a target of no family it writes.
  app.Command(IDC_SAVE);
  app.AnswerFileDialog(L"Save As", WorkPath(L"out.zip"));
  CHECK_EQ(app.AnswerMessageBox(L"Error", IDOK), L"Unknown file type");
  CHECK(!Exists(WorkPath(L"out.zip")));
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseSaveAs() {
  std::wstring path = WritePsu(L"game.psu", SampleFiles());
  App app;
  app.Open(path);
  std::wstring offered, filter;
  app.Command(IDC_SAVE);
  app.CancelFileDialog(L"Save As", &offered, &filter);
  // The dialog opens in the source's folder and shows the name without the extension.
  CHECK(offered == WorkPath(L"game") || offered == L"game");
  CHECK_EQ(filter, L"Memory Linker (*.psu)");
  // A name typed without an extension becomes a Memory Linker file.
  app.Command(IDM_SAVE_AS);
  app.AnswerFileDialog(L"Save As", WorkPath(L"copy"));
  WaitUntil([&] { return Exists(WorkPath(L"copy.psu")); });
  app.Settle();
  CHECK(app.NoDialogOpen());
  CHECK_EQ(ReadAll(WorkPath(L"copy.psu")), ReadAll(path));
  // The save is still the one from game.psu.
  app.Command(IDC_SAVE);
  app.CancelFileDialog(L"Save As", &offered);
  CHECK(offered == WorkPath(L"game") || offered == L"game");
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseInPlace() {
  std::wstring path = WritePsu(L"inplace.psu", SampleFiles());
  Bytes extra = Pseudo(700, 9);
  WriteAll(WorkPath(L"extra.bin"), extra);
  App app;
  app.Open(path);
  app.Command(IDM_ADD_FILE);
  app.AnswerFileDialog(L"Open", WorkPath(L"extra.bin"));
  app.Settle();
  CHECK_EQ(app.Rows(), 4);
  CHECK_EQ(app.Cell(3, 0), L"extra.bin");
  app.Command(IDC_SAVE);
  app.AnswerFileDialog(L"Save As", path);
  AnswerOverwritePrompt(app);
  WaitUntil([&] { return app.NoDialogOpen(); });
  app.Settle();
  CHECK(app.NoDialogOpen());
  CHECK(!Exists(path + L"~0"));
  ParsedPsu written = ParsePsu(ReadAll(path));
  CHECK(written.ok);
  CHECK_EQ(written.files.size(), std::size_t{4});
  if (written.files.size() == 4) {
    CHECK_EQ(written.files[3].name, std::string("extra.bin"));
    CHECK_EQ(written.files[3].data, extra);
    CHECK_EQ(written.files[2].data, Pseudo(3000, 2));
  }
  // Loaded again from the written file: the added entry no longer needs extra.bin.
  DeleteFileW(WorkPath(L"extra.bin").c_str());
  app.Select(3);
  app.Command(IDM_EXTRACT_FILE);
  app.AnswerFileDialog(L"Save As", WorkPath(L"extra-again.bin"));
  WaitUntil([&] { return Exists(WorkPath(L"extra-again.bin")) || !app.NoDialogOpen(); });
  app.Settle();
  CHECK(app.NoDialogOpen());
  CHECK_EQ(ReadAll(WorkPath(L"extra-again.bin")), extra);
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseReplaceFails() {
  std::wstring path = WritePsu(L"locked.psu", {});
  App app;
  app.Open(path);
  // Another program holds the file open without sharing: it can't be deleted or replaced.
  HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  CHECK(lock != INVALID_HANDLE_VALUE);
  app.Command(IDC_SAVE);
  app.AnswerFileDialog(L"Save As", path);
  AnswerOverwritePrompt(app);
  CHECK_EQ(app.AnswerMessageBox(L"Error", IDOK),
           L"There was a problem when deleting/reneming file. You can still access copy of your file.");
  CloseHandle(lock);
  CHECK_EQ(ReadAll(path + L"~0"), BuildPsu("BESLES-12345SAVE", {}));
  CHECK_EQ(ReadAll(path), BuildPsu("BESLES-12345SAVE", {}));
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseAddFile() {
  Bytes one = Pseudo(2048, 4);
  WriteAll(WorkPath(L"one.bin"), one);
  CreateDirectoryW(WorkPath(L"other").c_str(), nullptr);
  WriteAll(WorkPath(L"other\\one.bin"), Pseudo(10, 5));
  App app;
  app.Command(IDM_ADD_FILE);
  app.AnswerFileDialog(L"Open", WorkPath(L"one.bin"));
  app.Settle();
  CHECK_EQ(app.Text(IDC_FOLDER_NAME), L"UNNAMED SAVE");
  CHECK_EQ(app.Text(IDC_ROOT_MODE), L"0x00008427");
  CHECK_EQ(app.Text(IDC_TITLE), L"No valid icon.sys");
  CHECK(app.Enabled(IDC_SAVE));
  CHECK(app.Enabled(IDC_FOLDER_PROPERTIES));
  CHECK_EQ(app.Names(), std::vector<std::wstring>{L"one.bin"});
  CHECK_EQ(app.Cell(0, 1), L"2 kB");

  // A file of the same name: asked, and No keeps the first.
  app.Command(IDM_ADD_FILE);
  app.AnswerFileDialog(L"Open", WorkPath(L"other\\one.bin"));
  CHECK_EQ(app.AnswerMessageBox(L"File exists", IDNO),
           L"File \"one.bin\" already exists. Do you want to replace it?");
  app.Settle();
  CHECK_EQ(app.Cell(0, 1), L"2 kB");

  std::wstring offered;
  app.Command(IDC_SAVE);
  app.CancelFileDialog(L"Save As", &offered);
  CHECK_EQ(offered, L"NewSave");
  app.Command(IDC_SAVE);
  app.AnswerFileDialog(L"Save As", WorkPath(L"NewSave.psu"));
  WaitUntil([&] { return Exists(WorkPath(L"NewSave.psu")); });
  app.Settle();
  ParsedPsu written = ParsePsu(ReadAll(WorkPath(L"NewSave.psu")));
  CHECK(written.ok);
  CHECK_EQ(written.folder, std::string("UNNAMED SAVE"));
  CHECK_EQ(written.rootMode, 0x8427u);
  CHECK_EQ(written.files.size(), std::size_t{1});
  if (!written.files.empty()) CHECK_EQ(written.files[0].data, one);

  // Yes replaces it.
  app.Command(IDM_ADD_FILE);
  app.AnswerFileDialog(L"Open", WorkPath(L"other\\one.bin"));
  app.AnswerMessageBox(L"File exists", IDYES);
  app.Settle();
  CHECK_EQ(app.Rows(), 1);
  CHECK_EQ(app.Cell(0, 1), L"10 B");
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseExtract() {
  std::wstring path = WritePsu(L"sample.psu", SampleFiles());
  App app;
  app.Open(path);
  // Nothing selected: nothing happens.
  app.Command(IDM_EXTRACT_FILE);
  app.Settle();
  CHECK(app.NoDialogOpen());
  app.Select(2);
  app.Settle();
  std::wstring offered;
  app.Command(IDM_EXTRACT_FILE);
  app.CancelFileDialog(L"Save As", &offered);
  CHECK_EQ(offered, L"save.dat");
  app.Command(IDM_EXTRACT_FILE);
  app.AnswerFileDialog(L"Save As", WorkPath(L"out.dat"));
  WaitUntil([&] { return Exists(WorkPath(L"out.dat")); });
  app.Settle();
  CHECK_EQ(ReadAll(WorkPath(L"out.dat")), Pseudo(3000, 2));
  // Into a folder that doesn't exist: the dialog itself refuses, or the program says so.
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseRename() {
  std::wstring path = WritePsu(L"sample.psu", SampleFiles());
  App app;
  app.Open(path);
  std::wstring name32(32, L'R');
  app.EditLabel(1, name32);
  app.Settle();
  CHECK(app.NoDialogOpen());
  CHECK_EQ(app.Cell(1, 0), name32);
  app.EditLabel(1, std::wstring(33, L'S'));
  CHECK_EQ(app.AnswerMessageBox(L"Error", IDOK), L"Filename must not exceed 32 characters");
  app.Settle();
  CHECK_EQ(app.Cell(1, 0), name32);
  // Renaming icon.sys takes the title away.
  app.EditLabel(0, L"icon.old");
  app.Settle();
  CHECK_EQ(app.Text(IDC_TITLE), L"No valid icon.sys");
  app.Command(IDC_SAVE);
  app.AnswerFileDialog(L"Save As", WorkPath(L"renamed.psu"));
  WaitUntil([&] { return Exists(WorkPath(L"renamed.psu")); });
  app.Settle();
  ParsedPsu written = ParsePsu(ReadAll(WorkPath(L"renamed.psu")));
  CHECK(written.ok);
  if (written.files.size() == 3) {
    CHECK_EQ(written.files[0].name, std::string("icon.old"));
    CHECK_EQ(written.files[1].name, std::string(32, 'R'));
  }
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseDeleteKey() {
  std::wstring path = WritePsu(L"sample.psu", SampleFiles());
  App app;
  app.Open(path);
  app.PressKeyInList(VK_DELETE);  // nothing selected
  app.Settle();
  CHECK_EQ(app.Rows(), 3);
  app.Select(0);
  app.Settle();
  app.PressKeyInList(VK_DELETE);
  app.Settle();
  CHECK(app.NoDialogOpen());
  CHECK_EQ(app.Names(), (std::vector<std::wstring>{L"icon.ico", L"save.dat"}));
  CHECK_EQ(app.Text(IDC_TITLE), L"No valid icon.sys");
  app.Select(1);
  app.Settle();
  app.Command(IDM_DELETE_FILE);
  app.Settle();
  CHECK_EQ(app.Names(), std::vector<std::wstring>{L"icon.ico"});
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseRightClick() {
  App app;
  POINT empty{40, 60};
  ClientToScreen(app.list(), &empty);
  SetCursorPos(empty.x, empty.y);
  PostMessageW(app.list(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(40, 60));
  PostMessageW(app.list(), WM_RBUTTONUP, 0, MAKELPARAM(40, 60));
  HWND popup = nullptr;
  bool shown = WaitUntil([&] { return (popup = FindWindowW(L"#32768", nullptr)) && IsWindowVisible(popup); }, 5000);
  CHECK(shown);
  if (shown) Screenshot("popup");
  // Escape ends the menu; nothing else happens.
  PostMessageW(app.main(), WM_KEYDOWN, VK_ESCAPE, 0);
  WaitUntil([&] { return !IsWindowVisible(popup); }, 5000);
  app.Settle();
  CHECK_EQ(app.Rows(), 0);
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseAbout() {
  std::wstring path = WritePsu(L"sample.psu", SampleFiles());
  App app;
  app.Open(path);
  Screenshot("main");
  app.Command(IDM_ABOUT);
  HWND about = nullptr;
  CHECK(WaitUntil([&] { return (about = app.Find(L"About...", app.main())) != nullptr; }));
  if (about) {
    std::vector<std::wstring> texts;
    for (HWND c = GetWindow(about, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) texts.push_back(WindowText(c));
    CHECK_EQ(texts.size(), std::size_t{3});
    if (texts.size() == 3) {
      CHECK_EQ(texts[0], L"OK");
      CHECK_EQ(texts[1], L"Moravelt v0.030");
      CHECK_EQ(texts[2], L"This tool basically converts other formats into psu saves and vice versa. It also does very limited editing");
    }
    Screenshot("about");
    // Escape does not close it; OK does.
    PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    app.Settle();
    Sleep(200);
    CHECK(IsWindow(about));
    PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    CHECK(WaitUntil([&] { return !IsWindow(about); }));
  }
  CHECK_EQ(app.Text(IDC_FOLDER_NAME), L"BESLES-12345SAVE");
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseCloseBox() {
  App app;
  PostMessageW(app.main(), WM_SYSCOMMAND, SC_CLOSE, 0);
  DWORD code = 0;
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, [&] {
    DWORD pid = 0;
    GetWindowThreadProcessId(app.main(), &pid);
    return pid;
  }());
  CHECK(WaitForSingleObject(process, 10000) == WAIT_OBJECT_0);
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  CHECK_EQ(code, 40004ul);
  return 0;
}

int CaseJapanese() {
  std::wstring folder = WorkPath(L"セーブ");
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring path = folder + L"\\データ.psu";
  WriteAll(path, BuildPsu("BESLES-12345SAVE", SampleFiles()));
  Bytes added = Pseudo(123, 7);
  WriteAll(folder + L"\\追加.bin", added);
  App app;
  app.Open(path);
  CHECK_EQ(app.Text(IDC_FOLDER_NAME), L"BESLES-12345SAVE");
  CHECK_EQ(app.Rows(), 3);
  std::wstring offered;
  app.Command(IDC_SAVE);
  app.CancelFileDialog(L"Save As", &offered);
  CHECK(offered == folder + L"\\データ" || offered == L"データ");

  app.Command(IDM_ADD_FILE);
  app.AnswerFileDialog(L"Open", folder + L"\\追加.bin");
  app.Settle();
  CHECK_EQ(app.Rows(), 4);
  CHECK_EQ(app.Cell(3, 0), L"追加.bin");
  // The Properties dialog shows the name as it is and gives it back unchanged.
  app.Select(3);
  app.Settle();
  app.Command(IDM_PROPERTIES);
  {
    Props d(app);
    CHECK_EQ(d.Text(IDC_PROP_NAME), L"追加.bin");
    d.Ok();
  }
  CHECK_EQ(app.Cell(3, 0), L"追加.bin");

  app.Command(IDC_SAVE);
  app.AnswerFileDialog(L"Save As", folder + L"\\変換.psu");
  WaitUntil([&] { return Exists(folder + L"\\変換.psu"); });
  app.Settle();
  ParsedPsu written = ParsePsu(ReadAll(folder + L"\\変換.psu"));
  CHECK(written.ok);
  CHECK_EQ(written.files.size(), std::size_t{4});
  if (written.files.size() == 4) {
    CHECK_EQ(written.files[3].name, Utf8(L"追加.bin"));
    CHECK_EQ(written.files[3].data, added);
  }

  app.Select(2);
  app.Settle();
  app.Command(IDM_EXTRACT_FILE);
  app.AnswerFileDialog(L"Save As", folder + L"\\抽出.dat");
  WaitUntil([&] { return Exists(folder + L"\\抽出.dat"); });
  app.Settle();
  CHECK_EQ(ReadAll(folder + L"\\抽出.dat"), Pseudo(3000, 2));

  // Converted to X-Port, and opened from there.
  SaveAs(app, folder + L"\\変換.xps");
  CHECK(app.NoDialogOpen());
  app.Open(folder + L"\\変換.xps");
  CHECK(app.NoDialogOpen());
  CHECK_EQ(app.Rows(), 4);
  if (app.Rows() == 4) CHECK_EQ(app.Cell(3, 0), L"追加.bin");
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

// Where the root's header of an X-Port file begins: its length, 250, then the folder name.
std::size_t XpsRootHeader(const Bytes& xps, const std::string& folder) {
  Bytes key = {0xFA, 0x00};
  key.insert(key.end(), folder.begin(), folder.end());
  auto at = std::search(xps.begin(), xps.end(), key.begin(), key.end());
  if (at == xps.end() || xps.end() - at < 0x50) Abort("no root header in the X-Port file");
  return static_cast<std::size_t>(at - xps.begin());
}

int CaseOpenXps() {
  std::wstring source = SourceSave(L"xps");
  ParsedPsu reference = ReferencePsu();
  Bytes original = ReadAll(source);
  App app;
  app.Open(source);
  CHECK(app.NoDialogOpen());
  CHECK_EQ(app.Text(IDC_FOLDER_NAME), Wide(reference.folder));
  // The root's mode as stored, big-endian.
  std::size_t root = XpsRootHeader(original, reference.folder);
  wchar_t mode[16];
  std::swprintf(mode, 16, L"0x%08X", original[root + 0x4E] << 8 | original[root + 0x4F]);
  CHECK_EQ(app.Text(IDC_ROOT_MODE), std::wstring(mode));
  CHECK_EQ(app.Names(), NamesOf(reference));
  // To Memory Linker: the bytes the command line writes, the files of the .psu.
  SaveAs(app, WorkPath(L"converted.psu"));
  Bytes converted = ReadAll(WorkPath(L"converted.psu"));
  CHECK_EQ(converted, CliConvert(source, WorkPath(L"cli.psu")));
  CheckSameFiles(ParsePsu(converted), reference);
  // In its own format over itself: every byte as it was loaded.
  SaveInPlace(app, source);
  CHECK_EQ(ReadAll(source), original);
  CHECK_EQ(app.Names(), NamesOf(reference));
  // Loaded again from the rewritten file, it converts as before.
  SaveAs(app, WorkPath(L"again.psu"));
  CHECK_EQ(ReadAll(WorkPath(L"again.psu")), converted);
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseOpenMax() {
  std::wstring source = SourceSave(L"max");
  ParsedPsu reference = ReferencePsu();
  App app;
  app.Open(source);
  CHECK(app.NoDialogOpen());
  CHECK_EQ(app.Text(IDC_FOLDER_NAME), Wide(reference.folder));
  CHECK_EQ(app.Names(), NamesOf(reference));
  SaveAs(app, WorkPath(L"converted.psu"));
  SaveAs(app, WorkPath(L"converted.xps"));
  Bytes psu = ReadAll(WorkPath(L"converted.psu"));
  CHECK_EQ(WithoutTimes(psu), WithoutTimes(CliConvert(source, WorkPath(L"cli.psu"))));
  CheckSameFiles(ParsePsu(psu), reference);
  // The X-Port file holds the same save: read back as Memory Linker it is the .psu above.
  CHECK_EQ(CliConvert(WorkPath(L"converted.xps"), WorkPath(L"back.psu")), psu);
  // Written back as ARMAX, it is what the command line writes: the format keeps no times.
  SaveAs(app, WorkPath(L"copy.max"));
  CHECK_EQ(ReadAll(WorkPath(L"copy.max")), CliConvert(source, WorkPath(L"cli.max")));
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseConvertPsu() {
  std::wstring source = SourceSave(L"psu");
  ParsedPsu reference = ReferencePsu();
  App app;
  app.Open(source);
  SaveAs(app, WorkPath(L"converted.xps"));
  Bytes xps = ReadAll(WorkPath(L"converted.xps"));
  CHECK_EQ(xps, CliConvert(source, WorkPath(L"cli.xps")));
  // Opened from there, it is the same save.
  app.Open(WorkPath(L"converted.xps"));
  CHECK(app.NoDialogOpen());
  CHECK_EQ(app.Text(IDC_FOLDER_NAME), Wide(reference.folder));
  CHECK_EQ(app.Names(), NamesOf(reference));
  CheckSameFiles(ParsePsu(CliConvert(WorkPath(L"converted.xps"), WorkPath(L"back.psu"))), reference);
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

// The X-Port loader's question when the first entry is not a directory.
int CaseXpsQuestion() {
  std::wstring source = SourceSave(L"xps");
  ParsedPsu reference = ReferencePsu();
  Bytes damaged = ReadAll(source);
  std::size_t root = XpsRootHeader(damaged, reference.folder);
  damaged[root + 0x4E] = 0x84;  // big-endian mode 0x8497: a file
  damaged[root + 0x4F] = 0x97;
  std::wstring path = WorkPath(L"notdir.xps");
  WriteAll(path, damaged);

  App app;
  app.Command(IDC_OPEN);
  app.AnswerFileDialog(L"Open", path);
  CHECK_EQ(app.AnswerMessageBox(L"Invalid format", IDNO),
           L"First entry is not a directory.\nDo you want to load it anyway?");
  CHECK_EQ(app.AnswerMessageBox(L"Error", IDOK), L"Cannot load file. First entry is not a directory");
  app.Settle();
  CHECK_EQ(app.Rows(), 0);
  CHECK(!app.Enabled(IDC_SAVE));

  app.Command(IDC_OPEN);
  app.AnswerFileDialog(L"Open", path);
  app.AnswerMessageBox(L"Invalid format", IDYES);
  WaitUntil([&] { return app.Rows() > 0; });
  app.Settle();
  CHECK(app.NoDialogOpen());
  CHECK_EQ(app.Names(), NamesOf(reference));
  CHECK_EQ(app.Text(IDC_ROOT_MODE), L"0x00008427");
  SaveAs(app, WorkPath(L"loaded.psu"));
  ParsedPsu written = ParsePsu(ReadAll(WorkPath(L"loaded.psu")));
  CHECK_EQ(written.rootMode, 0x8427u);
  CheckSameFiles(written, reference);
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

// The ARMAX loader's question when the stored CRC-32 differs.
int CaseMaxQuestion() {
  std::wstring source = SourceSave(L"max");
  ParsedPsu reference = ReferencePsu();
  Bytes damaged = ReadAll(source);
  damaged[12] ^= 0x01;  // the stored CRC-32
  std::wstring path = WorkPath(L"badcrc.max");
  WriteAll(path, damaged);

  App app;
  app.Command(IDC_OPEN);
  app.AnswerFileDialog(L"Open", path);
  CHECK_EQ(app.AnswerMessageBox(L"Invalid format", IDNO),
           L"CRC32 value computed doesn't match stored.\nDo you want to load it anyway?");
  CHECK_EQ(app.AnswerMessageBox(L"Error", IDOK), L"Format of the file you are trying to open is not valid");
  app.Settle();
  CHECK_EQ(app.Rows(), 0);

  app.Command(IDC_OPEN);
  app.AnswerFileDialog(L"Open", path);
  app.AnswerMessageBox(L"Invalid format", IDYES);
  WaitUntil([&] { return app.Rows() > 0; });
  app.Settle();
  CHECK(app.NoDialogOpen());
  CHECK_EQ(app.Names(), NamesOf(reference));
  SaveAs(app, WorkPath(L"loaded.psu"));
  CheckSameFiles(ParsePsu(ReadAll(WorkPath(L"loaded.psu"))), reference);
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

// Properties of the folder (button) and of a file (menu), confirmed with OK; the file
// written afterwards carries the new modes, times and name.
int CaseProperties() {
  std::wstring path = WritePsu(L"sample.psu", SampleFiles());
  App app;
  app.Open(path);
  app.Command(IDC_FOLDER_PROPERTIES);
  {
    Props d(app);
    CHECK_EQ(WindowText(d.hwnd()), L"Properties");
    CHECK_EQ(d.Text(IDC_PROP_NAME), L"BESLES-12345SAVE");
    CHECK_EQ(d.Text(IDC_PROP_SUMMARY), L"Num. of fiiles = 3");
    CHECK_EQ(d.Text(IDC_PROP_CREATED), L"5 March 2007 14:03:09");
    CHECK_EQ(d.Text(IDC_PROP_MODIFIED), L"5 March 2007 14:03:09");
    CHECK_EQ(d.Text(IDC_PROP_ATTRIBUTES), L"Attributes (0x00008427)");
    CHECK(d.Checked(1028) && !d.Checked(1027));
    CHECK(!d.Enabled(1027) && !d.Enabled(1028));
    d.ClickBox(1037);  // Hidden
    CHECK(d.Checked(1037));
    CHECK_EQ(d.Text(IDC_PROP_ATTRIBUTES), L"Attributes (0x0000C427)");
    d.Click(IDC_PROP_EDIT_MODIFIED);
    CHECK(d.Visible(IDC_PROP_MODIFIED_ENTRY) && d.Enabled(IDC_PROP_MODIFIED_ENTRY));
    CHECK(!d.Visible(IDC_PROP_MODIFIED));
    CHECK_EQ(d.Text(IDC_PROP_MODIFIED_ENTRY), L"05-03-2007 14:03:09");
    CHECK_EQ(d.Text(IDC_PROP_EDIT_MODIFIED), L"Ok");
    CHECK(d.Focus() == d.Item(IDC_PROP_MODIFIED_ENTRY));
    CHECK_EQ(d.Caret(IDC_PROP_MODIFIED_ENTRY), 0);
    d.Type(IDC_PROP_MODIFIED_ENTRY, "24122008010203");
    CHECK_EQ(d.Text(IDC_PROP_MODIFIED_ENTRY), L"24-12-2008 01:02:03");
    d.Click(IDC_PROP_EDIT_MODIFIED);
    CHECK_EQ(d.Text(IDC_PROP_MODIFIED), L"24 December 2008 01:02:03");
    CHECK_EQ(d.Text(IDC_PROP_EDIT_MODIFIED), L"Edit");
    CHECK(!d.Visible(IDC_PROP_MODIFIED_ENTRY));
    // The creation time open for editing, and still open at OK: it keeps its old value.
    d.Click(IDC_PROP_EDIT_CREATED);
    d.Type(IDC_PROP_CREATED_ENTRY, "0101");
    Screenshot("properties");
    d.Ok();
  }
  CHECK_EQ(app.Text(IDC_ROOT_MODE), L"0x0000C427");

  app.Select(2);
  app.Settle();
  app.Command(IDM_PROPERTIES);
  {
    Props d(app);
    CHECK_EQ(d.Text(IDC_PROP_NAME), L"save.dat");
    CHECK_EQ(d.Text(IDC_PROP_SUMMARY), L"2.93 kB");
    CHECK_EQ(d.Text(IDC_PROP_ATTRIBUTES), L"Attributes (0x00008497)");
    CHECK(d.Checked(1023) && d.Checked(1027) && d.Checked(1038) && !d.Checked(1026));
    CHECK(!d.Visible(IDC_PROP_CREATED_ENTRY));
    CHECK_EQ(Send(d.Item(IDC_PROP_CREATED_ENTRY), EM_GETLIMITTEXT, 0, 0), LRESULT{19});
    d.ClickBox(1026);  // Copy Protected
    CHECK_EQ(d.Text(IDC_PROP_ATTRIBUTES), L"Attributes (0x0000849F)");
    // The masked field: digits overwrite and skip separators, Delete and Backspace leave
    // blanks, other characters and cutting change nothing, a paste fills digit places.
    const int created = IDC_PROP_CREATED_ENTRY;
    d.Click(IDC_PROP_EDIT_CREATED);
    d.Type(created, "12");
    CHECK_EQ(d.Text(created), L"12-03-2007 14:03:09");
    CHECK_EQ(d.Caret(created), 3);
    d.Key(created, VK_DELETE);
    CHECK_EQ(d.Text(created), L"12-_3-2007 14:03:09");
    d.Type(created, "x- ");
    CHECK_EQ(d.Text(created), L"12-_3-2007 14:03:09");
    d.SetCaret(created, 4);
    d.Type(created, "\b");
    CHECK_EQ(d.Text(created), L"12-_3-2007 14:03:09");
    CHECK_EQ(d.Caret(created), 3);
    d.Type(created, "0");
    CHECK_EQ(d.Text(created), L"12-03-2007 14:03:09");
    // Ctrl+V comes to the edit control as a character, and pastes as WM_PASTE does.
    PutOnClipboard(L"2024");
    d.SetCaret(created, 6);
    d.Type(created, "\x16");
    CHECK_EQ(d.Text(created), L"12-03-2024 14:03:09");
    d.Paste(created, 6, L"2024 09:30:00 and then 12345678901234567890");
    CHECK_EQ(d.Text(created), L"12-03-2024 09:30:00");
    Send(d.Item(created), EM_SETSEL, 0, 5);
    Send(d.Item(created), WM_CUT, 0, 0);
    CHECK_EQ(d.Text(created), L"12-03-2024 09:30:00");
    d.Click(IDC_PROP_EDIT_CREATED);
    CHECK_EQ(d.Text(IDC_PROP_CREATED), L"12 March 2024 09:30:00");
    // The modification field has no length limit, yet a paste can't lengthen its text;
    // a blank left in it is refused.
    const int modified = IDC_PROP_MODIFIED_ENTRY;
    d.Click(IDC_PROP_EDIT_MODIFIED);
    d.Paste(modified, 0, std::wstring(60, L'1'));
    CHECK_EQ(d.Text(modified), L"11-11-1111 11:11:11");
    d.SetCaret(modified, 0);
    d.Key(modified, VK_DELETE);
    d.Press(IDC_PROP_EDIT_MODIFIED);
    CHECK_EQ(d.Warning(), L"All blanks have to be filled with digits.\nOperation cancelled.");
    CHECK_EQ(d.Text(IDC_PROP_MODIFIED), L"5 March 2007 14:03:09");
    CHECK(!d.Visible(modified));
    CHECK_EQ(d.Text(IDC_PROP_EDIT_MODIFIED), L"Edit");
    // Month 13 is refused.
    d.Click(IDC_PROP_EDIT_MODIFIED);
    d.SetCaret(modified, 3);
    d.Type(modified, "13");
    d.Press(IDC_PROP_EDIT_MODIFIED);
    CHECK_EQ(d.Warning(), L"Invalid date/time format.\nOperation cancelled.");
    CHECK_EQ(d.Text(IDC_PROP_MODIFIED), L"5 March 2007 14:03:09");
    d.SetText(IDC_PROP_NAME, L"RENAMED.DAT");
    d.Ok();
  }
  CHECK_EQ(app.Cell(2, 0), L"RENAMED.DAT");
  CHECK_EQ(app.Cell(2, 2), L"0x0000849F");

  SaveAs(app, WorkPath(L"edited.psu"));
  ParsedPsu w = ParsePsu(ReadAll(WorkPath(L"edited.psu")));
  const Bytes march2007 = {0, 9, 3, 14, 5, 3, 0xD7, 0x07};
  CHECK(w.ok);
  CHECK_EQ(w.rootMode, 0xC427u);
  CHECK_EQ(w.rootCreated, march2007);
  CHECK_EQ(w.rootModified, (Bytes{0, 3, 2, 1, 24, 12, 0xD8, 0x07}));
  CHECK_EQ(w.files.size(), std::size_t{3});
  if (w.files.size() == 3) {
    CHECK_EQ(w.files[2].name, std::string("RENAMED.DAT"));
    CHECK_EQ(w.files[2].mode, 0x849Fu);
    CHECK_EQ(w.files[2].created, (Bytes{0, 0, 30, 9, 12, 3, 0xE8, 0x07}));
    CHECK_EQ(w.files[2].modified, march2007);
    CHECK_EQ(w.files[2].data, Pseudo(3000, 2));
    CHECK_EQ(w.files[0].mode, 0x8497u);
    CHECK_EQ(w.files[1].mode, 0x8497u);
  }
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

// Cancel, the close box and Escape change nothing; Enter in an open time field is OK but
// leaves that time alone; OK without changes gives every byte back, names that are not
// UTF-8 included.
int CasePropertiesCancel() {
  std::vector<PsuFile> files = SampleFiles();
  files[1].name = "caf\xE9.ico";
  std::wstring path = WritePsu(L"sample.psu", files);
  Bytes original = ReadAll(path);
  App app;
  app.Open(path);

  app.Select(2);
  app.Settle();
  app.DoubleClickRow(2);
  {
    Props d(app);
    CHECK_EQ(d.Text(IDC_PROP_NAME), L"save.dat");
    d.ClickBox(1023);
    d.Click(IDC_PROP_EDIT_CREATED);
    d.Type(IDC_PROP_CREATED_ENTRY, "01");
    d.Click(IDC_PROP_EDIT_CREATED);
    CHECK_EQ(d.Text(IDC_PROP_CREATED), L"1 March 2007 14:03:09");
    d.SetText(IDC_PROP_NAME, L"OTHER");
    d.Cancel();
  }
  CHECK_EQ(app.Cell(2, 0), L"save.dat");
  CHECK_EQ(app.Cell(2, 2), L"0x00008497");

  app.Command(IDC_FOLDER_PROPERTIES);
  {
    Props d(app);
    d.ClickBox(1037);
    d.SetText(IDC_PROP_NAME, L"OTHER");
    d.End(WM_SYSCOMMAND, SC_CLOSE);
  }
  app.Command(IDC_FOLDER_PROPERTIES);
  {
    Props d(app);
    d.ClickBox(1023);
    d.End(WM_KEYDOWN, VK_ESCAPE, d.Item(IDC_PROP_NAME));
  }
  CHECK_EQ(app.Text(IDC_FOLDER_NAME), L"BESLES-12345SAVE");
  CHECK_EQ(app.Text(IDC_ROOT_MODE), L"0x00008427");

  app.Select(2);
  app.Settle();
  app.Command(IDM_PROPERTIES);
  {
    Props d(app);
    d.Click(IDC_PROP_EDIT_CREATED);
    d.Type(IDC_PROP_CREATED_ENTRY, "0101");
    d.End(WM_KEYDOWN, VK_RETURN, d.Item(IDC_PROP_CREATED_ENTRY));
  }
  app.Select(1);
  app.Settle();
  app.Command(IDM_PROPERTIES);
  Props(app).Ok();

  SaveAs(app, WorkPath(L"unchanged.psu"));
  CHECK_EQ(ReadAll(WorkPath(L"unchanged.psu")), original);
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

// ---- memory cards --------------------------------------------------------------------

// The card window, once it is open beside the main window.
class CardWin {
 public:
  CardWin(App& app, const std::wstring& cardName) : app_(app) {
    const std::wstring caption = std::wstring(kCardCaption) + cardName;
    if (!WaitUntil([&] { return (d_ = app.Find(caption.c_str(), app.main())) != nullptr; }))
      Abort("the card window did not appear");
    list_ = GetDlgItem(d_, IDC_CARD_LIST);
  }
  HWND hwnd() const { return d_; }
  int Rows() const { return static_cast<int>(Send(list_, LVM_GETITEMCOUNT, 0, 0)); }
  std::wstring Cell(int row, int column) { return app_.CellOf(list_, row, column); }
  std::vector<std::wstring> Folders() {
    std::vector<std::wstring> folders;
    for (int r = 0; r < Rows(); ++r) folders.push_back(Cell(r, 0));
    return folders;
  }
  int RowOf(const std::wstring& folder) {
    for (int r = 0; r < Rows(); ++r)
      if (Cell(r, 0) == folder) return r;
    Abort("no such save in the card window");
  }
  void Select(std::initializer_list<int> rows) {
    bool first = true;
    for (int r : rows) {
      app_.SelectIn(list_, r, !first);
      first = false;
    }
    app_.Settle();
  }
  std::wstring Text(int id) const { return WindowText(GetDlgItem(d_, id)); }
  bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(d_, id)) != FALSE; }
  // A button, posted so that a dialog it opens doesn't block us.
  void Press(int id) {
    PostMessageW(d_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(d_, id)));
  }
  // Import... of one file.
  void Import(const std::wstring& path) {
    Press(IDC_CARD_IMPORT);
    app_.AnswerFileDialog(L"Open", path, d_);
    WaitUntil([&] { return app_.Find(L"Open", d_) == nullptr; });
    app_.Settle();
  }
  // Export... of the selected saves into a folder, as the target of that label.
  void Export(const std::wstring& folder, const std::wstring& target) {
    FolderAndTarget(IDC_CARD_EXPORT, L"Export", folder, target);
  }
  // A button whose dialog takes a folder and one of its targets (Export..., Split onto SD
  // card...): the dialog, captioned so, answered with that folder and the target of that label.
  void FolderAndTarget(int button, const wchar_t* caption, const std::wstring& folder, const std::wstring& target) {
    Press(button);
    HWND dialog = nullptr;
    if (!WaitUntil([&] { return (dialog = app_.Find(caption, d_)) != nullptr; }))
      Abort("the folder and target dialog did not appear");
    Send(GetDlgItem(dialog, IDC_EXPORT_FOLDER), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    HWND combo = GetDlgItem(dialog, IDC_EXPORT_TARGET);
    bool found = false;
    for (LRESULT i = 0, n = Send(combo, CB_GETCOUNT, 0, 0); i < n && !found; ++i) {
      Send(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
      found = WindowText(combo) == target;
    }
    if (!found) Abort("the dialog does not offer the target");
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    WaitUntil([&] { return !IsWindow(dialog); });
    app_.Settle();
  }
  bool NoDialogOpen() const { return app_.Find(nullptr, d_) == nullptr; }

 private:
  App& app_;
  HWND d_ = nullptr;
  HWND list_ = nullptr;
};

// File > New Card...: 8 MB with ECC, then its name.
void NewCard(App& app, const std::wstring& path) {
  app.Command(IDM_NEW_CARD);
  HWND dialog = nullptr;
  if (!WaitUntil([&] { return (dialog = app.Find(L"New Card", app.main())) != nullptr; }))
    Abort("the New Card dialog did not appear");
  CHECK_EQ(WindowText(GetDlgItem(dialog, IDC_NEW_CARD_SIZE)), L"8 MB");
  CHECK(Send(GetDlgItem(dialog, IDC_NEW_CARD_ECC), BM_GETCHECK, 0, 0) == BST_CHECKED);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  WaitUntil([&] { return !IsWindow(dialog); });
  app.AnswerFileDialog(L"Save As", path);
}

// The corpus card, copied into the work folder; empty without the corpus.
std::wstring CorpusCard() {
  std::wstring corpus = g_corpus + L"\\card\\a.ps2";
  if (!Exists(corpus)) return {};
  std::wstring path = WorkPath(L"a.ps2");
  WriteAll(path, ReadAll(corpus));
  return path;
}

#define REQUIRE_CORPUS_CARD(var)                          \
  std::wstring var = CorpusCard();                        \
  if (var.empty()) {                                      \
    Log("skip: no card image (the corpus is absent)");    \
    return 77;                                            \
  }

// The card as the library reads it.
std::unique_ptr<card::Card> LibraryCard(const std::wstring& path) {
  card::OpenedCard opened = card::OpenCard(Utf8(path));
  if (!opened.card) Abort("the library cannot open the card");
  return std::move(opened.card);
}

// What a full check of the card finds that is worse than a notice.
std::vector<std::wstring> Damage(const card::Card& c) {
  std::vector<std::wstring> lines;
  for (const card::Issue& issue : c.Check())
    if (issue.severity() != card::Severity::kNotice) lines.push_back(Wide(card::messages::IssueLine(issue)));
  return lines;
}

// The names and bytes of the files of a save on the card.
std::vector<PsuFile> CardFiles(const card::Card& c, const std::string& folder) {
  std::vector<PsuFile> files;
  card::OpenedSave opened = c.OpenSave(folder);
  if (!opened.save) Abort("the library cannot open the save on the card");
  for (int i = 0; i < opened.save->FileCount(); ++i) {
    const SaveEntry& e = *opened.save->EntryAt(i);
    PsuFile f{std::string(e.Name()), {}};
    CHECK(ReadEntryData(e, opened.save->container.get(), f.data) == DataResult::kOk);
    files.push_back(std::move(f));
  }
  return files;
}

void CheckSameFiles(const std::vector<PsuFile>& written, const std::vector<PsuFile>& reference) {
  CHECK_EQ(written.size(), reference.size());
  for (std::size_t i = 0; i < written.size() && i < reference.size(); ++i) {
    CHECK_EQ(written[i].name, reference[i].name);
    CHECK_EQ(written[i].data, reference[i].data);
  }
}

// The card window and the library both find the reference save alone on the card, and the
// card undamaged.
void CheckHoldsOnly(CardWin& card, const std::wstring& path, const ParsedPsu& reference) {
  CHECK_EQ(card.Folders(), std::vector<std::wstring>{Wide(reference.folder)});
  std::unique_ptr<card::Card> library = LibraryCard(path);
  CHECK(Damage(*library).empty());
  CheckSameFiles(CardFiles(*library, reference.folder), reference.files);
}

int CaseCardOpen() {
  REQUIRE_CORPUS_CARD(path);
  const Bytes before = ReadAll(path);
  App app;
  app.Open(path);
  CardWin card(app, L"a.ps2");
  std::unique_ptr<card::Card> library = LibraryCard(path);
  card::Listing listing = library->List();
  CHECK_EQ(card.Rows(), 2);
  for (const card::SaveInfo& save : listing.saves) {
    int row = card.RowOf(Wide(save.folder));
    CHECK_EQ(card.Cell(row, 2), std::to_wstring(save.sizeKB) + L" KB");
    // The full title, decoded from Shift-JIS, both lines.
    FullTitle title = ReadFullTitle(*library->OpenSave(save.folder).save);
    if (title.found) CHECK_EQ(card.Cell(row, 1), Wide(title.line2.empty() ? title.line1 : title.line1 + " " + title.line2));
  }
  CHECK(card.Cell(card.RowOf(L"BESCES-50501REZ"), 1) != L"");
  CHECK_EQ(card.Text(IDC_CARD_FREE), Wide(card::messages::FreeText(listing) + " of 8,000 KB (8 MB with ECC)"));
  CHECK(card.Enabled(IDC_CARD_IMPORT));
  for (int id : {IDC_CARD_OPEN, IDC_CARD_EXPORT, IDC_CARD_DELETE}) CHECK(!card.Enabled(id));
  card.Select({0, 1});
  CHECK(!card.Enabled(IDC_CARD_OPEN));
  CHECK(card.Enabled(IDC_CARD_EXPORT) && card.Enabled(IDC_CARD_DELETE));
  card.Select({card.RowOf(L"BESCES-50501REZ")});
  CHECK(card.Enabled(IDC_CARD_OPEN));
  Screenshot("card");
  // The main window is as it was, and opening the card wrote nothing.
  CHECK_EQ(app.Rows(), 0);
  CHECK_EQ(WindowText(app.main()), L"Converter");
  CHECK_EQ(ReadAll(path), before);
  card.Press(IDC_CARD_CLOSE);
  CHECK(WaitUntil([&] { return !IsWindow(card.hwnd()); }));
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseCardExport() {
  REQUIRE_CORPUS_CARD(path);
  const Bytes before = ReadAll(path);
  // psu/a.psu holds the same files as the card's save.
  ParsedPsu reference = ReferencePsu();
  App app;
  app.Open(path);
  CardWin card(app, L"a.ps2");
  card.Select({card.RowOf(L"BESCES-50501REZ")});
  card.Export(WorkPath(L"out"), L"Memory Linker (*.psu)");
  CHECK(card.NoDialogOpen());
  ParsedPsu exported = ParsePsu(ReadAll(WorkPath(L"out\\BESCES-50501REZ.psu")));
  CheckSameFiles(exported, reference);
  card.Export(WorkPath(L"plain"), L"Plain folder (one folder per save)");
  for (const PsuFile& f : reference.files)
    CHECK_EQ(ReadAll(WorkPath(L"plain\\BESCES-50501REZ\\" + Wide(f.name))), f.data);
  CHECK_EQ(ReadAll(path), before);
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseCardImportNew() {
  std::wstring source = SourceSave(L"max");
  ParsedPsu reference = ReferencePsu();
  std::wstring path = WorkPath(L"new.ps2");
  App app;
  NewCard(app, path);
  CardWin card(app, L"new.ps2");
  CHECK_EQ(card.Rows(), 0);
  CHECK_EQ(card.Text(IDC_CARD_FREE), L"8,000 KB free of 8,000 KB (8 MB with ECC)");
  CHECK_EQ(ReadAll(path).size(), 8650752u);
  card.Import(source);
  CHECK(card.NoDialogOpen());
  CheckHoldsOnly(card, path, reference);
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseCardDelete() {
  REQUIRE_CORPUS_CARD(path);
  const Bytes before = ReadAll(path);
  App app;
  app.Open(path);
  CardWin card(app, L"a.ps2");
  card.Select({card.RowOf(L"BEDATA-SYSTEM")});
  card.Press(IDC_CARD_DELETE);
  std::wstring question = app.AnswerMessageBox(L"Delete", IDNO, card.hwnd());
  CHECK(question.find(L"BEDATA-SYSTEM") != std::wstring::npos);
  app.Settle();
  CHECK_EQ(ReadAll(path), before);
  card.Press(IDC_CARD_DELETE);
  app.AnswerMessageBox(L"Delete", IDYES, card.hwnd());
  app.Settle();
  CHECK_EQ(card.Folders(), std::vector<std::wstring>{L"BESCES-50501REZ"});
  std::unique_ptr<card::Card> library = LibraryCard(path);
  CHECK_EQ(library->List().saves.size(), 1u);
  CHECK(Damage(*library).empty());
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseCardFull() {
  std::wstring path = WorkPath(L"full.ps2");
  App app;
  NewCard(app, path);
  CardWin card(app, L"full.ps2");
  // One save that leaves less than 100 KB free, then one that needs a little more than that.
  card.Import(WritePsu(L"filler.psu", {{"fill.bin", Pseudo(7900 * 1024, 3)}}, "BESLES-00000FILL"));
  CHECK_EQ(card.Rows(), 1);
  const std::uint32_t freeKB = LibraryCard(path)->List().freeKB;
  std::wstring more = WritePsu(L"more.psu", {{"more.bin", Pseudo((freeKB + 8) * 1024, 4)}}, "BESLES-00000MORE");
  const Bytes before = ReadAll(path);
  card.Press(IDC_CARD_IMPORT);
  app.AnswerFileDialog(L"Open", more, card.hwnd());
  std::wstring refusal = app.AnswerMessageBox(L"Error", IDOK, card.hwnd());
  CHECK(refusal.rfind(L"BESLES-00000MORE does not fit: needs ", 0) == 0);
  CHECK(refusal.find(L", " + std::to_wstring(freeKB) + L" KB free") != std::wstring::npos);
  app.Settle();
  CHECK_EQ(card.Rows(), 1);
  CHECK(ReadAll(path) == before);
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseCardEdit() {
  REQUIRE_CORPUS_CARD(path);
  ParsedPsu reference = ReferencePsu();
  App app;
  app.Open(path);
  CardWin card(app, L"a.ps2");
  std::vector<PsuFile> system = CardFiles(*LibraryCard(path), "BEDATA-SYSTEM");
  card.Select({card.RowOf(L"BESCES-50501REZ")});
  card.Press(IDC_CARD_OPEN);
  app.Settle();
  CHECK_EQ(WindowText(app.main()), L"BESCES-50501REZ on a.ps2 - Converter");
  CHECK_EQ(app.Text(IDC_FOLDER_NAME), L"BESCES-50501REZ");
  CHECK_EQ(app.Names(), NamesOf(reference));
  const int last = app.Rows() - 1;
  app.EditLabel(last, L"renamed.dat");
  app.Settle();
  app.Command(IDC_SAVE);
  app.Settle();
  CHECK(app.NoDialogOpen());
  // The card holds the renamed file and passes a full check; the other save is untouched.
  std::unique_ptr<card::Card> library = LibraryCard(path);
  CHECK(Damage(*library).empty());
  std::vector<PsuFile> files = CardFiles(*library, "BESCES-50501REZ");
  std::vector<PsuFile> expected = reference.files;
  expected.back().name = "renamed.dat";
  CheckSameFiles(files, expected);
  CheckSameFiles(CardFiles(*library, "BEDATA-SYSTEM"), system);
  CHECK_EQ(card.Rows(), 2);
  CHECK_EQ(app.Cell(last, 0), L"renamed.dat");
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

// A card holding the reference save, made with the library.
std::wstring LibraryCardWithSave(const std::wstring& name) {
  std::wstring path = WorkPath(name);
  card::FormatOptions options;
  if (card::FormatImage(Utf8(path), options) != card::FormatResult::kFormatted) Abort("cannot format a card");
  const std::string psu = Utf8(SourceSave(L"psu"));
  std::unique_ptr<CSaveGame> save = CreateForExtension("psu");
  if (save->Load(psu) != LoadResult::kOk) Abort("cannot load the reference save");
  if (LibraryCard(path)->Import(*save).result != card::ImportResult::kImported) Abort("cannot import the reference save");
  return path;
}

int CaseCardSplit() {
  ParsedPsu reference = ReferencePsu();
  std::wstring path = LibraryCardWithSave(L"source.ps2");
  const Bytes before = ReadAll(path);
  // A folder a user named, with a space and a letter beyond ASCII.
  std::wstring root = WorkPath(L"SD card \u00e9");
  CreateDirectoryW(root.c_str(), nullptr);
  App app;
  app.Open(path);
  CardWin card(app, L"source.ps2");
  card.FolderAndTarget(IDC_CARD_SPLIT, L"Split onto SD card", root, L"sd2psx / sd2psXtd (MemoryCards)");
  std::wstring report = app.AnswerMessageBox(L"Split onto SD card", IDOK, card.hwnd());
  const std::string code = reference.folder.substr(2, 10);
  const std::wstring target = L"MemoryCards/PS2/" + Wide(code) + L"/" + Wide(code) + L"-1.mcd";
  CHECK(report.find(Wide(reference.folder) + L" -> " + target + L" (new card)") != std::wstring::npos);
  std::unique_ptr<card::Card> made = LibraryCard(root + L"\\" + target);
  CHECK(Damage(*made).empty());
  CheckSameFiles(CardFiles(*made, reference.folder), reference.files);
  CHECK_EQ(ReadAll(path), before);
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

int CaseCardMerge() {
  ParsedPsu reference = ReferencePsu();
  std::wstring root = WorkPath(L"sd");
  CreateDirectoryW(root.c_str(), nullptr);
  const sd::SplitReport split = sd::SplitCardFile(Utf8(LibraryCardWithSave(L"source.ps2")), Utf8(root), {});
  CHECK(split.Complete());
  std::wstring path = WorkPath(L"merged.ps2");
  App app;
  NewCard(app, path);
  CardWin card(app, L"merged.ps2");
  card.Press(IDC_CARD_MERGE);
  app.AnswerFolderPicker(root);
  // The merge reads the SD card's folders and writes the card: on a machine busy with
  // other builds it has taken more than ten seconds.
  std::wstring report = app.AnswerMessageBox(L"Merge from SD card", IDOK, card.hwnd(), 60000);
  const bool merged = report.find(Wide(reference.folder) + L" <- MemoryCards/PS2/") != std::wstring::npos;
  CHECK(merged);
  if (!merged) Log("  the merge's report: %s", Utf8(report).c_str());
  app.Settle();
  CheckHoldsOnly(card, path, reference);
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

// A PS1 save: the corpus's 10-block Japanese .mcs, or a 2-block one built here (its
// directory frame, then blocks from "SC" with a dashed title).
std::wstring Ps1Source(std::wstring& title, std::wstring& summary) {
  std::wstring corpus = g_corpus + L"\\ps1save\\a.mcs";
  std::wstring path = WorkPath(L"source.mcs");
  if (Exists(corpus)) {
    WriteAll(path, ReadAll(corpus));
    title = L"ディアブロ－１Ｐ　Ｌ　１　ＷＡＲ　ＣＢＡＢＡＢＡＢＡＢ";
    summary = L"10 blocks";
    return path;
  }
  const std::string name = "BASLUS-01105DATA1";
  Bytes file(128, 0);
  file[0] = 0x51;
  Put32(file, 4, 2 * 8192);
  file[8] = file[9] = 0xFF;
  std::copy(name.begin(), name.end(), file.begin() + 10);
  for (std::size_t i = 0; i < 127; ++i) file[127] ^= file[i];
  Bytes blocks = Pseudo(2 * 8192, 5);
  const std::string header = std::string("SC\x11\x02") + "PAC\x81\x7CMAN";
  std::fill(blocks.begin(), blocks.begin() + 0x60, 0);
  std::copy(header.begin(), header.end(), blocks.begin());
  file.insert(file.end(), blocks.begin(), blocks.end());
  WriteAll(path, file);
  title = L"PAC－MAN";
  summary = L"2 blocks";
  return path;
}

// A PS1 save shows its card file name, title and blocks, has no folder Properties, and is
// saved as the other PS1 families with the command line's bytes.
int CasePs1Save() {
  std::wstring title, summary;
  std::wstring source = Ps1Source(title, summary);
  App app;
  app.Open(source);
  CHECK(app.NoDialogOpen());
  CHECK_EQ(app.Text(IDC_TITLE), title);
  CHECK_EQ(app.Text(IDC_ROOT_MODE), summary);
  CHECK_EQ(app.Rows(), 1);
  CHECK(!app.Enabled(IDC_FOLDER_PROPERTIES));
  Screenshot("ps1");
  for (const wchar_t* extension : {L"psx", L"ps1", L"psv", L"mcx"}) {
    const std::wstring written = WorkPath(std::wstring(L"converted.") + extension);
    SaveAs(app, written);
    CHECK_EQ(ReadAll(written), CliConvert(source, WorkPath(std::wstring(L"cli.") + extension)));
  }
  // Opened from the .psx, it is the same save, and saved as .mcs the source comes back
  // but for the frame's next index, which only a card gives.
  app.Open(WorkPath(L"converted.psx"));
  CHECK(app.NoDialogOpen());
  CHECK_EQ(app.Text(IDC_TITLE), title);
  SaveAs(app, WorkPath(L"back.mcs"));
  CHECK_EQ(ReadAll(WorkPath(L"back.mcs")), CliConvert(WorkPath(L"converted.psx"), WorkPath(L"cli-back.mcs")));
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

// File > New Card... of a PS1 card, then its name.
void NewPs1Card(App& app, const std::wstring& path) {
  app.Command(IDM_NEW_CARD);
  HWND dialog = nullptr;
  if (!WaitUntil([&] { return (dialog = app.Find(L"New Card", app.main())) != nullptr; }))
    Abort("the New Card dialog did not appear");
  HWND combo = GetDlgItem(dialog, IDC_NEW_CARD_SIZE);
  bool found = false;
  for (LRESULT i = 0, n = Send(combo, CB_GETCOUNT, 0, 0); i < n && !found; ++i) {
    Send(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    found = WindowText(combo) == L"PS1 card (128 KB)";
  }
  if (!found) Abort("the New Card dialog does not offer a PS1 card");
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  WaitUntil([&] { return !IsWindow(dialog); });
  app.AnswerFileDialog(L"Save As", path);
}

// A new PS1 card takes a PS1 save; Delete leaves its row marked deleted, and Restore,
// offered only for a deleted save, brings it back with the source's blocks.
int CasePs1Card() {
  std::wstring title, summary;
  std::wstring source = Ps1Source(title, summary);
  std::wstring path = WorkPath(L"new.mcd");
  App app;
  NewPs1Card(app, path);
  CardWin card(app, L"new.mcd");
  CHECK_EQ(card.Rows(), 0);
  CHECK_EQ(ReadAll(path).size(), 131072u);
  card.Import(source);
  CHECK(card.NoDialogOpen());
  CHECK_EQ(card.Rows(), 1);
  CHECK_EQ(card.Cell(0, 1), title);
  const std::wstring name = card.Cell(0, 0);
  const std::wstring slots = card.Cell(0, 3);
  card.Select({0});
  CHECK(card.Enabled(IDC_CARD_DELETE) && !card.Enabled(IDC_CARD_RESTORE));
  card.Press(IDC_CARD_DELETE);
  app.AnswerMessageBox(L"Delete", IDYES, card.hwnd());
  app.Settle();
  CHECK_EQ(card.Rows(), 1);
  CHECK_EQ(card.Cell(0, 3), L"deleted: " + slots);
  card.Select({0});
  CHECK(card.Enabled(IDC_CARD_RESTORE) && !card.Enabled(IDC_CARD_DELETE));
  card.Press(IDC_CARD_RESTORE);
  app.Settle();
  CHECK(card.NoDialogOpen());
  CHECK_EQ(card.Cell(0, 3), slots);
  std::unique_ptr<card::Card> library = LibraryCard(path);
  CHECK(Damage(*library).empty());
  const Bytes mcs = ReadAll(source);
  const std::vector<PsuFile> files = CardFiles(*library, Utf8(name));
  CHECK_EQ(files.size(), 1u);
  if (!files.empty()) CHECK(files[0].data == Bytes(mcs.begin() + 128, mcs.end()));
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

// A main window of another copy of the program, showing the save of that folder name.
HWND OtherMainWindowShowing(DWORD pid, const std::wstring& folder) {
  struct Search {
    DWORD pid;
    const std::wstring& folder;
    HWND found;
  } search{pid, folder, nullptr};
  EnumWindows([](HWND hwnd, LPARAM lParam) -> BOOL {
    auto* s = reinterpret_cast<Search*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == s->pid || !IsWindowVisible(hwnd) || WindowText(hwnd) != L"Converter") return TRUE;
    HWND field = GetDlgItem(hwnd, IDC_FOLDER_NAME);
    if (!field || WindowText(field) != s->folder) return TRUE;
    s->found = hwnd;
    return FALSE;
  }, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Files named on the command line open as File > Open opens them: a save whose Japanese
// name is relative to the folder the program starts in, in the main window; a card in the
// card window; each file after the first in a copy of the program of its own.
int CaseCommandLine() {
  const std::wstring folder = WorkPath(L"セーブ");
  CreateDirectoryW(folder.c_str(), nullptr);
  WriteAll(folder + L"\\データ.psu", BuildPsu("BESLES-12345SAVE", SampleFiles()));
  const std::wstring card = WorkPath(L"named card.ps2");
  CHECK_EQ(RunCli(L"card format " + Quote(card)), 0ul);
  {
    App app(Quote(L"セーブ\\データ.psu"));
    WaitUntil([&] { return app.Text(IDC_FOLDER_NAME) == L"BESLES-12345SAVE"; });
    CHECK_EQ(app.Text(IDC_FOLDER_NAME), L"BESLES-12345SAVE");
    CHECK_EQ(app.Rows(), 3);
    CHECK_EQ(app.Exit(), 40004ul);
  }
  App app(Quote(card) + L" " + Quote(L"セーブ\\データ.psu"));
  CardWin cards(app, L"named card.ps2");
  CHECK_EQ(cards.Rows(), 0);
  CHECK_EQ(app.Rows(), 0);
  HWND other = nullptr;
  WaitUntil([&] { return (other = OtherMainWindowShowing(app.Pid(), L"BESLES-12345SAVE")) != nullptr; }, 20000);
  CHECK(other != nullptr);
  if (other) {
    DWORD pid = 0;
    GetWindowThreadProcessId(other, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    PostMessageW(other, WM_CLOSE, 0, 0);
    if (process) {
      if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
      CloseHandle(process);
    }
  }
  CHECK_EQ(app.Exit(), 40004ul);
  return 0;
}

const std::map<std::string, std::function<int()>> kCases = {
    {"start", CaseStart},
    {"open-psu", CaseOpenPsu},
    {"damaged", CaseDamaged},
    {"unknown-type", CaseUnknownType},
    {"save-as", CaseSaveAs},
    {"in-place", CaseInPlace},
    {"replace-fails", CaseReplaceFails},
    {"add-file", CaseAddFile},
    {"extract", CaseExtract},
    {"rename", CaseRename},
    {"delete-key", CaseDeleteKey},
    {"right-click", CaseRightClick},
    {"about", CaseAbout},
    {"close-box", CaseCloseBox},
    {"japanese", CaseJapanese},
    {"command-line", CaseCommandLine},
    {"open-xps", CaseOpenXps},
    {"open-max", CaseOpenMax},
    {"convert-psu", CaseConvertPsu},
    {"xps-question", CaseXpsQuestion},
    {"max-question", CaseMaxQuestion},
    {"properties", CaseProperties},
    {"properties-cancel", CasePropertiesCancel},
    {"card-open", CaseCardOpen},
    {"card-export", CaseCardExport},
    {"card-import-new", CaseCardImportNew},
    {"card-delete", CaseCardDelete},
    {"card-full", CaseCardFull},
    {"card-edit", CaseCardEdit},
    {"card-split", CaseCardSplit},
    {"card-merge", CaseCardMerge},
    {"ps1-save", CasePs1Save},
    {"ps1-card", CasePs1Card},
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"--list") {
    for (const auto& [name, run] : kCases) Log("%s", name.c_str());
    return 0;
  }
  if (argc != 6) {
    Log("usage: moravelt-e2e <moravelt.exe> <moravelt-cli.exe> <work folder> <corpus folder> <case> | --list");
    return 2;
  }
  g_exe = argv[1];
  g_cli = argv[2];
  g_work = argv[3];
  g_corpus = argv[4];
  auto it = kCases.find(Utf8(argv[5]));
  if (it == kCases.end()) {
    Log("unknown case");
    return 2;
  }
  int result = 0;
  try {
    result = it->second();
  } catch (const Fatal&) {
    result = 1;
  }
  if (g_failures > 0) result = 1;
  Log("%s %s", it->first.c_str(), result == 0 ? "PASSED" : result == 77 ? "SKIPPED" : "FAILED");
  return result;
}
