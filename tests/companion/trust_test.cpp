// Who could replace an interpreter, judged over the permissions Windows gives its folders by
// default (Wine keeps no permissions of its own, so they are written out here as SDDL): each
// case is an interpreter's chain, from the file to the drive's root, and the settings file it
// would enter.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "companion/interpreter_trust.h"

namespace {

#define TI L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
#define ALICE L"S-1-5-21-1004336348-1177238915-682003330-1001"

// Folders and files as Windows sets them up, and as installers and users make them.
const wchar_t kDriveRoot[] = L"O:" TI L"G:" TI
                             L"D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
                             L"(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)";
const wchar_t kProgramFiles[] =
    L"O:" TI L"G:" TI L"D:PAI(A;;FA;;;" TI L")(A;CIIO;GA;;;" TI
    L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
    L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)"
    L"(A;OICIIO;GXGR;;;AC)";
// A folder an installer made in Program Files, and a file in it.
const wchar_t kInstallFolder[] =
    L"O:BAG:SYD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)"
    L"(A;OICIID;0x1200a9;;;BU)(A;OICIIOID;GA;;;CO)(A;CIID;GA;;;" TI L")(A;OICIID;0x1200a9;;;AC)";
const wchar_t kInstalledFile[] =
    L"O:BAG:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;ID;0x1200a9;;;AC)";
const wchar_t kProgramData[] =
    L"O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)"
    L"(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)";
// What a user makes in ProgramData: owned by them, and Users may add files to every folder.
const wchar_t kUserFolderInProgramData[] =
    L"O:" ALICE L"G:" ALICE L"D:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;ID;FA;;;" ALICE
    L")(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)(A;CIID;0x116;;;BU)";
const wchar_t kUserFileInProgramData[] =
    L"O:" ALICE L"G:" ALICE
    L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;" ALICE L")(A;ID;0x1200a9;;;BU)";
const wchar_t kAdministratorFolderInProgramData[] =
    L"O:BAG:SYD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)"
    L"(A;OICIID;0x1200a9;;;BU)(A;CIID;0x116;;;BU)";
const wchar_t kAdministratorFileInProgramData[] =
    L"O:BAG:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";
// A folder an administrator made at the drive's root: Authenticated Users may change it.
const wchar_t kFolderAtRoot[] =
    L"O:BAG:SYD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)"
    L"(A;OICIID;0x1200a9;;;BU)(A;OICIID;SDGXGWGR;;;AU)";
const wchar_t kFileAtRoot[] =
    L"O:BAG:SYD:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)"
    L"(A;ID;0x1301bf;;;AU)";
const wchar_t kUsers[] =
    L"O:SYG:SYD:PAI(A;OICIIO;GA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
    L"(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;WD)";
const wchar_t kPublic[] =
    L"O:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;IU)"
    L"(A;OICI;0x1200a9;;;SU)(A;OICI;0x1200a9;;;WD)";
const wchar_t kPublicDocuments[] =
    L"O:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;IU)"
    L"(A;OICI;0x1301bf;;;SU)(A;OICI;0x1200a9;;;WD)";
const wchar_t kInPublicDocuments[] =
    L"O:" ALICE L"D:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1301bf;;;IU)"
    L"(A;OICIID;0x1301bf;;;SU)(A;OICIID;0x1200a9;;;WD)";
const wchar_t kProfile[] = L"O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" ALICE L")";
const wchar_t kInProfile[] =
    L"O:" ALICE L"G:" ALICE L"D:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;FA;;;" ALICE L")";

// The settings files: a per-machine install's, and one in a user's profile.
const wchar_t kMachineSettings[] =
    L"O:SYG:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;ID;0x1200a9;;;AC)";
const wchar_t* const kAliceSettings = kInProfile;

// Owned by Administrators, without an access list: everyone may do anything.
const wchar_t kNoAccessList[] = L"no access list";

struct Link {
  const wchar_t* name;
  const wchar_t* sddl;  // null: the descriptor cannot be read
};

struct Case {
  const char* what;
  const wchar_t* settings;
  std::vector<Link> chain;  // from the interpreter to the drive's root
  std::wstring refusal;     // empty: may enter
};

using Descriptor = std::unique_ptr<void, decltype(&LocalFree)>;

