// The settings sheet's pages without a window system: each page is an
// in-memory set of controls, driven the way the property sheet drives the
// real ones (init when first shown, the buttons, apply on OK for the pages
// that were made).
#include "plugin/settings_sheet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "platform/window.h"
#include "plugin/companion_window.h"
#include "requests/playlist_cache.h"
#include "requests/request_queue.h"
#include "simulated_player.h"
#include "support/temp_folder.h"
#include "support/test_data.h"

namespace ambervox {
namespace {

using testing::Songs;
using testing::User;

using testing::TempFolder;

// The ids of the page controls.
enum : int {
  kDisable = 1026,
  kWebRoot = 1063,
  kBrowse = 1088,
  kPort = 1064,
  kPassword = 1007,
  kSkinFile = 1065,
  kChooseSkin = 1089,
  kMaxEntries = 1083,
  kPrev = 1094,
  kNext = 1095,
  kCancelLink = 1096,
  kQueueSize = 1084,
  kRecentlyPlayedSize = 1085,
  kPerRequester = 1079,
  kConsecutive = 1080,
  kReload = 1092,
  kClear = 1093,
  kCompanion = 1091,
};

// "表" (its second byte is a backslash) and "ドキュメントルートフォルダを選択",
// "スキンファイルを選択" in code page 932.
const std::string kHyou = "\x95\x5c";
const char kBrowserTitle[] =
    "\x83\x68\x83\x4c\x83\x85\x83\x81\x83\x93\x83\x67\x83\x8b\x81\x5b\x83\x67\x83\x74\x83\x48\x83\x8b\x83\x5f"
    "\x82\xf0\x91\x49\x91\xf0";
const char kChooserTitle[] = "\x83\x58\x83\x4c\x83\x93\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x91\x49\x91\xf0";

class FakePage : public platform::SheetPage {
 public:
  explicit FakePage(std::intptr_t window) : window_(reinterpret_cast<platform::WindowHandle>(window)) {}

  platform::WindowHandle Window() const override { return window_; }
  std::string ItemText(int id) const override {
    auto found = texts.find(id);
    return found == texts.end() ? std::string() : found->second;
  }
  void SetItemText(int id, const std::string& text) override { texts[id] = text; }
  bool IsItemChecked(int id) const override {
    auto found = checked.find(id);
    return found != checked.end() && found->second;
  }
  void SetItemChecked(int id, bool value) override { checked[id] = value; }
  void EnableItem(int id, bool enable) override { enabled[id] = enable; }
  bool IsEnabled(int id) const {
    auto found = enabled.find(id);
    return found == enabled.end() || found->second;
  }

  bool BrowseForFolder(const std::string& title, const std::string& startFolder, std::string* folder) override {
    browserTitles.push_back(title);
    browserStarts.push_back(startFolder);
    if (!browseAnswer.empty()) *folder = browseAnswer;
    return !browseAnswer.empty();
  }
  bool ChooseFileToOpen(const platform::OpenFileOptions& options, std::string* fileName) override {
    chooserOptions.push_back(options);
    if (!chooseAnswer.empty()) *fileName = chooseAnswer;
    return !chooseAnswer.empty();
  }

  std::map<int, std::string> texts;
  std::map<int, bool> checked;
  std::map<int, bool> enabled;
  std::string browseAnswer;  // "" answers Cancel
  std::string chooseAnswer;  // "" answers Cancel
  std::vector<std::string> browserTitles;
  std::vector<std::string> browserStarts;
  std::vector<platform::OpenFileOptions> chooserOptions;

 private:
  platform::WindowHandle window_;
};

class FakeRefresher : public CacheRefresher {
 public:
  bool StartCacheRefresh(platform::WindowHandle notifyWindow) override {
    notifyWindows.push_back(notifyWindow);
    return answer;
  }
  bool answer = true;
  std::vector<platform::WindowHandle> notifyWindows;
};

std::string Str(const ByteString& value) { return std::string(value.Data(), static_cast<std::size_t>(value.Length())); }

// Settings and limits that differ from every default, so that a value
// stored from the wrong control or from nothing shows.
class SettingsSheetTest : public ::testing::Test {
 protected:
  SettingsSheetTest()
      : player_(Songs(10)),
        thread_("AmbervoxSheetTestPlayer", "Sheet test player", &SimulatedPlayer::WindowProcedure),
        queue_(&cache_),
        server_(0x1001),
        display_(0x1002),
        request_(0x1003),
        control_(0x1004) {
    player_.Attach(thread_.window());
    cache_.SetPlayer(PlayerHost(thread_.window()));
    cache_.Rebuild();
    queue_.SetPlayer(PlayerHost(thread_.window()));

    settings_.SetDisabled(false);
    settings_.SetWebRoot(("C:\\" + kHyou + "\\web").c_str());
    settings_.SetPort(8080);
    settings_.SetAdminPassword("s3cret");
    settings_.SetPlaylistFile("list.html");
    settings_.SetMaxEntries(7);
    settings_.SetSkinPlaylistPrev("<<prev");
    settings_.SetSkinPlaylistNext("next>>");
    settings_.SetSkinUserCancel("[x]");
    queue_.SetLimits(QueueLimits{11, 12, 13, 14});

    context_.settings = &settings_;
    context_.queue = &queue_;
    context_.refresher = &refresher_;
  }
  ~SettingsSheetTest() override { player_.Detach(); }

