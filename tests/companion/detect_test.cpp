// Detect's readers of what tools and installers leave behind, over the bytes and texts they
// write (Detect's sources end to end: the detect_* scenarios).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "companion/folder_walk.h"
#include "companion/installed_versions.h"
#include "companion/store_python.h"
#include "companion/tool_settings.h"
#include "tests/support/installed_files.h"
#include "tools/explorer/temp_dir.h"

namespace {

// An execution alias's link data as FSCTL_GET_REPARSE_POINT gives it: tag, length, reserved,
// then a version and NUL-ended strings.
std::string AppExecLink(const std::vector<std::wstring>& strings, DWORD tag = 0x8000001B,
                        DWORD version = 3) {
  std::wstring text;
  for (const std::wstring& item : strings) text += item + L'\0';
  const USHORT length = static_cast<USHORT>(4 + text.size() * sizeof(wchar_t));
  std::string data(8 + length, '\0');
  memcpy(&data[0], &tag, 4);
  memcpy(&data[4], &length, 2);
  memcpy(&data[8], &version, 4);
  memcpy(&data[12], text.data(), text.size() * sizeof(wchar_t));
  return data;
}

const wchar_t kFamily[] = L"PythonSoftwareFoundation.Python.3.12_qbz5n2kfra8p0";
const wchar_t kTarget[] =
    L"C:\\Program Files\\WindowsApps\\"
    L"PythonSoftwareFoundation.Python.3.12_3.12.2032.0_x64__qbz5n2kfra8p0\\python3.12.exe";

std::vector<std::wstring> Lines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

using Folders = std::vector<std::wstring>;

Folders Paths(const Listing& listing) {
  Folders paths;
  for (const Subfolder& folder : listing.folders) paths.push_back(folder.path);
  return paths;
}

}  // namespace

TEST(StoreAlias, TargetIsTheThirdStringOfTheLinkData) {
  const std::vector<std::wstring> alias = {kFamily, std::wstring(kFamily) + L"!Python", kTarget,
                                           L"0"};
  EXPECT_EQ(AppExecLinkTarget(AppExecLink(alias)), kTarget);
  EXPECT_EQ(AppExecLinkTarget(AppExecLink(alias, 0xA000000C)), L"");  // a symbolic link
  EXPECT_EQ(AppExecLinkTarget(AppExecLink(alias, 0x8000001B, 2)), L"");
  EXPECT_EQ(AppExecLinkTarget(AppExecLink({kFamily, kFamily})), L"");
  EXPECT_EQ(AppExecLinkTarget(AppExecLink({kFamily, kFamily, L"python3.12.exe", L"0"})), L"");
  std::string cut = AppExecLink(alias);
  EXPECT_EQ(AppExecLinkTarget(cut.substr(0, cut.size() - 10)), L"");  // shorter than it says
  std::string unterminated = AppExecLink({kFamily, kFamily});
  unterminated.resize(unterminated.size() - 2);  // the target's NUL missing
  unterminated += std::string(reinterpret_cast<const char*>(L"C:\\x"), 8);
  EXPECT_EQ(AppExecLinkTarget(unterminated), L"");
}

TEST(StoreAlias, PackageVersionAsPythonsAndAliasPaths) {
  EXPECT_EQ(PackageVersionAsPython(L"3.13.752.0"), L"3.13.2");
  EXPECT_EQ(PackageVersionAsPython(L"3.12.2032.0"), L"3.12.7");
  EXPECT_EQ(PackageVersionAsPython(L"3.10.3056.0"), L"3.10.11");
  for (const wchar_t* bad : {L"3.13.752", L"3.13.752.0.1", L"3.13.x.0", L"0.1.2.3", L"3..752.0"})
    EXPECT_EQ(PackageVersionAsPython(bad), L"") << bad;
  EXPECT_TRUE(
      IsPackageAlias(std::wstring(L"C:\\Users\\me\\AppData\\Local\\Microsoft\\windowsapps\\") +
                     kFamily + L"\\python.exe"));
  EXPECT_FALSE(
      IsPackageAlias(L"C:\\Users\\me\\AppData\\Local\\Microsoft\\WindowsApps\\python.exe"));
  EXPECT_FALSE(IsPackageAlias(L"C:\\Python312\\python.exe"));
}

