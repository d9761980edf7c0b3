// Process services: GUIDs, private-profile (INI) files, modules, debugger
// output. All functions are thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace ambervox {
namespace platform {

// A new GUID (CoCreateGuid) in its four fields. False on failure.
bool CreateGuid(std::uint32_t* data1, std::uint16_t* data2, std::uint16_t* data3, std::uint8_t data4[8]);

// GetPrivateProfileStringA: copies the value of `key` in `section` of the INI
// file at `path` into `buffer` (at most size - 1 bytes, always terminated),
// or `defaultValue` when the file, section or key is missing. Section and key
// names compare case-insensitively. Returns the number of bytes copied.
int ReadProfileString(const char* section, const char* key, const char* defaultValue, char* buffer, int size,
                      const char* path);
// WritePrivateProfileStringA: replaces the value of an existing key in place,
// or appends the key at the end of its section (creating the file and the
// section on first write). False when the file cannot be written.
bool WriteProfileString(const char* section, const char* key, const char* value, const char* path);

// Loadable modules (the host loading the plug-in). A module handle is the
// HMODULE on Win32 and the dlopen handle on POSIX.
using ModuleHandle = void*;
ModuleHandle LoadModule(const char* path);
void* FindModuleSymbol(ModuleHandle module, const char* name);
void UnloadModule(ModuleHandle module);
// Keeps the module that contains `address` mapped until the process ends,
// whatever unloads it later (GetModuleHandleEx with the PIN flag; POSIX:
// RTLD_NODELETE). For code that something outside may still call. False
// when the module cannot be found.
bool PinModuleOf(const void* address);
// The full path of a loaded module's file (GetModuleFileNameA with a buffer
// of `bufferSize` bytes); "" when unknown.
std::string ModuleFilePath(ModuleHandle module, int bufferSize);

// The value of the process's environment variable `name`
// (GetEnvironmentVariableA; POSIX: getenv); "" when it is not set.
std::string EnvironmentValue(const char* name);

// OutputDebugStringA (POSIX: written to standard error as it is).
void DebugOutput(const char* text);

}  // namespace platform
}  // namespace ambervox
