// The settings table: every key of section "HTTP Request" of plugin.ini,
// with its default (as the file would hold it), the buffer its value is
// read into, the value it sets and the kind of that value, in the order the
// keys are written. Loading, saving, the settings dialog and the defaults
// of PluginSettings and QueueLimits all come from this one table; a new
// setting is one row here (and, to show it in the dialog, one row of the
// dialog's control table in plugin/settings_sheet.cpp). Constant data; any
// thread.
#pragma once

#include "common/cp932_texts.h"

namespace ambervox {

// The settings file, beside the plug-in's library. It holds the admin
// password, so the web root never serves a file of this name.
constexpr const char kSettingsFileName[] = "plugin.ini";

// The values the keys set, in groups that PluginSettings and QueueLimits
// rely on: the texts of PluginSettings first, then its flag, then its
// numbers, then the queue limits of the RequestQueue. A new field goes at
// the end of its group.
enum class SettingField : int {
  kWebRoot,
  kPlaylistFile,
  kAdminPassword,
  kSkinPlaylistNext,
  kSkinPlaylistPrev,
  kSkinUserCancel,
  kDisabled,
  kPort,
  kMaxEntries,
  kMaxRequestsPerIP,
  kMaxQueueSize,
  kMaxConsecutivePerIP,
  kRecentlyPlayedQueueSize,
};

enum class SettingKind {
  kText,    // bytes as they stand
  kFlag,    // "TRUE" or "FALSE"; only the exact "FALSE" turns it off
  kNumber,  // read by the number rule, written in decimal
};

struct SettingKey {
  const char* key;
  const char* defaultValue;
  // A value longer than bufferSize - 1 bytes is cut there when read; the
  // dialog stores at most bufferSize - 1 bytes of a text.
  int bufferSize;
  SettingField field;
  SettingKind kind;
};

// Read buffers.
constexpr int kFlagBufferSize = 25;
constexpr int kTextBufferSize = 1024;  // WebRoot, Playlistfile, the skin texts, the numbers
constexpr int kPasswordBufferSize = 255;

// The texts of the page links and of the withdrawal link (common/cp932_texts.h).
constexpr const char* kDefaultSkinPlaylistNext = Cp932(kTextSkinPlaylistNextDefault);
constexpr const char* kDefaultSkinPlaylistPrev = Cp932(kTextSkinPlaylistPrevDefault);
constexpr const char* kDefaultSkinUserCancel = Cp932(kTextSkinUserCancelDefault);

inline constexpr SettingKey kSettingKeys[] = {
    {"WebRoot", "c:\\", kTextBufferSize, SettingField::kWebRoot, SettingKind::kText},
    {"Playlistfile", "", kTextBufferSize, SettingField::kPlaylistFile, SettingKind::kText},
    {"AdminPassword", "", kPasswordBufferSize, SettingField::kAdminPassword, SettingKind::kText},
    {"SkinPlaylistNext", kDefaultSkinPlaylistNext, kTextBufferSize, SettingField::kSkinPlaylistNext,
     SettingKind::kText},
    {"SkinPlaylistPrev", kDefaultSkinPlaylistPrev, kTextBufferSize, SettingField::kSkinPlaylistPrev,
     SettingKind::kText},
    {"SkinUserCancel", kDefaultSkinUserCancel, kTextBufferSize, SettingField::kSkinUserCancel, SettingKind::kText},
    {"bDisabled", "TRUE", kFlagBufferSize, SettingField::kDisabled, SettingKind::kFlag},
    {"Port", "80", kTextBufferSize, SettingField::kPort, SettingKind::kNumber},
    {"g_MaxEntries", "25", kTextBufferSize, SettingField::kMaxEntries, SettingKind::kNumber},
    {"g_MaxRequestsPerIP", "3", kTextBufferSize, SettingField::kMaxRequestsPerIP, SettingKind::kNumber},
    {"g_MaxQueueSize", "50", kTextBufferSize, SettingField::kMaxQueueSize, SettingKind::kNumber},
    {"g_MaxConsecutivePerIP", "0", kTextBufferSize, SettingField::kMaxConsecutivePerIP, SettingKind::kNumber},
    {"g_RecentlyPlayedQueueSize", "0", kTextBufferSize, SettingField::kRecentlyPlayedQueueSize, SettingKind::kNumber},
};

constexpr int kSettingCount = static_cast<int>(sizeof kSettingKeys / sizeof kSettingKeys[0]);

// The row of `field`.
constexpr const SettingKey& SettingKeyOf(SettingField field) {
  for (const SettingKey& key : kSettingKeys) {
    if (key.field == field) return key;
  }
  return kSettingKeys[0];  // not reached: every field has a row
}

// The default of a number field (its default text holds plain decimal
// digits, with no sign) and of the flag.
constexpr int DefaultNumber(SettingField field) {
  int value = 0;
  for (const char* digit = SettingKeyOf(field).defaultValue; *digit >= '0' && *digit <= '9'; ++digit) {
    value = value * 10 + (*digit - '0');
  }
  return value;
}
constexpr bool DefaultFlag(SettingField field) {
  const char* text = SettingKeyOf(field).defaultValue;
  return !(text[0] == 'F' && text[1] == 'A' && text[2] == 'L' && text[3] == 'S' && text[4] == 'E' && text[5] == '\0');
}

}  // namespace ambervox