TEST(Records, VersionsAreDigitsAndDots) {
  EXPECT_EQ(VersionText(L"3.12.1"), L"3.12.1");
  EXPECT_EQ(VersionText(std::wstring(32, L'1')), std::wstring(32, L'1'));
  for (const wchar_t* bad : {L"", L"3.12.1rc1", L".3", L"3,12", L" 3.12", L"3.12\u0661"})
    EXPECT_EQ(VersionText(bad), L"") << bad;
  EXPECT_EQ(VersionText(std::wstring(33, L'1')), L"");
  EXPECT_TRUE(IsFullVersion(L"3.12.1"));
  for (const wchar_t* not_full : {L"3.12", L"2023.09", L"3..1", L"3.12.1.", L"3.12.1.0"})
    EXPECT_FALSE(IsFullVersion(not_full)) << not_full;
}

TEST(Records, LinesStopAtTheLimitWithoutCuttingOne) {
  TempDir folder(L"records");
  const std::wstring path = folder.path() + L"\\pyvenv.cfg";
  std::vector<std::wstring> lines;
  ASSERT_TRUE(WriteTextFile(path, "version = 3.12.1\r\n" + std::string(kRecordLimit, 'x')));
  ASSERT_TRUE(ReadRecordLines(path, &lines));
  EXPECT_EQ(lines, Folders({L"version = 3.12.1"}));
  // A file of exactly the limit is whole; one byte more and its last line goes.
  const std::string full = std::string(kRecordLimit - 2, 'x') + "\ny";
  ASSERT_TRUE(WriteTextFile(path, full));
  ASSERT_TRUE(ReadRecordLines(path, &lines));
  EXPECT_EQ(lines.size(), 2u);
  ASSERT_TRUE(WriteTextFile(path, full + "z"));
  ASSERT_TRUE(ReadRecordLines(path, &lines));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), kRecordLimit - 2);
  ASSERT_TRUE(WriteTextFile(path, "version = " + std::string(2 * kRecordLimit, '3')));
  ASSERT_TRUE(ReadRecordLines(path, &lines));
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(VenvVersion(folder.path()), L"");
  EXPECT_FALSE(ReadRecordLines(folder.path() + L"\\missing.cfg", &lines));
}

TEST(ToolSettings, CondaEnvsDirsInEveryListForm) {
  EXPECT_EQ(
      CondarcEnvsDirs(Lines(L"channels:\n  - conda-forge\nenvs_dirs:\n  # mine\n"
                            L"  - ~/envs\n\n  - \"C:\\\\quoted envs\"  # a comment\n"
                            L"  - 'it''s'\n  - D:\\plain#1 # a note\npkgs_dirs:\n  - C:\\pkgs\n")),
      Folders({L"~/envs", L"C:\\quoted envs", L"it's", L"D:\\plain#1"}));
  EXPECT_EQ(CondarcEnvsDirs(Lines(L"envs_dirs:\n- C:\\a\n-   C:\\b\nchannels: []\n")),
            Folders({L"C:\\a", L"C:\\b"}));
  EXPECT_EQ(CondarcEnvsDirs(Lines(L"envs_dirs : [C:\\a, 'C:\\b, c', \"%X%\\d\"]  # flow\n")),
            Folders({L"C:\\a", L"C:\\b, c", L"%X%\\d"}));
  EXPECT_EQ(CondarcEnvsDirs(Lines(L"envs_dirs: []\n")), Folders());
  EXPECT_EQ(CondarcEnvsDirs(Lines(L"envs_dirs: C:\\single\n")), Folders());  // no list
  EXPECT_EQ(CondarcEnvsDirs(Lines(L"tools:\n  envs_dirs:\n    - C:\\nested\n")), Folders());
  EXPECT_EQ(CondarcEnvsDirs(Lines(L"envs_dirs_extra:\n  - C:\\other\n")), Folders());
  EXPECT_EQ(CondarcEnvsDirs(Lines(L"envs_dirs:\n  -C:\\no-space\n  - C:\\after\n")), Folders());
}

