// SettingsSheet: what the four pages of the settings dialog do, whichever
// system draws them. It fills each page from memory when the page is first
// shown, stores each page that was made into memory on OK, and carries out
// the pages' buttons: the two "..." choosers and the control page's actions,
// which take effect at once and are not undone by Cancel. The pages
// themselves are dialog resources (resources/ambervox.rc), shown by
// platform::ShowPropertySheet.
//
// One instance per run of the config entry, on the host's user-interface
// thread, which is also where every page callback comes. It owns nothing of
// the context; the SheetPage of the server page is kept from its OnInit to
// the end of the sheet, because the skin chooser starts in the folder being
// edited there.
#pragma once

#include <string>

#include "common/byte_string.h"
#include "common/settings_table.h"
#include "platform/property_sheet.h"
#include "plugin/settings_dialog.h"

namespace ambervox {

class SettingsSheet {
 public:
  // The pages, in the order of the tabs.
  enum PageIndex { kServerPage = 0, kDisplayPage = 1, kRequestPage = 2, kControlPage = 3 };
  static constexpr int kPageCount = 4;

  // Longest texts stored from the page edits, in bytes (one less than the
  // setting's read buffer), and the most characters a number is read from.
  static constexpr int kMaxTextBytes = kTextBufferSize - 1;          // WebRoot, Playlistfile, the link texts
  static constexpr int kMaxPasswordBytes = kPasswordBufferSize - 1;  // AdminPassword
  static constexpr int kMaxNumberChars = 63;

  explicit SettingsSheet(const SettingsDialogContext& context);
  SettingsSheet(const SettingsSheet&) = delete;
  SettingsSheet& operator=(const SettingsSheet&) = delete;

  // Shows the sheet modally, owned by the context's owner window; what it
  // ended with. Only kOk has stored anything.
  platform::SheetResult Show();

  // The page callbacks, as the sheet calls them.
  void InitPage(int index, platform::SheetPage& page);
  void CommandPage(int index, platform::SheetPage& page, int controlId);
  void ApplyPage(int index, platform::SheetPage& page);

  // The skin chooser's initial file name: `folder` without its trailing
  // backslashes, one backslash, then `fileName` when a file of that name
  // exists there, else "*.html".
  static std::string SkinStartPath(const std::string& folder, const std::string& fileName);
  // `text` cut to at most `maxBytes` bytes, never in the middle of a
  // two-byte character.
  static ByteString CutText(const std::string& text, int maxBytes);

 private:
  class PageHandler : public platform::SheetPageHandler {
   public:
    PageHandler() = default;
    void Attach(SettingsSheet* sheet, int index) {
      sheet_ = sheet;
      index_ = index;
    }
    void OnInit(platform::SheetPage& page) override { sheet_->InitPage(index_, page); }
    void OnCommand(platform::SheetPage& page, int controlId) override { sheet_->CommandPage(index_, page, controlId); }
    void OnApply(platform::SheetPage& page) override { sheet_->ApplyPage(index_, page); }

   private:
    SettingsSheet* sheet_ = nullptr;
    int index_ = 0;
  };

  // The settings shown on page `index` (the dialog's control table in
  // settings_sheet.cpp), into its controls and back.
  void FillPage(int index, platform::SheetPage& page);
  void StorePage(int index, platform::SheetPage& page);
  void BrowseWebRoot(platform::SheetPage& page);
  void ChooseSkinFile(platform::SheetPage& page);
  void ReloadPlaylist(platform::SheetPage& page);

  SettingsDialogContext context_;
  PageHandler handlers_[kPageCount];
  platform::SheetPage* serverPage_ = nullptr;  // from the server page's OnInit
};

}  // namespace ambervox