Descriptor FromSddl(const wchar_t* sddl) {
  if (sddl == kNoAccessList) {  // SDDL's NO_ACCESS_CONTROL, which Wine reads as an empty list
    struct Absolute {
      SECURITY_DESCRIPTOR descriptor;
      BYTE owner[SECURITY_MAX_SID_SIZE];
    };
    auto* made = static_cast<Absolute*>(LocalAlloc(LPTR, sizeof(Absolute)));
    DWORD size = sizeof(made->owner);
    EXPECT_TRUE(InitializeSecurityDescriptor(&made->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, made->owner, &size) &&
                SetSecurityDescriptorOwner(&made->descriptor, made->owner, FALSE) &&
                SetSecurityDescriptorDacl(&made->descriptor, TRUE, nullptr, FALSE));
    return Descriptor(made, &LocalFree);
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                   &descriptor, nullptr))
      << "not SDDL: " << std::string(sddl, sddl + wcslen(sddl));
  return Descriptor(descriptor, &LocalFree);
}

// python.exe in C:\Program Files\Python312, with the permissions given where a case changes them.
std::vector<Link> Installed(const wchar_t* file = kInstalledFile,
                            const wchar_t* folder = kInstallFolder,
                            const wchar_t* program_files = kProgramFiles,
                            const wchar_t* root = kDriveRoot) {
  return {{L"C:\\Program Files\\Python312\\python.exe", file},
          {L"C:\\Program Files\\Python312", folder},
          {L"C:\\Program Files", program_files},
          {L"C:\\", root}};
}

// A virtual environment's interpreter in alice's profile.
std::vector<Link> InProfile(const wchar_t* scripts = kInProfile) {
  return {{L"C:\\Users\\alice\\p\\Scripts\\python.exe", kInProfile},
          {L"C:\\Users\\alice\\p\\Scripts", scripts},
          {L"C:\\Users\\alice\\p", kInProfile},
          {L"C:\\Users\\alice", kProfile},
          {L"C:\\Users", kUsers},
          {L"C:\\", kDriveRoot}};
}

// Interpreters an installer put in Program Files, and what makes one replaceable there.
std::vector<Case> InProgramFilesCases() {
  return {
      {"an interpreter an installer put in Program Files", kMachineSettings, Installed(), L""},
      {"... when its folder belongs to a user", kMachineSettings,
       Installed(kInstalledFile, L"O:" ALICE L"D:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)"),
       ALICE L" owns C:\\Program Files\\Python312"},
      {"... when Users may delete the folders in Program Files", kMachineSettings,
       Installed(kInstalledFile, kInstallFolder,
                 L"O:" TI L"D:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200e9;;;BU)"),
       L"BUILTIN\\Users can delete or rename the folders in C:\\Program Files"},
      {"... when Users may delete the files in its folder", kMachineSettings,
       Installed(kInstalledFile, L"O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;;0x1200e9;;;BU)"),
       L"BUILTIN\\Users can delete files in C:\\Program Files\\Python312"},
      {"... when Users may change the permissions of the drive's root", kMachineSettings,
       Installed(kInstalledFile, kInstallFolder, kProgramFiles,
                 L"O:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;;0x1600a9;;;BU)"),
       L"BUILTIN\\Users can change the permissions of C:\\"},
      {"... when everyone may write what is made in its folder, but not the folder",
       kMachineSettings,
       Installed(kInstalledFile,
                 L"O:BAG:SYD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIO;FA;;;WD)"),
       L""},
      {"... when its file has no access list", kMachineSettings, Installed(kNoAccessList),
       L"Everyone can write C:\\Program Files\\Python312\\python.exe"},
      {"... when a folder's permissions cannot be read", kMachineSettings,
       Installed(kInstalledFile, nullptr),
       L"the permissions of C:\\Program Files\\Python312 cannot be read"},
  };
}