TEST(ToolSettings, PoetryVirtualenvsPath) {
  EXPECT_EQ(PoetryVirtualenvsPath(Lines(L"[repositories.x]\npath = 'no'\n\n[virtualenvs]\n"
                                        L"in-project = false\npath = \"D:\\\\venvs\"\n")),
            L"D:\\venvs");
  EXPECT_EQ(PoetryVirtualenvsPath(Lines(L"virtualenvs.path = '{cache-dir}\\envs'  # moved\n")),
            L"{cache-dir}\\envs");
  EXPECT_EQ(PoetryVirtualenvsPath(Lines(L"[virtualenvs]\n# path = 'C:\\old'\ncreate = true\n")),
            L"");
  EXPECT_EQ(PoetryVirtualenvsPath(Lines(L"[virtualenvs.options]\npath = 'C:\\no'\n")), L"");
  EXPECT_EQ(PoetryVirtualenvsPath(Lines(L"[x]\nvirtualenvs.path = 'C:\\no'\n")), L"");
}

TEST(FolderWalk, PathsAsVariablesSpellThem) {
  EXPECT_EQ(CleanPath(L"C:\\Users\\me\\\\Envs\\"), L"C:\\Users\\me\\Envs");
  EXPECT_EQ(CleanPath(L"C:/Users//me/"), L"C:\\Users\\me");
  EXPECT_EQ(CleanPath(L"C:\\"), L"C:\\");
  EXPECT_EQ(CleanPath(L"\\\\server\\share\\\\envs\\"), L"\\\\server\\share\\envs");
}

// A folder is entered once under any name; links inside a folder are not followed.
TEST(FolderWalk, EachFolderOnceLinksNotFollowed) {
  TempDir root(L"walk");
  const std::wstring a = root.path() + L"\\a";
  ASSERT_TRUE(CreateDirectoryW(a.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((a + L"\\b").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((a + L"\\C").c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(a + L"\\file", ""));
  ASSERT_TRUE(MakeUnixLink(a + L"\\loop", a));
  ASSERT_TRUE(MakeUnixLink(root.path() + L"\\other-name", a));
  FolderWalk walk;
  const Listing listing = walk.Enter(a);
  EXPECT_EQ(Paths(listing), Folders({a + L"\\b", a + L"\\C"}));
  EXPECT_TRUE(listing.HasFile(L"FILE"));
  EXPECT_TRUE(listing.HasFolder(L"c"));
  EXPECT_FALSE(listing.HasFolder(L"loop"));
  EXPECT_EQ(Paths(walk.Enter(listing.folders[0])), Folders());
  EXPECT_EQ(Paths(walk.Enter(listing.folders[0])), Folders()) << "entered twice";
  EXPECT_EQ(Paths(walk.Enter(a + L"\\loop")), Folders());
  EXPECT_EQ(Paths(walk.Enter(root.path() + L"\\other-name")), Folders());
  EXPECT_EQ(Paths(walk.Enter(root.path() + L"\\A\\")), Folders());
  EXPECT_EQ(Paths(walk.Enter(root.path() + L"\\missing")), Folders());
  FolderWalk fresh;  // a root that is a link is followed
  EXPECT_EQ(Paths(fresh.Enter(root.path() + L"\\other-name")),
            Folders({root.path() + L"\\other-name\\b", root.path() + L"\\other-name\\C"}));
}

// Many folders are read side by side; each listing still lands beside the folder it belongs to,
// and a folder given twice is read once.
TEST(FolderWalk, ManyFoldersReadSideBySideInTheirOrder) {
  TempDir root(L"walk-many");
  for (int i = 0; i < 100; ++i) {
    const std::wstring folder = root.path() + L"\\f" + std::to_wstring(1000 + i);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub-" + std::to_wstring(i)).c_str(), nullptr));
  }
  FolderWalk walk;
  std::vector<Subfolder> folders = walk.Enter(root.path()).folders;
  ASSERT_EQ(folders.size(), 100u);
  folders.push_back(folders[7]);
  const std::vector<Listing> listings = walk.EnterAll(folders);
  ASSERT_EQ(listings.size(), 101u);
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(Paths(listings[i]), Folders({folders[i].path + L"\\sub-" + std::to_wstring(i)}));
  EXPECT_EQ(Paths(listings[100]), Folders()) << "read twice";
  EXPECT_EQ(Paths(walk.EnterAll({folders[3]})[0]), Folders()) << "read again by a later call";

  std::vector<LONG> calls(5000);
  InParallel(calls.size(), [&](size_t i) { InterlockedIncrement(&calls[i]); });
  EXPECT_EQ(std::count(calls.begin(), calls.end(), 1), 5000);
}
