// PluginSettings: the plug-in's configuration values while the library is
// loaded (the queue limits live in the RequestQueue). One instance is owned
// by the plug-in; the web tier and the pages get a pointer at construction.
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
#include "platform/lock.h"

namespace ambervox {

class PluginSettings {
 public:
  PluginSettings();
  PluginSettings(const PluginSettings&) = delete;
  PluginSettings& operator=(const PluginSettings&) = delete;

  // Defaults of the skin texts, CP932 bytes: "次へ...&gt;", "&lt;...戻る",
  // "キャンセル".
  static const char kDefaultSkinPlaylistNext[];
  static const char kDefaultSkinPlaylistPrev[];
  static const char kDefaultSkinUserCancel[];

  ByteString WebRoot() const EXCLUDES(lock_);
  ByteString PlaylistFile() const EXCLUDES(lock_);
  ByteString AdminPassword() const EXCLUDES(lock_);
  ByteString SkinPlaylistNext() const EXCLUDES(lock_);
  ByteString SkinPlaylistPrev() const EXCLUDES(lock_);
  ByteString SkinUserCancel() const EXCLUDES(lock_);
  void SetWebRoot(const ByteString& value) EXCLUDES(lock_);
  void SetPlaylistFile(const ByteString& value) EXCLUDES(lock_);
  void SetAdminPassword(const ByteString& value) EXCLUDES(lock_);
  void SetSkinPlaylistNext(const ByteString& value) EXCLUDES(lock_);
  void SetSkinPlaylistPrev(const ByteString& value) EXCLUDES(lock_);
  void SetSkinUserCancel(const ByteString& value) EXCLUDES(lock_);

  bool Disabled() const { return disabled_.load(); }
  void SetDisabled(bool value) { disabled_.store(value); }
  int Port() const { return port_.load(); }
  void SetPort(int value) { port_.store(value); }
  int MaxEntries() const { return maxEntries_.load(); }
  void SetMaxEntries(int value) { maxEntries_.store(value); }

 private:
  ByteString Get(const ByteString& field) const EXCLUDES(lock_);
  void Set(ByteString& field, const ByteString& value) EXCLUDES(lock_);

  mutable Lock lock_;
  ByteString webRoot_ GUARDED_BY(lock_);
  ByteString playlistFile_ GUARDED_BY(lock_);
  ByteString adminPassword_ GUARDED_BY(lock_);
  ByteString skinPlaylistNext_ GUARDED_BY(lock_);
  ByteString skinPlaylistPrev_ GUARDED_BY(lock_);
  ByteString skinUserCancel_ GUARDED_BY(lock_);
  std::atomic<bool> disabled_{true};
  std::atomic<int> port_{80};
  std::atomic<int> maxEntries_{25};
};

}  // namespace ambervox
