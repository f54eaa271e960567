// What the executables carry: the version block that the About box reads,
// and Shardix.exe's manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shardix_version.h"

namespace shardix::test {
namespace {

std::string VersionString(const std::vector<char>& block, const char* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
  if (!VerQueryValueA(block.data(), path.c_str(), &value, &length) || length == 0) return "<missing>";
  return static_cast<const char*>(value);
}

TEST(Resources, VersionBlockNamesTheMakerAndProduct) {
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, path, sizeof path), 0u);
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &handle);
  ASSERT_GT(size, 0u) << "no version block, error " << GetLastError();
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));

  EXPECT_EQ(VersionString(block, "CompanyName"), "Quorvane (R) Software");
  EXPECT_EQ(VersionString(block, "ProductName"), "Quorvane Shardix");
  EXPECT_EQ(VersionString(block, "ProductVersion"), SHARDIX_VERSION_TEXT);
  EXPECT_EQ(VersionString(block, "FileVersion"), SHARDIX_VERSION_TEXT);

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), SHARDIX_VERSION_MAJOR);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), SHARDIX_VERSION_MINOR);
  EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), SHARDIX_VERSION_PATCH);
}

TEST(Resources, ProgramManifestAsksForAdministratorAndCommonControls6) {
  HMODULE program = LoadLibraryExA(SHARDIX_GUI_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr) << SHARDIX_GUI_PATH << ": error " << GetLastError();
  HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(program, found)));
  const std::string manifest(data, SizeofResource(program, found));
  FreeLibrary(program);

  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
  EXPECT_EQ(manifest.find("asInvoker"), std::string::npos);
}

}  // namespace
}  // namespace shardix::test
