// Property sheets on Win32: PropertySheetA over an array of PROPSHEETPAGEA
// whose templates are dialog resources of this module (the plug-in DLL), one
// dialog procedure for every page, and the shell's folder browser and the
// open-file dialog for the pages.
//
// Each page's PROPSHEETPAGEA carries a pointer to its PageState; the sheet
// copies the structure and hands the copy to WM_INITDIALOG, where the state
// is kept in the page's DWLP_USER. The states live in ShowPropertySheet's
// frame, so they outlast every page window.
#include "platform/win32/win32_api.h"

#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <prsht.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/property_sheet.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this module: the DLL the resources are in

namespace ambervox {
namespace platform {
namespace {

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

class Win32SheetPage : public SheetPage {
 public:
  explicit Win32SheetPage(HWND page) : page_(page) {}

  WindowHandle Window() const override { return FromHwnd(page_); }

  std::string ItemText(int id) const override {
    HWND item = GetDlgItem(page_, id);
    if (!item) return std::string();
    // An upper bound of the ANSI length: enough room for the whole text.
    int length = GetWindowTextLengthA(item);
    if (length <= 0) return std::string();
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    int copied = GetWindowTextA(item, &text[0], length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
  }

  void SetItemText(int id, const std::string& text) override { SetDlgItemTextA(page_, id, text.c_str()); }

  bool IsItemChecked(int id) const override { return IsDlgButtonChecked(page_, id) == BST_CHECKED; }

  void SetItemChecked(int id, bool checked) override {
    CheckDlgButton(page_, id, checked ? BST_CHECKED : BST_UNCHECKED);
  }

  void EnableItem(int id, bool enable) override {
    HWND item = GetDlgItem(page_, id);
    if (item) EnableWindow(item, enable ? TRUE : FALSE);
  }

  bool BrowseForFolder(const std::string& title, const std::string& startFolder, std::string* folder) override;
  bool ChooseFileToOpen(const OpenFileOptions& options, std::string* fileName) override;

 private:
  HWND page_;
};

// The shell's browser, at its start and on every change of selection.
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM startFolder) {
  if (message == BFFM_INITIALIZED) {
    const char* start = reinterpret_cast<const char*>(startFolder);
    if (start && *start) SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, startFolder);
  } else if (message == BFFM_SELCHANGED) {
    char path[MAX_PATH] = "";
    if (!SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(lParam), path)) path[0] = '\0';
    SendMessageA(browser, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path));
  }
  return 0;
}

// COM for the shell's dialogs, for as long as one is open; a thread that
// already has COM (in whichever model) keeps it as it is.
class ComScope {
 public:
  ComScope() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (initialized_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool initialized_;
};

bool Win32SheetPage::BrowseForFolder(const std::string& title, const std::string& startFolder, std::string* folder) {
  ComScope com;
  char displayName[MAX_PATH] = "";
  BROWSEINFOA info = {};
  info.hwndOwner = page_;
  info.pidlRoot = nullptr;  // the desktop
  info.pszDisplayName = displayName;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
  info.lpfn = &BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(startFolder.c_str());
  LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  if (!chosen) return false;
  char path[MAX_PATH] = "";
  bool hasPath = SHGetPathFromIDListA(chosen, path) != FALSE;
  CoTaskMemFree(chosen);
  if (!hasPath) return false;
  *folder = path;
  return true;
}

bool Win32SheetPage::ChooseFileToOpen(const OpenFileOptions& options, std::string* fileName) {
  const int size = options.pathBufferSize > 1 ? options.pathBufferSize : MAX_PATH;
  std::vector<char> path(static_cast<std::size_t>(size), '\0');
  std::vector<char> name(static_cast<std::size_t>(size), '\0');
  options.initialPath.copy(path.data(), static_cast<std::size_t>(size) - 1);
  // Description and patterns, each NUL-terminated, and one more NUL at the end.
  std::string filter;
  for (const auto& entry : options.filters) {
    filter += entry.first;
    filter.push_back('\0');
    filter += entry.second;
    filter.push_back('\0');
  }
  filter.push_back('\0');

  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = page_;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(size);
  dialog.lpstrFileTitle = name.data();
  dialog.nMaxFileTitle = static_cast<DWORD>(size);
  dialog.lpstrTitle = options.title.c_str();
  dialog.lpstrDefExt = options.defaultExtension.empty() ? nullptr : options.defaultExtension.c_str();
  // The dialog would otherwise leave the player's process in the folder it
  // last showed.
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameA(&dialog)) return false;
  if (name[0] != '\0') {
    *fileName = name.data();
  } else {
    *fileName = path.data() + (dialog.nFileOffset < static_cast<WORD>(size) ? dialog.nFileOffset : 0);
  }
  return true;
}

