// Process services on POSIX: GUIDs from the kernel's random source, modules
// through the dynamic loader, debugger output on standard error.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // dlinfo
#endif
#include <dlfcn.h>
#include <link.h>
#include <sys/random.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/system.h"

namespace ambervox {
namespace platform {
namespace {

bool RandomBytes(unsigned char* out, std::size_t count) {
  std::size_t filled = 0;
  while (filled < count) {
    ssize_t n = getrandom(out + filled, count - filled, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    filled += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool CreateGuid(std::uint32_t* data1, std::uint16_t* data2, std::uint16_t* data3, std::uint8_t data4[8]) {
  if (data1 == nullptr || data2 == nullptr || data3 == nullptr || data4 == nullptr) return false;
  unsigned char bytes[16];
  if (!RandomBytes(bytes, sizeof bytes)) return false;
  *data1 = (static_cast<std::uint32_t>(bytes[0]) << 24) | (static_cast<std::uint32_t>(bytes[1]) << 16) |
           (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
  *data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  // A random (version 4) GUID of the RFC 4122 variant, as CoCreateGuid makes.
  *data3 = static_cast<std::uint16_t>((((bytes[6] << 8) | bytes[7]) & 0x0FFF) | 0x4000);
  std::memcpy(data4, bytes + 8, 8);
  data4[0] = static_cast<std::uint8_t>((data4[0] & 0x3F) | 0x80);
  return true;
}

ModuleHandle LoadModule(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  std::string file(path);
  for (char& c : file) {
    if (c == '\\') c = '/';
  }
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindModuleSymbol(ModuleHandle module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
  return dlsym(module, name);
}

void UnloadModule(ModuleHandle module) {
  if (module != nullptr) dlclose(module);
}

bool PinModuleOf(const void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) return false;
  // Opening the loaded module again with RTLD_NODELETE marks it to stay;
  // the reference taken by this open is dropped at once.
  void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string ModuleFilePath(ModuleHandle module, int bufferSize) {
  if (module == nullptr || bufferSize <= 1) return std::string();
  link_map* map = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr ||
      map->l_name[0] == '\0') {
    return std::string();
  }
  std::string path = map->l_name;
  if (char* absolute = realpath(map->l_name, nullptr)) {
    path = absolute;
    std::free(absolute);
  }
  if (path.size() > static_cast<std::size_t>(bufferSize - 1)) path.resize(static_cast<std::size_t>(bufferSize - 1));
  return path;
}

void DebugOutput(const char* text) {
  if (text == nullptr) return;
  std::fputs(text, stderr);
  std::fflush(stderr);
}

}  // namespace platform
}  // namespace ambervox
