// Property sheets: a modal sheet of dialog pages made from dialog templates
// in this module's resources, with OK and Cancel only, and the two common
// dialogs its pages open (the shell's folder browser, the open-file dialog).
//
// The caller describes the pages (template id, tab title, handler); the
// sheet calls each handler on the thread that called ShowPropertySheet:
// OnInit when the page is first shown (pages never shown are never made),
// OnCommand when one of its buttons is clicked, OnApply for every page that
// was made when the user presses OK. A SheetPage stays valid from its OnInit
// until ShowPropertySheet returns, so a handler may keep it to read another
// page's controls. No exception leaves a handler: the dialog procedure
// catches it and the message counts as handled.
//
// Texts are bytes in the ANSI code page (code page 932 on the machines the
// plug-in is made for), in and out.
//
// Win32: PropertySheetA over PROPSHEETPAGEA from this module's instance,
// SHBrowseForFolderA and GetOpenFileNameA. POSIX has no dialogs:
// ShowPropertySheet answers kNotAvailable and calls no handler.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/window.h"

namespace ambervox {
namespace platform {

// The open-file dialog: which file the user may pick, and how it starts.
struct OpenFileOptions {
  std::string title;
  std::string initialPath;  // the initial file name: a path, or a folder and a pattern
  // (description, patterns) pairs, the first one selected.
  std::vector<std::pair<std::string, std::string>> filters;
  std::string defaultExtension;  // appended to a name typed without one
  int pathBufferSize = 1024;     // for the full path and for the file name
};

// One page of a shown sheet: its controls by id.
class SheetPage {
 public:
  virtual ~SheetPage() = default;

  // The page's window (the notify window of work it starts).
  virtual WindowHandle Window() const = 0;
  // The whole text of control `id`; "" when there is no such control.
  virtual std::string ItemText(int id) const = 0;
  virtual void SetItemText(int id, const std::string& text) = 0;
  // Check box state.
  virtual bool IsItemChecked(int id) const = 0;
  virtual void SetItemChecked(int id, bool checked) = 0;
  virtual void EnableItem(int id, bool enable) = 0;

  // The shell's folder browser, owned by this page, rooted at the desktop,
  // file-system folders only, with a status line that shows the path of the
  // selected folder. It opens on `startFolder`. True with `folder` set when
  // the user confirmed a folder that has a file-system path; false (and
  // `folder` untouched) otherwise.
  virtual bool BrowseForFolder(const std::string& title, const std::string& startFolder, std::string* folder) = 0;
  // The open-file dialog, owned by this page, accepting only files that
  // exist. True with `fileName` set to the chosen file's name without its
  // folder when the user confirmed one; false (untouched) when canceled.
  virtual bool ChooseFileToOpen(const OpenFileOptions& options, std::string* fileName) = 0;
};

// What a page does; implemented by the sheet's owner.
class SheetPageHandler {
 public:
  virtual ~SheetPageHandler() = default;
  virtual void OnInit(SheetPage& page) = 0;
  virtual void OnCommand(SheetPage& page, int controlId) = 0;
  virtual void OnApply(SheetPage& page) = 0;
};

struct SheetPageInfo {
  int templateId = 0;      // dialog template in this module's resources
  const char* title = "";  // tab text
  SheetPageHandler* handler = nullptr;
};

enum class SheetResult {
  kOk,            // OK was pressed; every page that was made got OnApply
  kCanceled,      // Cancel, Escape or the close box; no OnApply
  kNotAvailable,  // no sheet could be shown (no dialogs on this platform, or no resources)
};

// Shows the sheet modally, owned by `owner`, with caption `caption` exactly
// (no "Properties for" added) and the first page showing; returns when it
// has closed. Runs the calling thread's messages meanwhile.
SheetResult ShowPropertySheet(WindowHandle owner, const char* caption, const SheetPageInfo* pages, int count);

}  // namespace platform
}  // namespace ambervox
