#include "common/plugin_settings.h"

namespace ambervox {

// CP932 bytes of 次へ...&gt; , &lt;...戻る and キャンセル.
const char PluginSettings::kDefaultSkinPlaylistNext[] = "\x8E\x9F\x82\xD6...&gt;";
const char PluginSettings::kDefaultSkinPlaylistPrev[] = "&lt;...\x96\xDF\x82\xE9";
const char PluginSettings::kDefaultSkinUserCancel[] = "\x83\x4C\x83\x83\x83\x93\x83\x5A\x83\x8B";

PluginSettings::PluginSettings()
    : webRoot_("c:\\"),
      skinPlaylistNext_(kDefaultSkinPlaylistNext),
      skinPlaylistPrev_(kDefaultSkinPlaylistPrev),
      skinUserCancel_(kDefaultSkinUserCancel) {}

ByteString PluginSettings::Get(const ByteString& field) const NO_THREAD_SAFETY_ANALYSIS {
  LockHolder hold(lock_);
  return field;
}

void PluginSettings::Set(ByteString& field, const ByteString& value) NO_THREAD_SAFETY_ANALYSIS {
  ByteString keep = value;  // take the reference outside the lock
  LockHolder hold(lock_);
  field.operator=(std::move(keep));
}

ByteString PluginSettings::WebRoot() const { return Get(webRoot_); }
ByteString PluginSettings::PlaylistFile() const { return Get(playlistFile_); }
ByteString PluginSettings::AdminPassword() const { return Get(adminPassword_); }
ByteString PluginSettings::SkinPlaylistNext() const { return Get(skinPlaylistNext_); }
ByteString PluginSettings::SkinPlaylistPrev() const { return Get(skinPlaylistPrev_); }
ByteString PluginSettings::SkinUserCancel() const { return Get(skinUserCancel_); }
void PluginSettings::SetWebRoot(const ByteString& value) { Set(webRoot_, value); }
void PluginSettings::SetPlaylistFile(const ByteString& value) { Set(playlistFile_, value); }
void PluginSettings::SetAdminPassword(const ByteString& value) { Set(adminPassword_, value); }
void PluginSettings::SetSkinPlaylistNext(const ByteString& value) { Set(skinPlaylistNext_, value); }
void PluginSettings::SetSkinPlaylistPrev(const ByteString& value) { Set(skinPlaylistPrev_, value); }
void PluginSettings::SetSkinUserCancel(const ByteString& value) { Set(skinUserCancel_, value); }

}  // namespace ambervox