// Interpreters elsewhere: ProgramData, the drive's root, Public Documents and a profile.
std::vector<Case> ElsewhereCases() {
  return {
      {"a conda environment a user made in ProgramData",
       kMachineSettings,
       {{L"C:\\ProgramData\\miniconda3\\envs\\x\\python.exe", kUserFileInProgramData},
        {L"C:\\ProgramData\\miniconda3\\envs\\x", kUserFolderInProgramData},
        {L"C:\\ProgramData\\miniconda3\\envs", kUserFolderInProgramData},
        {L"C:\\ProgramData\\miniconda3", kUserFolderInProgramData},
        {L"C:\\ProgramData", kProgramData},
        {L"C:\\", kDriveRoot}},
       ALICE L" owns C:\\ProgramData\\miniconda3\\envs\\x\\python.exe"},
      {"an interpreter an administrator put in ProgramData",
       kMachineSettings,
       {{L"C:\\ProgramData\\tools\\python.exe", kAdministratorFileInProgramData},
        {L"C:\\ProgramData\\tools", kAdministratorFolderInProgramData},
        {L"C:\\ProgramData", kProgramData},
        {L"C:\\", kDriveRoot}},
       L"BUILTIN\\Users can add files to C:\\ProgramData\\tools"},
      {"an interpreter an administrator put in a folder at the drive's root",
       kMachineSettings,
       {{L"C:\\Python312\\python.exe", kFileAtRoot},
        {L"C:\\Python312", kFolderAtRoot},
        {L"C:\\", kDriveRoot}},
       L"NT AUTHORITY\\Authenticated Users can write C:\\Python312\\python.exe"},
      {"the same, for settings that Authenticated Users may change as well",
       kFileAtRoot,
       {{L"C:\\Python312\\python.exe", kFileAtRoot},
        {L"C:\\Python312", kFolderAtRoot},
        {L"C:\\", kDriveRoot}},
       L""},
      {"a virtual environment in Public Documents",
       kMachineSettings,
       {{L"C:\\Users\\Public\\Documents\\p\\Scripts\\python.exe", kInPublicDocuments},
        {L"C:\\Users\\Public\\Documents\\p\\Scripts", kInPublicDocuments},
        {L"C:\\Users\\Public\\Documents\\p", kInPublicDocuments},
        {L"C:\\Users\\Public\\Documents", kPublicDocuments},
        {L"C:\\Users\\Public", kPublic},
        {L"C:\\Users", kUsers},
        {L"C:\\", kDriveRoot}},
       ALICE L" owns C:\\Users\\Public\\Documents\\p\\Scripts\\python.exe"},
      {"a virtual environment in a profile, for the machine's settings", kMachineSettings,
       InProfile(), ALICE L" owns C:\\Users\\alice\\p\\Scripts\\python.exe"},
      {"the same, for the settings of the user whose profile it is", kAliceSettings, InProfile(),
       L""},
      {"... with Public Documents' permissions on its folder", kAliceSettings,
       InProfile(kPublicDocuments),
       L"NT AUTHORITY\\INTERACTIVE can add files to C:\\Users\\alice\\p\\Scripts"},
  };
}

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = [] {
    std::vector<Case> all = InProgramFilesCases(), elsewhere = ElsewhereCases();
    all.insert(all.end(), elsewhere.begin(), elsewhere.end());
    return all;
  }();
  return cases;
}

class ReplaceableBy : public ::testing::TestWithParam<size_t> {};

TEST_P(ReplaceableBy, AsTheChainsPermissionsSay) {
  const Case& c = Cases()[GetParam()];
  Descriptor settings = FromSddl(c.settings);
  std::vector<Descriptor> owned;
  std::vector<PSECURITY_DESCRIPTOR> chain;
  std::vector<std::wstring> names;
  for (const Link& link : c.chain) {
    owned.push_back(link.sddl ? FromSddl(link.sddl) : Descriptor(nullptr, &LocalFree));
    chain.push_back(owned.back().get());
    names.push_back(link.name);
  }
  std::wstring refusal = ::ReplaceableBy(chain, names, WritersOf(settings.get()));
  EXPECT_EQ(refusal, c.refusal) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Defaults, ReplaceableBy, ::testing::Range<size_t>(0, Cases().size()));

// A path that depends on the current folder names no one file, and a missing file no one's.
TEST(SettingsTrust, RefusesWhatNamesNoOneFile) {
  const SettingsTrust trust(L"C:\\users\\Public\\config.cfg");
  EXPECT_EQ(trust.Refusal(L"python.exe"), L"not a full path");
  EXPECT_EQ(trust.Refusal(L".venv\\Scripts\\python.exe"), L"not a full path");
  EXPECT_EQ(trust.Refusal(L"C:python.exe"), L"not a full path");
  EXPECT_EQ(trust.Refusal(L"\\Python312\\python.exe"), L"not a full path");
  EXPECT_EQ(trust.Refusal(L"C:\\no\\such\\python.exe"), L"it cannot be opened");
  EXPECT_EQ(trust.Refusal(L"C:\\windows\\system32\\cmd.exe"), L"");
}

}  // namespace
