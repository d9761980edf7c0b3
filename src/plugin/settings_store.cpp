#include "plugin/settings_store.h"

#include <cstring>
#include <vector>

#include "common/number.h"
#include "common/text_operations.h"
#include "platform/codepage.h"

namespace ambervox {
namespace {

ByteString ReadText(const char* key, const char* defaultValue, int bufferSize, const std::string& path) {
  std::vector<char> buffer(static_cast<std::size_t>(bufferSize), '\0');
  platform::ReadProfileString(kSettingsSection, key, defaultValue, buffer.data(), bufferSize, path.c_str());
  return ByteString(buffer.data(), static_cast<int>(std::strlen(buffer.data())));
}

bool IsProfileBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

void WriteText(const char* key, const ByteString& value, const std::string& path) {
  // The profile reader drops blanks around a value and one pair of matching
  // quotes around it. A value that begins or ends with a blank or a quote is
  // therefore written inside double quotes, which the reader takes off
  // again, so that it reads back exactly as it was saved.
  const int length = value.Length();
  const auto changesOnReading = [](char c) { return IsProfileBlank(c) || c == '"' || c == '\''; };
  const bool quote = length > 0 && (changesOnReading(value.At(0)) || changesOnReading(value.At(length - 1)));
  const ByteString written = quote ? ByteString("\"") + value + "\"" : value;
  platform::WriteProfileString(kSettingsSection, key, written.CStr(), path.c_str());
}

}  // namespace

std::string SettingsPathBeside(const std::string& moduleFilePath) {
  // The last separator character: the trail byte 0x5C of a two-byte
  // character in a folder or file name is no backslash.
  std::string::size_type cut = std::string::npos;
  for (std::string::size_type i = 0; i < moduleFilePath.size();) {
    const char c = moduleFilePath[i];
    if (c == '\\' || c == '/') cut = i;
    i += platform::IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < moduleFilePath.size() ? 2 : 1;
  }
  std::string folder = cut == std::string::npos ? std::string() : moduleFilePath.substr(0, cut + 1);
  return folder + kSettingsFileName;
}

std::string SettingsPathOf(platform::ModuleHandle libraryInstance) {
  return SettingsPathBeside(platform::ModuleFilePath(libraryInstance, kModulePathBufferSize));
}

ByteString SettingValue(const SettingKey& key, const PluginSettings& settings, const QueueLimits& limits) {
  switch (key.kind) {
    case SettingKind::kText:
      return settings.Text(key.field);
    case SettingKind::kFlag:
      return settings.Disabled() ? "TRUE" : "FALSE";
    case SettingKind::kNumber:
      break;
  }
  const int* limit = limits.Field(key.field);
  return Decimal(limit != nullptr ? *limit : settings.Number(key.field));
}

void SetSettingValue(const SettingKey& key, const ByteString& value, PluginSettings& settings, QueueLimits& limits) {
  switch (key.kind) {
    case SettingKind::kText:
      settings.SetText(key.field, value);
      return;
    case SettingKind::kFlag:
      // Only the exact upper-case text enables the plug-in: a hand-edited
      // "false" or "0" leaves it off, as does a missing file.
      settings.SetDisabled(!value.Equals("FALSE"));
      return;
    case SettingKind::kNumber:
      break;
  }
  const int number = ParseNumber(value.CStr());
  if (int* limit = limits.Field(key.field)) {
    *limit = number;
  } else {
    settings.SetNumber(key.field, number);
  }
}

void LoadSettings(PluginSettings& settings, RequestQueue& queue, const std::string& path) {
  // Every key is read first; the four limits then go into the queue as one
  // record, and the flag is set last.
  QueueLimits limits;
  ByteString disabled;
  for (const SettingKey& key : kSettingKeys) {
    const ByteString value = ReadText(key.key, key.defaultValue, key.bufferSize, path);
    if (key.kind == SettingKind::kFlag) {
      disabled = value;
    } else {
      SetSettingValue(key, value, settings, limits);
    }
  }
  queue.SetLimits(limits);
  SetSettingValue(SettingKeyOf(SettingField::kDisabled), disabled, settings, limits);
}

void SaveSettings(const PluginSettings& settings, const RequestQueue& queue, const std::string& path) {
  const QueueLimits limits = queue.GetLimits();
  for (const SettingKey& key : kSettingKeys) WriteText(key.key, SettingValue(key, settings, limits), path);
}

}  // namespace ambervox