struct SheetSession;

struct PageState {
  const SheetPageInfo* info = nullptr;
  SheetSession* session = nullptr;
  std::unique_ptr<Win32SheetPage> page;  // from WM_INITDIALOG on
};

struct SheetSession {
  std::vector<PageState> pages;
  bool accepted = false;  // a PSN_APPLY arrived: OK was pressed
};

PageState* StateOf(HWND page) { return reinterpret_cast<PageState*>(GetWindowLongPtrA(page, DWLP_USER)); }

INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_INITDIALOG) {
      const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
      auto* state = reinterpret_cast<PageState*>(sheetPage->lParam);
      SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
      state->page.reset(new Win32SheetPage(window));
      state->info->handler->OnInit(*state->page);
      return TRUE;
    }
    PageState* state = StateOf(window);
    if (!state || !state->page) return FALSE;
    if (message == WM_COMMAND) {
      // Buttons only: a click comes from a control (lParam) with BN_CLICKED.
      if (HIWORD(wParam) != BN_CLICKED || lParam == 0) return FALSE;
      state->info->handler->OnCommand(*state->page, LOWORD(wParam));
      return TRUE;
    }
    if (message == WM_NOTIFY) {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->code != static_cast<UINT>(PSN_APPLY)) return FALSE;
      // Marked before the handler runs: OK was pressed even if storing fails.
      state->session->accepted = true;
      state->info->handler->OnApply(*state->page);
      SetWindowLongPtrA(window, DWLP_MSGRESULT, PSNRET_NOERROR);
      return TRUE;
    }
  } catch (...) {
    // Nothing may unwind through the sheet's frames; the message counts as
    // handled and the page stays as it is.
    return TRUE;
  }
  return FALSE;
}

}  // namespace

SheetResult ShowPropertySheet(WindowHandle owner, const char* caption, const SheetPageInfo* pages, int count) {
  if (!pages || count <= 0) return SheetResult::kNotAvailable;
  for (int i = 0; i < count; ++i) {
    // A module without the templates (a program that links the plug-in's
    // code but not its resources) gets no sheet rather than an empty one.
    if (!pages[i].handler || !FindResourceA(ThisModule(), MAKEINTRESOURCEA(pages[i].templateId), RT_DIALOG)) {
      return SheetResult::kNotAvailable;
    }
  }
  InitCommonControls();

  SheetSession session;
  session.pages.resize(static_cast<std::size_t>(count));
  std::vector<PROPSHEETPAGEA> sheetPages(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    PageState& state = session.pages[static_cast<std::size_t>(i)];
    state.info = &pages[i];
    state.session = &session;
    PROPSHEETPAGEA& page = sheetPages[static_cast<std::size_t>(i)];
    page.dwSize = sizeof page;
    page.dwFlags = PSP_USETITLE;
    page.hInstance = ThisModule();
    page.pszTemplate = MAKEINTRESOURCEA(pages[i].templateId);
    page.pfnDlgProc = &PageProc;
    page.pszTitle = pages[i].title;
    page.lParam = reinterpret_cast<LPARAM>(&state);
  }

  PROPSHEETHEADERA header = {};
  header.dwSize = sizeof header;
  // The caption as given (no PSH_PROPTITLE), OK and Cancel only, and no
  // context-help button, as there is no help to show.
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_NOCONTEXTHELP;
  header.hwndParent = ToHwnd(owner);
  header.hInstance = ThisModule();
  header.pszCaption = caption;
  header.nPages = static_cast<UINT>(count);
  header.nStartPage = 0;
  header.ppsp = sheetPages.data();
  INT_PTR result = PropertySheetA(&header);
  if (result < 0) return SheetResult::kNotAvailable;
  return session.accepted ? SheetResult::kOk : SheetResult::kCanceled;
}

}  // namespace platform
}  // namespace ambervox
