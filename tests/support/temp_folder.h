// TempFolder: a fresh folder for one test, under AMBERVOX_TEST_TMP (created
// when missing) or else the system's temporary folder, or under a root the
// test names; removed with its
// contents when the object goes. Paths use '/' separators, which both
// builds accept.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "platform/system.h"

namespace ambervox {
namespace testing {

class TempFolder {
 public:
  TempFolder() : TempFolder(DefaultRoot()) {}
  // A fresh folder under `root`.
  explicit TempFolder(const std::filesystem::path& root) {
    std::uint32_t a = 0;
    std::uint16_t b = 0;
    std::uint16_t c = 0;
    std::uint8_t d[8] = {};
    platform::CreateGuid(&a, &b, &c, d);
    char name[64];
    std::snprintf(name, sizeof name, "platform-%08X%04X%02X%02X", static_cast<unsigned>(a), b, d[6], d[7]);
    path_ = root / name;
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  static std::filesystem::path DefaultRoot() {
    const char* base = std::getenv("AMBERVOX_TEST_TMP");
    return base != nullptr && *base != '\0' ? std::filesystem::path(base) : std::filesystem::temp_directory_path();
  }

  bool Exists() const { return std::filesystem::is_directory(path_); }
  // The path of `name` inside the folder.
  std::string File(const std::string& name) const { return (path_ / name).generic_string(); }

  static std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::filesystem::path path_;
};

}  // namespace testing
}  // namespace ambervox