  FakePage& PageFor(int index) {
    FakePage* pages[] = {&server_, &display_, &request_, &control_};
    return *pages[index];
  }
  // Shows the pages in `indexes` (first show: init), as the sheet does.
  void Show(SettingsSheet& sheet, std::vector<int> indexes) {
    for (int index : indexes) sheet.InitPage(index, PageFor(index));
  }
  // OK: every page that was shown stores itself.
  void Ok(SettingsSheet& sheet, std::vector<int> indexes) {
    for (int index : indexes) sheet.ApplyPage(index, PageFor(index));
  }

  SimulatedPlayer player_;
  platform::WindowThread thread_;
  PlaylistCache cache_;
  RequestQueue queue_;
  PluginSettings settings_;
  FakeRefresher refresher_;
  SettingsDialogContext context_;
  FakePage server_, display_, request_, control_;
};

TEST_F(SettingsSheetTest, EachPageIsFilledFromMemoryWhenFirstShown) {
  SettingsSheet sheet(context_);
  Show(sheet, {0, 1, 2, 3});
  EXPECT_FALSE(server_.IsItemChecked(kDisable));
  EXPECT_EQ(server_.ItemText(kWebRoot), "C:\\" + kHyou + "\\web");
  EXPECT_EQ(server_.ItemText(kPort), "8080");
  EXPECT_EQ(server_.ItemText(kPassword), "s3cret");
  EXPECT_EQ(display_.ItemText(kSkinFile), "list.html");
  EXPECT_EQ(display_.ItemText(kMaxEntries), "7");
  EXPECT_EQ(display_.ItemText(kPrev), "<<prev");
  EXPECT_EQ(display_.ItemText(kNext), "next>>");
  EXPECT_EQ(display_.ItemText(kCancelLink), "[x]");
  EXPECT_EQ(request_.ItemText(kQueueSize), "11");
  EXPECT_EQ(request_.ItemText(kPerRequester), "12");
  EXPECT_EQ(request_.ItemText(kConsecutive), "13");
  EXPECT_EQ(request_.ItemText(kRecentlyPlayedSize), "14");
  EXPECT_TRUE(control_.texts.empty());
  EXPECT_TRUE(control_.IsEnabled(kReload));

  settings_.SetDisabled(true);
  settings_.SetPort(-3);
  SettingsSheet again(context_);
  FakePage fresh(0x2001);
  again.InitPage(SettingsSheet::kServerPage, fresh);
  EXPECT_TRUE(fresh.IsItemChecked(kDisable));
  EXPECT_EQ(fresh.ItemText(kPort), "-3");
}

TEST_F(SettingsSheetTest, OkStoresEveryControlIntoItsOwnSetting) {
  SettingsSheet sheet(context_);
  Show(sheet, {0, 1, 2, 3});
  server_.checked[kDisable] = true;
  server_.texts[kWebRoot] = "D:\\skins";
  server_.texts[kPort] = "9090";
  server_.texts[kPassword] = "pw";
  display_.texts[kSkinFile] = "top.htm";
  display_.texts[kMaxEntries] = "40";
  display_.texts[kPrev] = "P";
  display_.texts[kNext] = "N";
  display_.texts[kCancelLink] = "C";
  request_.texts[kQueueSize] = "21";
  request_.texts[kPerRequester] = "22";
  request_.texts[kConsecutive] = "23";
  request_.texts[kRecentlyPlayedSize] = "24";
  Ok(sheet, {0, 1, 2, 3});

  EXPECT_TRUE(settings_.Disabled());
  EXPECT_EQ(Str(settings_.WebRoot()), "D:\\skins");
  EXPECT_EQ(settings_.Port(), 9090);
  EXPECT_EQ(Str(settings_.AdminPassword()), "pw");
  EXPECT_EQ(Str(settings_.PlaylistFile()), "top.htm");
  EXPECT_EQ(settings_.MaxEntries(), 40);
  EXPECT_EQ(Str(settings_.SkinPlaylistPrev()), "P");
  EXPECT_EQ(Str(settings_.SkinPlaylistNext()), "N");
  EXPECT_EQ(Str(settings_.SkinUserCancel()), "C");
  const QueueLimits limits = queue_.GetLimits();
  EXPECT_EQ(limits.maxQueueSize, 21);
  EXPECT_EQ(limits.maxRequestsPerIP, 22);
  EXPECT_EQ(limits.maxConsecutivePerIP, 23);
  EXPECT_EQ(limits.recentlyPlayedQueueSize, 24);
}

TEST_F(SettingsSheetTest, OkAfterOnlyTheFirstPageLeavesTheOtherPagesSettingsAlone) {
  SettingsSheet sheet(context_);
  Show(sheet, {0});
  server_.checked[kDisable] = true;
  server_.texts[kPort] = "81";
  Ok(sheet, {0});
  EXPECT_TRUE(settings_.Disabled());
  EXPECT_EQ(settings_.Port(), 81);
  EXPECT_EQ(Str(settings_.WebRoot()), "C:\\" + kHyou + "\\web");
  EXPECT_EQ(Str(settings_.PlaylistFile()), "list.html");
  EXPECT_EQ(settings_.MaxEntries(), 7);
  EXPECT_EQ(Str(settings_.SkinPlaylistPrev()), "<<prev");
  EXPECT_EQ(Str(settings_.SkinPlaylistNext()), "next>>");
  EXPECT_EQ(Str(settings_.SkinUserCancel()), "[x]");
  const QueueLimits limits = queue_.GetLimits();
  EXPECT_EQ(limits.maxQueueSize, 11);
  EXPECT_EQ(limits.maxRequestsPerIP, 12);
  EXPECT_EQ(limits.maxConsecutivePerIP, 13);
  EXPECT_EQ(limits.recentlyPlayedQueueSize, 14);

  // The control page, shown and applied, stores nothing either.
  Show(sheet, {3});
  Ok(sheet, {3});
  EXPECT_EQ(queue_.GetLimits().maxQueueSize, 11);
  EXPECT_EQ(settings_.MaxEntries(), 7);
}

TEST_F(SettingsSheetTest, WithoutOkNothingIsStoredNotEvenWhatTheChoosersPutIntoTheEdits) {
  SettingsSheet sheet(context_);
  Show(sheet, {0, 1, 2, 3});
  server_.texts[kPort] = "1";
  server_.checked[kDisable] = true;
  request_.texts[kQueueSize] = "2";
  server_.browseAnswer = "E:\\elsewhere";
  sheet.CommandPage(SettingsSheet::kServerPage, server_, kBrowse);
  display_.chooseAnswer = "chosen.html";
  sheet.CommandPage(SettingsSheet::kDisplayPage, display_, kChooseSkin);
  ASSERT_EQ(server_.ItemText(kWebRoot), "E:\\elsewhere");
  ASSERT_EQ(display_.ItemText(kSkinFile), "chosen.html");
  // Canceled: no page is applied.
  EXPECT_FALSE(settings_.Disabled());
  EXPECT_EQ(settings_.Port(), 8080);
  EXPECT_EQ(Str(settings_.WebRoot()), "C:\\" + kHyou + "\\web");
  EXPECT_EQ(Str(settings_.PlaylistFile()), "list.html");
  EXPECT_EQ(queue_.GetLimits().maxQueueSize, 11);
}

TEST_F(SettingsSheetTest, TextsAreCutToTheirBuffersWithoutSplittingACharacter) {
  SettingsSheet sheet(context_);
  Show(sheet, {0, 1});
  server_.texts[kWebRoot] = std::string(1500, 'w');
  server_.texts[kPassword] = std::string(300, 'p');
  // A two-byte character across the 1023-byte line would leave a lone lead
  // byte; it goes as a whole.
  display_.texts[kSkinFile] = std::string(1022, 's') + kHyou;
  display_.texts[kPrev] = std::string(1021, 'r') + kHyou + "tail";
  display_.texts[kNext] = std::string(1023, 'n');
  display_.texts[kCancelLink] = std::string(1024, 'c');
  Ok(sheet, {0, 1});
  EXPECT_EQ(Str(settings_.WebRoot()), std::string(1023, 'w'));
  EXPECT_EQ(Str(settings_.AdminPassword()), std::string(254, 'p'));
  EXPECT_EQ(Str(settings_.PlaylistFile()), std::string(1022, 's'));
  EXPECT_EQ(Str(settings_.SkinPlaylistPrev()), std::string(1021, 'r') + kHyou);
  EXPECT_EQ(Str(settings_.SkinPlaylistNext()), std::string(1023, 'n'));
  EXPECT_EQ(Str(settings_.SkinUserCancel()), std::string(1023, 'c'));
}

TEST_F(SettingsSheetTest, NumbersFollowTheNumberRuleFromAtMost63Characters) {
  SettingsSheet sheet(context_);
  Show(sheet, {0, 1, 2});
  server_.texts[kPort] = "  +8081 and more";
  display_.texts[kMaxEntries] = "abc";
  // The 64th character is never read: 62 zeros and a 9 give 9, not 95.
  request_.texts[kQueueSize] = std::string(62, '0') + "95";
  request_.texts[kPerRequester] = "-4";
  request_.texts[kConsecutive] = "";
  request_.texts[kRecentlyPlayedSize] = "\t6x";
  Ok(sheet, {0, 1, 2});
  EXPECT_EQ(settings_.Port(), 8081);
  EXPECT_EQ(settings_.MaxEntries(), 0);
  const QueueLimits limits = queue_.GetLimits();
  EXPECT_EQ(limits.maxQueueSize, 9);
  EXPECT_EQ(limits.maxRequestsPerIP, -4);
  EXPECT_EQ(limits.maxConsecutivePerIP, 0);
  EXPECT_EQ(limits.recentlyPlayedQueueSize, 6);
}

TEST_F(SettingsSheetTest, TheFolderBrowserStartsFromTheEditAndOnlyAConfirmedFolderReplacesIt) {
  SettingsSheet sheet(context_);
  Show(sheet, {0});
  server_.texts[kWebRoot] = "D:\\typed\\" + kHyou;  // typed, not confirmed
  sheet.CommandPage(SettingsSheet::kServerPage, server_, kBrowse);
  ASSERT_EQ(server_.browserStarts.size(), 1u);
  EXPECT_EQ(server_.browserStarts[0], "D:\\typed\\" + kHyou);
  EXPECT_EQ(server_.browserTitles[0], kBrowserTitle);
  EXPECT_EQ(server_.ItemText(kWebRoot), "D:\\typed\\" + kHyou) << "canceled: the text stays";

  server_.browseAnswer = "E:\\music\\web";
  sheet.CommandPage(SettingsSheet::kServerPage, server_, kBrowse);
  EXPECT_EQ(server_.ItemText(kWebRoot), "E:\\music\\web");
  // A button of another page with the same id does nothing here.
  sheet.CommandPage(SettingsSheet::kDisplayPage, display_, kBrowse);
  EXPECT_TRUE(display_.browserStarts.empty());
}

TEST_F(SettingsSheetTest, TheSkinChooserStartsInTheFolderBeingEditedOnTheFirstPage) {
  TempFolder web;
  TempFolder::WriteBytes(web.File("skin.html"), "<html>");
  const std::string folder = web.File("");  // ends in a separator
  std::string root = folder.substr(0, folder.size() - 1);

  SettingsSheet sheet(context_);
  Show(sheet, {0, 1});
  server_.texts[kWebRoot] = root + "\\\\";  // not yet confirmed, trailing backslashes
  display_.texts[kSkinFile] = "skin.html";
  sheet.CommandPage(SettingsSheet::kDisplayPage, display_, kChooseSkin);
  ASSERT_EQ(display_.chooserOptions.size(), 1u);
  const platform::OpenFileOptions& options = display_.chooserOptions[0];
  EXPECT_EQ(options.initialPath, root + "\\skin.html");
  EXPECT_EQ(options.title, kChooserTitle);
  ASSERT_EQ(options.filters.size(), 2u);
  EXPECT_EQ(options.filters[0].first, "\x83\x58\x83\x4c\x83\x93\x83\x74\x83\x40\x83\x43\x83\x8b (*.htm; *.html)");
  EXPECT_EQ(options.filters[0].second, "*.htm; *.html");
  EXPECT_EQ(options.filters[1].first, "\x82\xb7\x82\xd7\x82\xc4\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b (*.*)");
  EXPECT_EQ(options.filters[1].second, "*.*");
  EXPECT_EQ(options.defaultExtension, "html");
  EXPECT_EQ(options.pathBufferSize, 1024);
  EXPECT_EQ(display_.ItemText(kSkinFile), "skin.html") << "canceled: nothing changes";

  // No file of that name in the folder: the chooser starts on *.html there.
  display_.texts[kSkinFile] = "missing.html";
  display_.chooseAnswer = "other.html";
  sheet.CommandPage(SettingsSheet::kDisplayPage, display_, kChooseSkin);
  ASSERT_EQ(display_.chooserOptions.size(), 2u);
  EXPECT_EQ(display_.chooserOptions[1].initialPath, root + "\\*.html");
  EXPECT_EQ(display_.ItemText(kSkinFile), "other.html");
}

TEST(SettingsSheetStartPath, OnlyRealBackslashesAreTakenOffTheFolder) {
  EXPECT_EQ(SettingsSheet::SkinStartPath("C:\\web\\\\\\", ""), "C:\\web\\*.html");
  EXPECT_EQ(SettingsSheet::SkinStartPath("C:\\web", "a.html"), "C:\\web\\*.html");
  // 表 ends in the byte 0x5C, which is not a separator there.
  EXPECT_EQ(SettingsSheet::SkinStartPath("C:\\" + kHyou, "x"), "C:\\" + kHyou + "\\*.html");
  EXPECT_EQ(SettingsSheet::SkinStartPath("C:\\" + kHyou + "\\", "x"), "C:\\" + kHyou + "\\*.html");
  EXPECT_EQ(SettingsSheet::SkinStartPath("", "x"), "\\*.html");
}

TEST_F(SettingsSheetTest, ReloadDisablesItsButtonOnlyWhenARefreshStarted) {
  SettingsSheet sheet(context_);
  Show(sheet, {3});
  refresher_.answer = false;  // one from the admin page is running
  sheet.CommandPage(SettingsSheet::kControlPage, control_, kReload);
  EXPECT_TRUE(control_.IsEnabled(kReload));
  refresher_.answer = true;
  sheet.CommandPage(SettingsSheet::kControlPage, control_, kReload);
  EXPECT_FALSE(control_.IsEnabled(kReload));
  ASSERT_EQ(refresher_.notifyWindows.size(), 2u);
  EXPECT_EQ(refresher_.notifyWindows[1], control_.Window()) << "the page is told when it has completed";
}

TEST_F(SettingsSheetTest, ClearEmptiesTheQueueAndTheHistoryAtOnce) {
  queue_.SetLimits(QueueLimits{50, 0, 0, 5});
  ASSERT_EQ(queue_.AddRequest(2, "10.0.0.1", User(1), false), kAccepted);
  ASSERT_TRUE(queue_.PlayNext());
  ASSERT_EQ(queue_.CheckRequest(2, "10.0.0.2", User(2)), kRecentlyPlayed);
  ASSERT_EQ(queue_.AddRequest(4, "10.0.0.2", User(2), true), kAccepted);
  ASSERT_EQ(queue_.AddRequest(5, "10.0.0.3", User(3), true), kAccepted);

  SettingsSheet sheet(context_);
  Show(sheet, {3});
  sheet.CommandPage(SettingsSheet::kControlPage, control_, kClear);
  EXPECT_EQ(queue_.RequestCount(), 0);
  EXPECT_EQ(queue_.CheckRequest(2, "10.0.0.2", User(2)), kAccepted) << "the history went too";
  EXPECT_TRUE(refresher_.notifyWindows.empty());
}

std::atomic<int> companionRestores{0};

std::intptr_t CompanionProcedure(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
  if (message == platform::kMsgCommand && wParam == static_cast<std::uintptr_t>(kCompanionRestoreCommand)) {
    ++companionRestores;
    return 0;
  }
  return platform::DefaultWindowProc(window, message, wParam, lParam);
}

TEST_F(SettingsSheetTest, TheCompanionButtonAsksTheCompanionDialogToComeBack) {
  platform::WindowThread companion(kDialogWindowClass, kCompanionWindowTitle, &CompanionProcedure);
  if (companion.window() == nullptr) {
    GTEST_SKIP() << "the dialog class is the system's here; this program cannot make a window of it";
  }
  companionRestores = 0;
  SettingsSheet sheet(context_);
  Show(sheet, {3});
  sheet.CommandPage(SettingsSheet::kControlPage, control_, kCompanion);
  EXPECT_EQ(companionRestores.load(), 1);
  EXPECT_EQ(queue_.GetLimits().maxQueueSize, 11);
}

}  // namespace
}  // namespace ambervox
