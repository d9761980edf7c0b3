// win32-sheet-driver: drives the plug-in's settings sheet in another process
// (ambervox-host under the same Wine server) the way a user would, for the
// end-to-end tests. It reads one command per line from standard input and
// answers each with one line that starts with "ok" or "error". Texts go both
// ways as hex of their ANSI bytes, so that code page 932 captions survive
// the console untouched.
//
//   wait-sheet MS            the sheet (titled as the plug-in) is shown
//   caption                  the sheet's caption
//   rect                     the sheet's screen rectangle: left top width height
//   tabs                     the tab texts, in order
//   buttons                  the sheet's visible buttons: id:text
//   current                  the index of the page that is showing
//   select I                 shows page I (PSM_SETCURSEL)
//   dump I                   page I's controls in z-order: id:class:style:text
//   text I ID / set-text I ID HEX   a control's contents (WM_GETTEXT / WM_SETTEXT)
//   checked I ID / check I ID 0|1
//   enabled I ID
//   click I ID               a button click, handled before the answer
//   post-click I ID          a button click that opens a modal dialog
//   press ok|cancel          PSM_PRESSBUTTON, then waits for the sheet to go
//   escape                   Escape on the focused control, then waits
//   wait-box MS              a message box titled as the plug-in: its texts
//   wait-dialog MS           a dialog owned by the sheet: caption and controls
//   dialog-text ID / dialog-set-text ID HEX
//   dialog-command ID        WM_COMMAND ID to that dialog, then waits for it to go
//   box-ok                   OK on the message box, then waits for it to go
// clang-format off
#include <windows.h>  // before the headers that build on it
#include <commctrl.h>
#include <prsht.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kCaption[] = "Ambervox Plugin TOVA CUSTOM 4.4.0";

HWND theSheet = nullptr;
HWND theDialog = nullptr;  // a message box or a common dialog, by wait-box / wait-dialog

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool Unhex(const std::string& hex, std::string* bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    char pair[3] = {hex[i], hex[i + 1], 0};
    char* end = nullptr;
    long value = std::strtol(pair, &end, 16);
    if (*end != 0) return false;
    bytes->push_back(static_cast<char>(value));
  }
  return true;
}

std::string WindowText(HWND window) {
  char buffer[4096];
  int length = GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

// The contents of a control in another process: GetWindowTextA would give
// only the caption the control was made with.
std::string ControlText(HWND control) {
  int length = static_cast<int>(SendMessageA(control, WM_GETTEXTLENGTH, 0, 0));
  if (length <= 0) return std::string();
  std::vector<char> buffer(static_cast<std::size_t>(length) * 2 + 2, '\0');
  int copied =
      static_cast<int>(SendMessageA(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data())));
  return std::string(buffer.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0);
}

std::string ClassOf(HWND window) {
  char buffer[256];
  int length = GetClassNameA(window, buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

bool HasTabControl(HWND window) { return FindWindowExA(window, nullptr, WC_TABCONTROLA, nullptr) != nullptr; }

struct Search {
  bool wantSheet;
  HWND found;
};

BOOL CALLBACK FindPluginWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  if (!IsWindowVisible(window) || WindowText(window) != kCaption || ClassOf(window) != "#32770") return TRUE;
  if (HasTabControl(window) != search->wantSheet) return TRUE;
  search->found = window;
  return FALSE;
}

HWND WaitForPluginWindow(bool sheet, DWORD milliseconds) {
  DWORD start = GetTickCount();
  for (;;) {
    Search search = {sheet, nullptr};
    EnumWindows(&FindPluginWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    if (GetTickCount() - start > milliseconds) return nullptr;
    Sleep(20);
  }
}

struct OwnedSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindOwnedDialog(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<OwnedSearch*>(parameter);
  if (window == search->owner || !IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
  // Owned by the sheet, directly or through another of its dialogs (the
  // sheet itself is owned by the host's main window).
  for (HWND owner = GetWindow(window, GW_OWNER); owner; owner = GetWindow(owner, GW_OWNER)) {
    if (owner == search->owner) {
      search->found = window;
      return FALSE;
    }
  }
  return TRUE;
}

bool WaitGone(HWND window, DWORD milliseconds) {
  DWORD start = GetTickCount();
  while (IsWindow(window) && IsWindowVisible(window)) {
    if (GetTickCount() - start > milliseconds) return false;
    Sleep(20);
  }
  return true;
}

HWND Page(int index) {
  if (!theSheet) return nullptr;
  return reinterpret_cast<HWND>(SendMessageA(theSheet, PSM_INDEXTOHWND, static_cast<WPARAM>(index), 0));
}

std::string DumpChildren(HWND parent) {
  std::string out;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char line[64];
    std::snprintf(line, sizeof line, " %d:%s:%08lx:", GetDlgCtrlID(child), ClassOf(child).c_str(),
                  static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)));
    out += line + Hex(WindowText(child));
  }
  return out;
}

