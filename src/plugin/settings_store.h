// The settings store: the keys of section "HTTP Request" of plugin.ini (the
// settings table, common/settings_table.h), read into the PluginSettings and the RequestQueue's limits at
// init and written back at quit and after the settings dialog's OK.
//
// Stateless functions; the caller owns the settings, the queue and the path.
// They run on the host's user-interface thread. Connection threads may read
// the settings meanwhile: every text value is replaced as a whole (see
// PluginSettings), never changed in place.
#pragma once

#include <string>

#include "common/plugin_settings.h"
#include "platform/system.h"
#include "requests/request_queue.h"

namespace ambervox {

constexpr const char kSettingsSection[] = "HTTP Request";
// Path buffer for the library's own file name.
constexpr int kModulePathBufferSize = 260;

// plugin.ini in the folder of `moduleFilePath`: its last component (after the
// last '\\' or '/') replaced. A path without a folder gives "plugin.ini",
// which is then looked up in the current folder.
std::string SettingsPathBeside(const std::string& moduleFilePath);
// plugin.ini beside the file of the library module `libraryInstance`.
std::string SettingsPathOf(platform::ModuleHandle libraryInstance);

// The value of a key of the settings table as the file holds it, and the
// value set from such a text: a number by the number rule, the flag off only
// for the exact text "FALSE". The queue limits are read and set in `limits`.
ByteString SettingValue(const SettingKey& key, const PluginSettings& settings, const QueueLimits& limits);
void SetSettingValue(const SettingKey& key, const ByteString& value, PluginSettings& settings, QueueLimits& limits);

// Reads every key of the settings table, with its default when the file or
// the key is missing; the four limits into the queue as one record;
// `bDisabled` last.
void LoadSettings(PluginSettings& settings, RequestQueue& queue, const std::string& path);
// Writes every key in the order of the settings table, whether or not it
// changed. Write
// failures (a read-only folder) are ignored.
void SaveSettings(const PluginSettings& settings, const RequestQueue& queue, const std::string& path);

}  // namespace ambervox
