// PluginSettings: the plug-in's configuration values while the library is
// loaded (the queue limits live in the RequestQueue). One instance is owned
// by the plug-in; the web tier and the pages get a pointer at construction.
// Every value starts at its default from the settings table
// (common/settings_table.h).
//
// The user-interface thread replaces values (settings store, settings
// dialog) while connection threads read them. Text values are immutable
// ByteStrings swapped under `lock`: a reader gets its own reference-counted
// copy, which stays valid however often the value is replaced afterwards.
// Numbers and the flag are atomics. Every operation may be called from any
// thread.
#pragma once

#include <atomic>

#include "common/byte_string.h"
#include "common/settings_table.h"
#include "platform/lock.h"

namespace ambervox {

class PluginSettings {
 public:
  PluginSettings();
  PluginSettings(const PluginSettings&) = delete;
  PluginSettings& operator=(const PluginSettings&) = delete;

  // The values by their field of the settings table: Text for the text
  // fields, Number for the number fields that are no queue limits (Port,
  // g_MaxEntries). Other fields give "" and 0 and are not stored.
  ByteString Text(SettingField field) const EXCLUDES(lock_);
  void SetText(SettingField field, const ByteString& value) EXCLUDES(lock_);
  int Number(SettingField field) const;
  void SetNumber(SettingField field, int value);

  ByteString WebRoot() const { return Text(SettingField::kWebRoot); }
  ByteString PlaylistFile() const { return Text(SettingField::kPlaylistFile); }
  ByteString AdminPassword() const { return Text(SettingField::kAdminPassword); }
  ByteString SkinPlaylistNext() const { return Text(SettingField::kSkinPlaylistNext); }
  ByteString SkinPlaylistPrev() const { return Text(SettingField::kSkinPlaylistPrev); }
  ByteString SkinUserCancel() const { return Text(SettingField::kSkinUserCancel); }
  void SetWebRoot(const ByteString& value) { SetText(SettingField::kWebRoot, value); }
  void SetPlaylistFile(const ByteString& value) { SetText(SettingField::kPlaylistFile, value); }
  void SetAdminPassword(const ByteString& value) { SetText(SettingField::kAdminPassword, value); }
  void SetSkinPlaylistNext(const ByteString& value) { SetText(SettingField::kSkinPlaylistNext, value); }
  void SetSkinPlaylistPrev(const ByteString& value) { SetText(SettingField::kSkinPlaylistPrev, value); }
  void SetSkinUserCancel(const ByteString& value) { SetText(SettingField::kSkinUserCancel, value); }

  bool Disabled() const { return disabled_.load(); }
  void SetDisabled(bool value) { disabled_.store(value); }
  int Port() const { return Number(SettingField::kPort); }
  void SetPort(int value) { SetNumber(SettingField::kPort, value); }
  int MaxEntries() const { return Number(SettingField::kMaxEntries); }
  void SetMaxEntries(int value) { SetNumber(SettingField::kMaxEntries, value); }

 private:
  // The groups of SettingField: the texts up to the flag, the numbers from
  // the first after the flag up to the first queue limit.
  static constexpr int kTextCount = static_cast<int>(SettingField::kDisabled);
  static constexpr int kFirstNumber = static_cast<int>(SettingField::kDisabled) + 1;
  static constexpr int kNumberCount = static_cast<int>(SettingField::kMaxRequestsPerIP) - kFirstNumber;

  mutable Lock lock_;
  ByteString texts_[kTextCount] GUARDED_BY(lock_);
  std::atomic<bool> disabled_{DefaultFlag(SettingField::kDisabled)};
  std::atomic<int> numbers_[kNumberCount];
};

}  // namespace ambervox
