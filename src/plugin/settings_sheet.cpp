#include "plugin/settings_sheet.h"

#include <string>

#include "common/cp932_texts.h"
#include "common/number.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "plugin/companion_window.h"
#include "plugin/plugin_record.h"
#include "plugin/settings_store.h"
#include "resources/resource.h"

namespace ambervox {
namespace {

// The texts of the tabs and of the choosers (common/cp932_texts.h).
constexpr const char* kServerPageTitle = Cp932(kTextServerPageTitle);
constexpr const char* kDisplayPageTitle = Cp932(kTextDisplayPageTitle);
constexpr const char* kRequestPageTitle = Cp932(kTextRequestPageTitle);
constexpr const char* kControlPageTitle = Cp932(kTextControlPageTitle);
constexpr const char* kWebRootBrowserTitle = Cp932(kTextWebRootBrowserTitle);
constexpr const char* kSkinFileDialogTitle = Cp932(kTextSkinFileDialogTitle);
constexpr const char* kSkinFilesFilter = Cp932(kTextSkinFilesFilter);
constexpr const char* kAllFilesFilter = Cp932(kTextAllFilesFilter);
constexpr const char kSkinPatterns[] = "*.htm; *.html";
constexpr const char kAllPatterns[] = "*.*";
constexpr const char kSkinDefaultExtension[] = "html";
constexpr const char kSkinStartPattern[] = "*.html";
constexpr int kFileDialogBufferSize = 1024;

const int kTemplates[SettingsSheet::kPageCount] = {IDD_PAGE_SERVER, IDD_PAGE_DISPLAY, IDD_PAGE_REQUEST,
                                                   IDD_PAGE_CONTROL};
const char* const kTitles[SettingsSheet::kPageCount] = {kServerPageTitle, kDisplayPageTitle, kRequestPageTitle,
                                                        kControlPageTitle};

// Where each setting shown in the dialog is edited: its page and control.
// A setting that is not in this table is not shown.
struct DialogField {
  SettingField field;
  SettingsSheet::PageIndex page;
  int control;
};

const DialogField kDialogFields[] = {
    {SettingField::kDisabled, SettingsSheet::kServerPage, IDC_DISABLE_PLUGIN},
    {SettingField::kWebRoot, SettingsSheet::kServerPage, IDC_WEB_ROOT},
    {SettingField::kPort, SettingsSheet::kServerPage, IDC_PORT},
    {SettingField::kAdminPassword, SettingsSheet::kServerPage, IDC_ADMIN_PASSWORD},
    {SettingField::kPlaylistFile, SettingsSheet::kDisplayPage, IDC_SKIN_FILE},
    {SettingField::kMaxEntries, SettingsSheet::kDisplayPage, IDC_MAX_ENTRIES},
    {SettingField::kSkinPlaylistPrev, SettingsSheet::kDisplayPage, IDC_SKIN_PLAYLIST_PREV},
    {SettingField::kSkinPlaylistNext, SettingsSheet::kDisplayPage, IDC_SKIN_PLAYLIST_NEXT},
    {SettingField::kSkinUserCancel, SettingsSheet::kDisplayPage, IDC_SKIN_USER_CANCEL},
    {SettingField::kMaxQueueSize, SettingsSheet::kRequestPage, IDC_MAX_QUEUE_SIZE},
    {SettingField::kRecentlyPlayedQueueSize, SettingsSheet::kRequestPage, IDC_RECENTLY_PLAYED_QUEUE_SIZE},
    {SettingField::kMaxRequestsPerIP, SettingsSheet::kRequestPage, IDC_MAX_REQUESTS_PER_IP},
    {SettingField::kMaxConsecutivePerIP, SettingsSheet::kRequestPage, IDC_MAX_CONSECUTIVE_PER_IP},
};

std::string ToText(const ByteString& value) {
  return std::string(value.Data(), static_cast<std::size_t>(value.Length()));
}

int ReadNumber(const platform::SheetPage& page, int id) {
  return ParseNumber(page.ItemText(id).c_str(), SettingsSheet::kMaxNumberChars);
}

// What the control shows of a setting: the flag as the check box, a text
// as it is, a number in decimal.
void FillControl(platform::SheetPage& page, const DialogField& control, const PluginSettings& settings,
                 const QueueLimits& limits) {
  const SettingKey& key = SettingKeyOf(control.field);
  if (key.kind == SettingKind::kFlag) {
    page.SetItemChecked(control.control, settings.Disabled());
  } else {
    page.SetItemText(control.control, ToText(SettingValue(key, settings, limits)));
  }
}

// The setting from its control: a text cut to what its buffer holds, a
// number read from at most kMaxNumberChars characters.
void StoreControl(const platform::SheetPage& page, const DialogField& control, PluginSettings& settings,
                  QueueLimits& limits) {
  const SettingKey& key = SettingKeyOf(control.field);
  switch (key.kind) {
    case SettingKind::kFlag:
      settings.SetDisabled(page.IsItemChecked(control.control));
      break;
    case SettingKind::kText:
      settings.SetText(key.field, SettingsSheet::CutText(page.ItemText(control.control), key.bufferSize - 1));
      break;
    case SettingKind::kNumber: {
      const int number = ReadNumber(page, control.control);
      if (int* limit = limits.Field(key.field)) {
        *limit = number;
      } else {
        settings.SetNumber(key.field, number);
      }
      break;
    }
  }
}

}  // namespace

SettingsSheet::SettingsSheet(const SettingsDialogContext& context) : context_(context) {
  for (int i = 0; i < kPageCount; ++i) handlers_[i].Attach(this, i);
}

platform::SheetResult SettingsSheet::Show() {
  platform::SheetPageInfo pages[kPageCount];
  for (int i = 0; i < kPageCount; ++i) {
    pages[i].templateId = kTemplates[i];
    pages[i].title = kTitles[i];
    pages[i].handler = &handlers_[i];
  }
  platform::SheetResult result = platform::ShowPropertySheet(context_.owner, kPluginDescription, pages, kPageCount);
  serverPage_ = nullptr;  // its window is gone
  return result;
}

void SettingsSheet::InitPage(int index, platform::SheetPage& page) {
  switch (index) {
    case kServerPage:
      serverPage_ = &page;
      FillPage(index, page);
      break;
    case kDisplayPage:
    case kRequestPage:
      FillPage(index, page);
      break;
    default:
      // The control page has nothing to fill: its buttons start enabled,
      // whatever a refresh from the admin page is doing.
      break;
  }
}

void SettingsSheet::CommandPage(int index, platform::SheetPage& page, int controlId) {
  if (index == kServerPage && controlId == IDC_BROWSE_WEB_ROOT) {
    BrowseWebRoot(page);
  } else if (index == kDisplayPage && controlId == IDC_BROWSE_SKIN_FILE) {
    ChooseSkinFile(page);
  } else if (index == kControlPage && controlId == IDC_RELOAD_PLAYLIST) {
    ReloadPlaylist(page);
  } else if (index == kControlPage && controlId == IDC_CLEAR_REQUESTS) {
    context_.queue->ClearAll();
  } else if (index == kControlPage && controlId == IDC_RESTORE_COMPANION) {
    RestoreCompanionWindow();
  }
}

void SettingsSheet::ApplyPage(int index, platform::SheetPage& page) {
  // The control page acts at once and has nothing to store.
  if (index != kControlPage) StorePage(index, page);
}

void SettingsSheet::FillPage(int index, platform::SheetPage& page) {
  const QueueLimits limits = context_.queue->GetLimits();
  for (const DialogField& control : kDialogFields) {
    if (control.page == index) FillControl(page, control, *context_.settings, limits);
  }
}

void SettingsSheet::StorePage(int index, platform::SheetPage& page) {
  QueueLimits limits = context_.queue->GetLimits();
  bool limitsShown = false;
  for (const DialogField& control : kDialogFields) {
    if (control.page != index) continue;
    StoreControl(page, control, *context_.settings, limits);
    limitsShown = limitsShown || limits.Field(control.field) != nullptr;
  }
  if (limitsShown) context_.queue->SetLimits(limits);
}

void SettingsSheet::BrowseWebRoot(platform::SheetPage& page) {
  std::string folder = page.ItemText(IDC_WEB_ROOT);
  std::string chosen;
  if (page.BrowseForFolder(kWebRootBrowserTitle, folder, &chosen)) folder = chosen;
  page.SetItemText(IDC_WEB_ROOT, folder);
}

void SettingsSheet::ChooseSkinFile(platform::SheetPage& page) {
  // The folder as it is being edited on the server page, confirmed or not.
  std::string folder =
      serverPage_ != nullptr ? serverPage_->ItemText(IDC_WEB_ROOT) : ToText(context_.settings->WebRoot());
  platform::OpenFileOptions options;
  options.title = kSkinFileDialogTitle;
  options.initialPath = SkinStartPath(folder, page.ItemText(IDC_SKIN_FILE));
  options.filters = {{kSkinFilesFilter, kSkinPatterns}, {kAllFilesFilter, kAllPatterns}};
  options.defaultExtension = kSkinDefaultExtension;
  options.pathBufferSize = kFileDialogBufferSize;
  std::string name;
  if (page.ChooseFileToOpen(options, &name)) page.SetItemText(IDC_SKIN_FILE, name);
}

void SettingsSheet::ReloadPlaylist(platform::SheetPage& page) {
  // The hook enables the button again when the refresh has completed; a
  // refresh already running (from the admin page) leaves it as it is.
  if (context_.refresher != nullptr && context_.refresher->StartCacheRefresh(page.Window())) {
    page.EnableItem(IDC_RELOAD_PLAYLIST, false);
  }
}

std::string SettingsSheet::SkinStartPath(const std::string& folder, const std::string& fileName) {
  ByteString start(folder.data(), static_cast<int>(folder.size()));
  // Character by character: the 0x5C trail byte of a two-byte character
  // (表, ソ) is not a separator.
  start.TrimRight("\\", false);
  start.AppendChar('\\');
  std::string path = ToText(start);
  platform::FileInfo info;
  if (!fileName.empty() && platform::FindFileInfo((path + fileName).c_str(), &info)) return path + fileName;
  return path + kSkinStartPattern;
}

ByteString SettingsSheet::CutText(const std::string& text, int maxBytes) {
  if (static_cast<int>(text.size()) <= maxBytes) return ByteString(text.data(), static_cast<int>(text.size()));
  int length = 0;
  while (length < maxBytes) {
    int width = platform::IsLeadByte(static_cast<unsigned char>(text[static_cast<std::size_t>(length)])) ? 2 : 1;
    if (length + width > maxBytes) break;
    length += width;
  }
  return ByteString(text.data(), length);
}

}  // namespace ambervox