// TCM_GETITEMA writes into memory of the process that owns the tab control.
std::string TabTexts() {
  HWND tab = reinterpret_cast<HWND>(SendMessageA(theSheet, PSM_GETTABCONTROL, 0, 0));
  if (!tab) return "error no tab control";
  DWORD processId = 0;
  GetWindowThreadProcessId(tab, &processId);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
  if (!process) return "error cannot open the sheet's process";
  const SIZE_T textSize = 512;
  char* remote = static_cast<char*>(
      VirtualAllocEx(process, nullptr, sizeof(TCITEMA) + textSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  std::string out = "ok";
  int count = static_cast<int>(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count && remote; ++i) {
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = remote + sizeof(TCITEMA);
    item.cchTextMax = static_cast<int>(textSize);
    char text[512] = {};
    WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
    WriteProcessMemory(process, remote + sizeof(TCITEMA), text, sizeof text, nullptr);
    SendMessageA(tab, TCM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote));
    // The control may point pszText at its own copy instead.
    ReadProcessMemory(process, remote, &item, sizeof item, nullptr);
    ReadProcessMemory(process, item.pszText, text, sizeof text - 1, nullptr);
    out += " " + Hex(text);
  }
  if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return out;
}

std::string Answer(const std::string& line) {
  std::istringstream in(line);
  std::string command;
  in >> command;
  int index = 0;
  int id = 0;
  if (command == "wait-sheet") {
    DWORD ms = 0;
    in >> ms;
    theSheet = WaitForPluginWindow(true, ms);
    return theSheet ? "ok" : "error no sheet";
  }
  if (command == "wait-box") {
    DWORD ms = 0;
    in >> ms;
    theDialog = WaitForPluginWindow(false, ms);
    if (!theDialog) return "error no message box";
    return "ok" + DumpChildren(theDialog);
  }
  if (command == "box-ok" || command == "dialog-command") {
    if (command == "dialog-command") {
      in >> id;
    } else {
      id = IDOK;
    }
    if (!theDialog) return "error no dialog";
    PostMessageA(theDialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    return WaitGone(theDialog, 20000) ? "ok" : "error the dialog stayed";
  }
  if (!theSheet || !IsWindow(theSheet)) return "error no sheet";
  if (command == "caption") return "ok " + Hex(WindowText(theSheet));
  if (command == "rect") {
    RECT r = {};
    GetWindowRect(theSheet, &r);
    return "ok " + std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + " " +
           std::to_string(r.bottom - r.top);
  }
  if (command == "tabs") return TabTexts();
  if (command == "buttons") {
    std::string out = "ok";
    for (HWND child = GetWindow(theSheet, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      if (ClassOf(child) != "Button" || !IsWindowVisible(child)) continue;
      out += " " + std::to_string(GetDlgCtrlID(child)) + ":" + Hex(WindowText(child));
    }
    return out;
  }
  if (command == "current") {
    HWND tab = reinterpret_cast<HWND>(SendMessageA(theSheet, PSM_GETTABCONTROL, 0, 0));
    return "ok " + std::to_string(SendMessageA(tab, TCM_GETCURSEL, 0, 0));
  }
  if (command == "select") {
    in >> index;
    if (!SendMessageA(theSheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0)) return "error cannot select";
    return "ok";
  }
  if (command == "press") {
    std::string which;
    in >> which;
    WPARAM button = which == "ok" ? PSBTN_OK : PSBTN_CANCEL;
    PostMessageA(theSheet, PSM_PRESSBUTTON, button, 0);
    return WaitGone(theSheet, 30000) ? "ok" : "error the sheet stayed";
  }
  if (command == "escape") {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(theSheet, nullptr), &info) || !info.hwndFocus) {
      return "error nothing has the focus";
    }
    PostMessageA(info.hwndFocus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(info.hwndFocus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    return WaitGone(theSheet, 30000) ? "ok" : "error the sheet stayed";
  }
  if (command == "wait-dialog") {
    DWORD ms = 0;
    in >> ms;
    DWORD start = GetTickCount();
    OwnedSearch search = {theSheet, nullptr};
    for (;;) {
      EnumWindows(&FindOwnedDialog, reinterpret_cast<LPARAM>(&search));
      if (search.found || GetTickCount() - start > ms) break;
      Sleep(20);
    }
    theDialog = search.found;
    if (!theDialog) return "error no dialog";
    return "ok " + Hex(WindowText(theDialog)) + DumpChildren(theDialog);
  }
  if (command == "dialog-text" || command == "dialog-set-text") {
    in >> id;
    if (!theDialog) return "error no dialog";
    HWND item = GetDlgItem(theDialog, id);
    if (!item) return "error no control " + std::to_string(id);
    if (command == "dialog-text") return "ok " + Hex(ControlText(item));
    std::string hex, text;
    in >> hex;
    if (!Unhex(hex, &text)) return "error bad hex";
    SendMessageA(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return "ok";
  }

  in >> index;
  HWND page = Page(index);
  if (!page) return "error no page " + std::to_string(index) + " (not made yet?)";
  if (command == "dump") return "ok" + DumpChildren(page);
  in >> id;
  HWND item = GetDlgItem(page, id);
  if (!item) return "error no control " + std::to_string(id);
  if (command == "text") return "ok " + Hex(ControlText(item));
  if (command == "set-text") {
    std::string hex, text;
    in >> hex;
    if (!Unhex(hex, &text)) return "error bad hex";
    SendMessageA(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return "ok";
  }
  if (command == "checked") return SendMessageA(item, BM_GETCHECK, 0, 0) == BST_CHECKED ? "ok 1" : "ok 0";
  if (command == "check") {
    int state = 0;
    in >> state;
    SendMessageA(item, BM_SETCHECK, state ? BST_CHECKED : BST_UNCHECKED, 0);
    return "ok";
  }
  if (command == "enabled") return IsWindowEnabled(item) ? "ok 1" : "ok 0";
  if (command == "click") {
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(item));
    // Read at once, before the host's thread can answer anything else.
    return IsWindowEnabled(item) ? "ok enabled" : "ok disabled";
  }
  if (command == "post-click") {
    PostMessageA(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(item));
    return "ok";
  }
  return "error unknown command " + command;
}

}  // namespace

int main() {
  char buffer[8192];
  while (std::fgets(buffer, sizeof buffer, stdin)) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line == "quit") break;
    std::string answer = Answer(line);
    std::fputs(answer.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  return 0;
}
