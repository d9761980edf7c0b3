// Process services: GUIDs, private-profile files, modules, debugger output.
#include "platform/win32/win32_api.h"

#include <objbase.h>

#include "platform/system.h"

namespace ambervox {
namespace platform {

bool CreateGuid(std::uint32_t* data1, std::uint16_t* data2, std::uint16_t* data3, std::uint8_t data4[8]) {
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return false;
  if (data1) *data1 = guid.Data1;
  if (data2) *data2 = guid.Data2;
  if (data3) *data3 = guid.Data3;
  if (data4) {
    for (int i = 0; i < 8; ++i) data4[i] = guid.Data4[i];
  }
  return true;
}

int ReadProfileString(const char* section, const char* key, const char* defaultValue, char* buffer, int size,
                      const char* path) {
  if (!buffer || size <= 0) return 0;
  return static_cast<int>(
      GetPrivateProfileStringA(section, key, defaultValue ? defaultValue : "", buffer, static_cast<DWORD>(size), path));
}

bool WriteProfileString(const char* section, const char* key, const char* value, const char* path) {
  return WritePrivateProfileStringA(section, key, value, path) != 0;
}

ModuleHandle LoadModule(const char* path) { return reinterpret_cast<ModuleHandle>(LoadLibraryA(path)); }

void* FindModuleSymbol(ModuleHandle module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(ModuleHandle module) {
  if (module) FreeLibrary(static_cast<HMODULE>(module));
}

bool PinModuleOf(const void* address) {
  HMODULE module = nullptr;
  return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            static_cast<LPCSTR>(address), &module) != 0;
}

std::string ModuleFilePath(ModuleHandle module, int bufferSize) {
  if (bufferSize <= 0) return std::string();
  std::string path(static_cast<std::size_t>(bufferSize), '\0');
  DWORD length = GetModuleFileNameA(static_cast<HMODULE>(module), &path[0], static_cast<DWORD>(bufferSize));
  // A path cut to the buffer is kept as far as a terminated buffer holds it.
  if (length >= static_cast<DWORD>(bufferSize)) length = static_cast<DWORD>(bufferSize) - 1;
  path.resize(length);
  return path;
}

std::string EnvironmentValue(const char* name) {
  const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
  if (size == 0) return std::string();
  std::string value(static_cast<std::size_t>(size), '\0');
  const DWORD length = GetEnvironmentVariableA(name, &value[0], size);
  value.resize(length < size ? length : 0);
  return value;
}

void DebugOutput(const char* text) { OutputDebugStringA(text ? text : ""); }

}  // namespace platform
}  // namespace ambervox
