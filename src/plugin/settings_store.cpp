#include "plugin/settings_store.h"

#include <cstring>
#include <vector>

#include "common/number.h"

namespace ambervox {
namespace {

// Read buffers: a value longer than its buffer is cut to the buffer less one
// byte.
constexpr int kFlagBufferSize = 25;
constexpr int kTextBufferSize = 1024;       // WebRoot, Playlistfile, the skin texts, the numbers
constexpr int kPasswordBufferSize = 255;

ByteString ReadText(const char* key, const char* defaultValue, int bufferSize, const std::string& path) {
  std::vector<char> buffer(static_cast<std::size_t>(bufferSize), '\0');
  platform::ReadProfileString(kSettingsSection, key, defaultValue, buffer.data(), bufferSize, path.c_str());
  return ByteString(buffer.data(), static_cast<int>(std::strlen(buffer.data())));
}

int ReadNumber(const char* key, const char* defaultValue, const std::string& path) {
  return ParseNumber(ReadText(key, defaultValue, kTextBufferSize, path).CStr());
}

void WriteText(const char* key, const ByteString& value, const std::string& path) {
  platform::WriteProfileString(kSettingsSection, key, value.CStr(), path.c_str());
}

void WriteNumber(const char* key, int value, const std::string& path) {
  WriteText(key, ByteString::Format("%d", value), path);
}

}  // namespace

std::string SettingsPathBeside(const std::string& moduleFilePath) {
  std::string::size_type cut = moduleFilePath.find_last_of("\\/");
  std::string folder = cut == std::string::npos ? std::string() : moduleFilePath.substr(0, cut + 1);
  return folder + kSettingsFileName;
}

std::string SettingsPathOf(platform::ModuleHandle libraryInstance) {
  return SettingsPathBeside(platform::ModuleFilePath(libraryInstance, kModulePathBufferSize));
}

void LoadSettings(PluginSettings& settings, RequestQueue& queue, const std::string& path) {
  ByteString disabled = ReadText("bDisabled", "TRUE", kFlagBufferSize, path);
  settings.SetWebRoot(ReadText("WebRoot", "c:\\", kTextBufferSize, path));
  settings.SetPlaylistFile(ReadText("Playlistfile", "", kTextBufferSize, path));
  settings.SetAdminPassword(ReadText("AdminPassword", "", kPasswordBufferSize, path));
  settings.SetSkinPlaylistNext(
      ReadText("SkinPlaylistNext", PluginSettings::kDefaultSkinPlaylistNext, kTextBufferSize, path));
  settings.SetSkinPlaylistPrev(
      ReadText("SkinPlaylistPrev", PluginSettings::kDefaultSkinPlaylistPrev, kTextBufferSize, path));
  settings.SetSkinUserCancel(
      ReadText("SkinUserCancel", PluginSettings::kDefaultSkinUserCancel, kTextBufferSize, path));
  settings.SetPort(ReadNumber("Port", "80", path));
  settings.SetMaxEntries(ReadNumber("g_MaxEntries", "25", path));

  const int maxRequestsPerIP = ReadNumber("g_MaxRequestsPerIP", "3", path);
  const int maxQueueSize = ReadNumber("g_MaxQueueSize", "50", path);
  const int maxConsecutivePerIP = ReadNumber("g_MaxConsecutivePerIP", "0", path);
  const int recentlyPlayedQueueSize = ReadNumber("g_RecentlyPlayedQueueSize", "0", path);
  QueueLimits limits;
  limits.maxQueueSize = maxQueueSize;
  limits.maxRequestsPerIP = maxRequestsPerIP;
  limits.maxConsecutivePerIP = maxConsecutivePerIP;
  limits.recentlyPlayedQueueSize = recentlyPlayedQueueSize;
  queue.SetLimits(limits);

  // Only the exact upper-case text enables the plug-in: a hand-edited
  // "false" or "0" leaves it off, as does a missing file.
  settings.SetDisabled(!disabled.Equals("FALSE"));
}

void SaveSettings(const PluginSettings& settings, const RequestQueue& queue, const std::string& path) {
  WriteText("WebRoot", settings.WebRoot(), path);
  WriteText("Playlistfile", settings.PlaylistFile(), path);
  WriteText("AdminPassword", settings.AdminPassword(), path);
  WriteText("SkinPlaylistNext", settings.SkinPlaylistNext(), path);
  WriteText("SkinPlaylistPrev", settings.SkinPlaylistPrev(), path);
  WriteText("SkinUserCancel", settings.SkinUserCancel(), path);
  WriteText("bDisabled", settings.Disabled() ? "TRUE" : "FALSE", path);
  WriteNumber("Port", settings.Port(), path);
  WriteNumber("g_MaxEntries", settings.MaxEntries(), path);
  const QueueLimits limits = queue.GetLimits();
  WriteNumber("g_MaxRequestsPerIP", limits.maxRequestsPerIP, path);
  WriteNumber("g_MaxQueueSize", limits.maxQueueSize, path);
  WriteNumber("g_MaxConsecutivePerIP", limits.maxConsecutivePerIP, path);
  WriteNumber("g_RecentlyPlayedQueueSize", limits.recentlyPlayedQueueSize, path);
}

}  // namespace ambervox
