#include "common/plugin_settings.h"

#include <utility>

namespace ambervox {
namespace {

bool IsText(SettingField field, int count) {
  const int index = static_cast<int>(field);
  return index >= 0 && index < count;
}

}  // namespace

PluginSettings::PluginSettings() {
  for (const SettingKey& key : kSettingKeys) {
    const int index = static_cast<int>(key.field);
    if (key.kind == SettingKind::kText && index < kTextCount) {
      LockHolder hold(lock_);
      texts_[index] = key.defaultValue;
    } else if (key.kind == SettingKind::kNumber && index >= kFirstNumber && index < kFirstNumber + kNumberCount) {
      numbers_[index - kFirstNumber].store(DefaultNumber(key.field));
    }
  }
}

ByteString PluginSettings::Text(SettingField field) const {
  if (!IsText(field, kTextCount)) return ByteString();
  LockHolder hold(lock_);
  return texts_[static_cast<int>(field)];
}

void PluginSettings::SetText(SettingField field, const ByteString& value) {
  if (!IsText(field, kTextCount)) return;
  ByteString keep = value;  // take the reference outside the lock
  LockHolder hold(lock_);
  texts_[static_cast<int>(field)] = std::move(keep);
}

int PluginSettings::Number(SettingField field) const {
  const int index = static_cast<int>(field) - kFirstNumber;
  return index >= 0 && index < kNumberCount ? numbers_[index].load() : 0;
}

void PluginSettings::SetNumber(SettingField field, int value) {
  const int index = static_cast<int>(field) - kFirstNumber;
  if (index >= 0 && index < kNumberCount) numbers_[index].store(value);
}

}  // namespace ambervox
