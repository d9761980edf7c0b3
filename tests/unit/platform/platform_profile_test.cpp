// Private-profile (INI) files: defaults for what is missing, values cut to
// the buffer, case-insensitive names, and the exact bytes that writes leave
// in the file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/system.h"
#include "support/temp_folder.h"

namespace ambervox {
namespace platform {
namespace {

using testing::TempFolder;

std::string Read(const char* section, const char* key, const char* defaultValue, const std::string& path,
                 int size = 256, int* returned = nullptr) {
  char buffer[1024];
  std::memset(buffer, 'X', sizeof buffer);
  int n = ReadProfileString(section, key, defaultValue, buffer, size, path.c_str());
  if (returned != nullptr) *returned = n;
  return std::string(buffer);
}

TEST(Profile, MissingFileSectionOrKeyGivesTheDefault) {
  TempFolder folder;
  ASSERT_TRUE(folder.Exists());
  std::string path = folder.File("plugin.ini");
  int n = -1;
  EXPECT_EQ(Read("HTTP Request", "Port", "80", path, 256, &n), "80");
  EXPECT_EQ(n, 2);

  TempFolder::WriteBytes(path, "[HTTP Request]\r\nPort=8080\r\n");
  EXPECT_EQ(Read("Other", "Port", "80", path), "80");
  EXPECT_EQ(Read("HTTP Request", "WebRoot", "c:\\", path, 256, &n), "c:\\");
  EXPECT_EQ(n, 3);
  EXPECT_EQ(Read("HTTP Request", "Port", "80", path, 256, &n), "8080");
  EXPECT_EQ(n, 4);
}

TEST(Profile, ValuesAndDefaultsAreCutToTheBuffer) {
  TempFolder folder;
  std::string path = folder.File("plugin.ini");
  TempFolder::WriteBytes(path, "[S]\r\nPassword=abcdefghij\r\n");
  int n = -1;
  EXPECT_EQ(Read("S", "Password", "", path, 5, &n), "abcd");
  EXPECT_EQ(n, 4);
  EXPECT_EQ(Read("S", "Password", "", path, 11, &n), "abcdefghij");
  EXPECT_EQ(n, 10);
  EXPECT_EQ(Read("S", "Missing", "0123456789", path, 4, &n), "012");
  EXPECT_EQ(n, 3);
}

TEST(Profile, SectionAndKeyNamesIgnoreCase) {
  TempFolder folder;
  std::string path = folder.File("plugin.ini");
  TempFolder::WriteBytes(path, "[HTTP Request]\r\nAdminPassword=Secret\r\n");
  EXPECT_EQ(Read("http request", "ADMINPASSWORD", "", path), "Secret");  // the value keeps its case

  // A write with other letter case changes the existing key.
  ASSERT_TRUE(WriteProfileString("HTTP REQUEST", "adminpassword", "Other", path.c_str()));
  EXPECT_EQ(TempFolder::ReadBytes(path), "[HTTP Request]\r\nAdminPassword=Other\r\n");
}

TEST(Profile, ReadsHandTypedFiles) {
  TempFolder folder;
  std::string path = folder.File("plugin.ini");
  // LF line ends, blanks around names and values, quotes, an earlier section.
  TempFolder::WriteBytes(path,
                         "[First]\nPort=1\n\n[ HTTP Request ]\n  Port = 8080  \nWebRoot=\"c:\\web\\\"\n"
                         "Playlistfile='list.html'\nHalf=\"open\n");
  EXPECT_EQ(Read("HTTP Request", "Port", "80", path), "8080");
  EXPECT_EQ(Read("HTTP Request", "WebRoot", "", path), "c:\\web\\");
  EXPECT_EQ(Read("HTTP Request", "Playlistfile", "", path), "list.html");
  EXPECT_EQ(Read("HTTP Request", "Half", "", path), "\"open");
  EXPECT_EQ(Read("First", "Port", "80", path), "1");
}

TEST(Profile, WritesCreateReplaceInPlaceAndAppendInOrder) {
  TempFolder folder;
  std::string path = folder.File("plugin.ini");
  ASSERT_TRUE(WriteProfileString("HTTP Request", "WebRoot", "c:\\", path.c_str()));
  EXPECT_EQ(TempFolder::ReadBytes(path), "[HTTP Request]\r\nWebRoot=c:\\\r\n");

  ASSERT_TRUE(WriteProfileString("HTTP Request", "Playlistfile", "", path.c_str()));
  ASSERT_TRUE(WriteProfileString("HTTP Request", "Port", "80", path.c_str()));
  EXPECT_EQ(TempFolder::ReadBytes(path), "[HTTP Request]\r\nWebRoot=c:\\\r\nPlaylistfile=\r\nPort=80\r\n");

  // An existing key keeps its place.
  ASSERT_TRUE(WriteProfileString("HTTP Request", "WebRoot", "d:\\web", path.c_str()));
  EXPECT_EQ(TempFolder::ReadBytes(path), "[HTTP Request]\r\nWebRoot=d:\\web\r\nPlaylistfile=\r\nPort=80\r\n");

  // A new section goes to the end; a new key of the first section goes to
  // the end of that section, before the next one.
  ASSERT_TRUE(WriteProfileString("Other", "Key", "1", path.c_str()));
  ASSERT_TRUE(WriteProfileString("HTTP Request", "bDisabled", "FALSE", path.c_str()));
  EXPECT_EQ(TempFolder::ReadBytes(path),
            "[HTTP Request]\r\nWebRoot=d:\\web\r\nPlaylistfile=\r\nPort=80\r\nbDisabled=FALSE\r\n"
            "[Other]\r\nKey=1\r\n");

  EXPECT_EQ(Read("HTTP Request", "WebRoot", "", path), "d:\\web");
  EXPECT_EQ(Read("HTTP Request", "Playlistfile", "default", path), "");  // present but empty
  EXPECT_EQ(Read("HTTP Request", "bDisabled", "TRUE", path), "FALSE");
  EXPECT_EQ(Read("Other", "Key", "", path), "1");
}

TEST(Profile, KeepsCodePage932BytesAsTheyAre) {
  TempFolder folder;
  std::string path = folder.File("plugin.ini");
  // "Cancel" in katakana: the 0x5C and 0x7E trail bytes must survive.
  const char* cancel = "\x83\x4C\x83\x83\x83\x93\x83\x5A\x83\x8B\x83\x5C\x81\x7E";
  ASSERT_TRUE(WriteProfileString("HTTP Request", "SkinUserCancel", cancel, path.c_str()));
  EXPECT_EQ(Read("HTTP Request", "SkinUserCancel", "", path), cancel);
  EXPECT_EQ(TempFolder::ReadBytes(path), std::string("[HTTP Request]\r\nSkinUserCancel=") + cancel + "\r\n");
}

TEST(Profile, WritingIntoAMissingFolderFails) {
  TempFolder folder;
  std::string path = folder.File("no-such-folder/plugin.ini");
  EXPECT_FALSE(WriteProfileString("HTTP Request", "Port", "80", path.c_str()));
  EXPECT_EQ(Read("HTTP Request", "Port", "80", path), "80");
}

}  // namespace
}  // namespace platform
}  // namespace ambervox
