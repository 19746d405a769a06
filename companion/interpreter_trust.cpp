#include "companion/interpreter_trust.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>

#include "command/command_utils.h"
#include "common/owners.h"
#include "common/paths.h"

namespace {

const wchar_t kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// What lets someone replace what a file holds, or a folder as such.
constexpr ACCESS_MASK kChangeFile =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER;
constexpr ACCESS_MASK kChangeFolder = DELETE | WRITE_DAC | WRITE_OWNER;

using Descriptor = LocalMemory<PSECURITY_DESCRIPTOR>;

ACCESS_MASK Specific(ACCESS_MASK mask) {
  if (mask & GENERIC_ALL) mask |= FILE_ALL_ACCESS;
  if (mask & GENERIC_WRITE) mask |= FILE_GENERIC_WRITE;
  return mask;
}

// Calls `each(sid, rights)` for every entry of the access list that grants rights on the object
// itself (inherit-only entries are for its children; denying entries only take rights away). An
// object without an access list, or with one that cannot be read, grants everything to everyone.
template <class Each>
void ForEachGrant(PSECURITY_DESCRIPTOR descriptor, Each each) {
  BOOL present = FALSE, defaulted = FALSE;
  PACL list = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) || !present || !list) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
      each(everyone, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
      FreeSid(everyone);
    }
    return;
  }
  for (DWORD i = 0; i < list->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(list, i, reinterpret_cast<void**>(&header)) ||
        (header->AceFlags & INHERIT_ONLY_ACE))
      continue;
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
        header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
      auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
      each(reinterpret_cast<PSID>(&ace->SidStart), Specific(ace->Mask));
    } else if (header->AceType == ACCESS_ALLOWED_OBJECT_ACE_TYPE) {
      auto* ace = reinterpret_cast<ACCESS_ALLOWED_OBJECT_ACE*>(header);
      BYTE* sid = reinterpret_cast<BYTE*>(&ace->ObjectType);
      if (ace->Flags & ACE_OBJECT_TYPE_PRESENT) sid += sizeof(GUID);
      if (ace->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) sid += sizeof(GUID);
      each(reinterpret_cast<PSID>(sid), Specific(ace->Mask));
    }
  }
}

PSID OwnerOf(PSECURITY_DESCRIPTOR descriptor) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ? owner : nullptr;
}

// "BUILTIN\Users", or the identifier's text where the system knows no name.
std::wstring Describe(PSID sid) {
  if (!sid) return L"nobody known";
  wchar_t name[256], domain[256];
  DWORD name_size = 256, domain_size = 256;
  SID_NAME_USE use;
  if (LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use))
    return domain_size && domain[0] ? std::wstring(domain) + L"\\" + name : std::wstring(name);
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"an unknown account";
  std::wstring described = text;
  LocalFree(text);
  return described;
}

// What `rights` let someone do to element `k` of a chain (0: the file, 1: its folder, 2 and
// above: the folders above), the plainest first.
std::wstring Deed(ACCESS_MASK rights, size_t k) {
  if (k == 0 && (rights & FILE_WRITE_DATA)) return L"write";
  if (k == 0 && (rights & FILE_APPEND_DATA)) return L"append to";
  if (k == 1 && (rights & FILE_ADD_FILE)) return L"add files to";
  if (k == 1 && (rights & FILE_DELETE_CHILD)) return L"delete files in";
  if (k >= 2 && (rights & FILE_DELETE_CHILD)) return L"delete or rename the folders in";
  if (rights & DELETE) return k == 0 ? L"delete" : L"delete or rename";
  if (rights & WRITE_DAC) return L"change the permissions of";
  return L"take ownership of";
}

Descriptor ReadDescriptor(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return Descriptor();
  return Descriptor(descriptor);
}

bool IsUnder(const std::wstring& path, std::wstring folder) {
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return !folder.empty() && path.size() > folder.size() && path[folder.size()] == L'\\' &&
         SamePath(std::wstring_view(path).substr(0, folder.size()), folder);
}

// The file, its folder and each folder above it, ending with the drive's root (X:\ or
// \\server\share\).
std::vector<std::wstring> Chain(const std::wstring& path) {
  std::vector<std::wstring> chain = {path};
  for (std::wstring at = path;;) {
    std::wstring parent = CommandUtils::dir_name(at);
    const bool drive = parent.size() == 2 && parent[1] == L':';
    const bool share = parent.compare(0, 2, L"\\\\") == 0 &&
                       std::count(parent.begin() + 2, parent.end(), L'\\') == 1;
    if (parent.empty() || parent == at) break;
    if (drive || share) {
      chain.push_back(parent + L"\\");
      break;
    }
    chain.push_back(parent);
    at = parent;
  }
  return chain;
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) folder = path;
  CoTaskMemFree(path);
  return folder;
}

// The account this program runs as, when it is an administrator with its rights in force.
void AddElevatedAdministrator(Principals* principals) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  ScopedHandle owner(token);
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof(administrators);
  BOOL member = FALSE;
  if (GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
      elevation.TokenIsElevated &&
      CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sid_size) &&
      CheckTokenMembership(nullptr, administrators, &member) && member &&
      GetTokenInformation(token, TokenUser, user, sizeof(user), &size))
    principals->Add(reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
}

}  // namespace

void Principals::Add(PSID sid) {
  if (!sid || !IsValidSid(sid) || Contains(sid)) return;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  sids_.emplace_back(bytes, bytes + GetLengthSid(sid));
}

void Principals::Add(const wchar_t* sid_text) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidW(sid_text, &sid)) return;
  Add(sid);
  LocalFree(sid);
}

bool Principals::Contains(PSID sid) const {
  for (const std::vector<BYTE>& known : sids_)
    if (EqualSid(const_cast<BYTE*>(known.data()), sid)) return true;
  return false;
}

Principals WritersOf(PSECURITY_DESCRIPTOR settings) {
  Principals writers;
  writers.Add(L"S-1-5-18");      // SYSTEM
  writers.Add(L"S-1-5-32-544");  // Administrators
  writers.Add(kTrustedInstaller);
  if (!settings) return writers;
  writers.Add(OwnerOf(settings));
  ForEachGrant(settings, [&](PSID sid, ACCESS_MASK rights) {
    if (rights & kChangeFile) writers.Add(sid);
  });
  return writers;
}

std::wstring ReplaceableBy(const std::vector<PSECURITY_DESCRIPTOR>& chain,
                           const std::vector<std::wstring>& names, const Principals& trusted) {
  for (size_t k = 0; k < chain.size(); ++k) {
    const std::wstring& name = k < names.size() ? names[k] : L"a folder above it";
    if (!chain[k]) return L"the permissions of " + name + L" cannot be read";
    PSID owner = OwnerOf(chain[k]);
    if (!owner || !trusted.Contains(owner)) return Describe(owner) + L" owns " + name;
    const ACCESS_MASK watched = k == 0   ? kChangeFile
                                : k == 1 ? kChangeFolder | FILE_ADD_FILE | FILE_DELETE_CHILD
                                         : kChangeFolder | FILE_DELETE_CHILD;
    std::wstring reason;
    ForEachGrant(chain[k], [&](PSID sid, ACCESS_MASK rights) {
      if (reason.empty() && (rights & watched) && !trusted.Contains(sid))
        reason = Describe(sid) + L" can " + Deed(rights & watched, k) + L" " + name;
    });
    if (!reason.empty()) return reason;
  }
  return L"";
}

SettingsTrust::SettingsTrust(const std::wstring& settings_path) {
  // A settings file not made yet is as its folder lets it be made.
  Descriptor settings = ReadDescriptor(settings_path);
  if (!settings) settings = ReadDescriptor(CommandUtils::dir_name(settings_path));
  trusted_ = WritersOf(settings.get());
  AddElevatedAdministrator(&trusted_);

  std::wstring settings_folder = CommandUtils::final_path(CommandUtils::dir_name(settings_path));
  if (settings_folder.empty()) settings_folder = CommandUtils::dir_name(settings_path);
  for (REFKNOWNFOLDERID id : {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86}) {
    std::wstring folder = CommandUtils::final_path(KnownFolder(id));
    if (folder.empty()) continue;
    machine_folders_.push_back(folder);
    per_machine_ = per_machine_ || IsUnder(settings_folder + L"\\", folder);
  }
  wchar_t windows[MAX_PATH] = {};
  UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  if (length && length < MAX_PATH) machine_folders_.push_back(CommandUtils::final_path(windows));
}

std::wstring SettingsTrust::Refusal(const std::wstring& interpreter) const {
  if (!CommandUtils::is_full_path(interpreter)) return L"not a full path";
  const std::wstring final = CommandUtils::final_path(interpreter);
  if (final.empty()) return L"it cannot be opened";
  if (per_machine_) {
    bool inside = false;
    for (const std::wstring& folder : machine_folders_) inside = inside || IsUnder(final, folder);
    if (!inside)
      return L"outside Program Files and Windows, where the interpreters of an installation for "
             L"every user must lie";
  }
  // The path as written and the one its links lead to: a link can be changed as its target can.
  std::vector<std::wstring> paths = {interpreter};
  if (!SamePath(final, interpreter)) paths.push_back(final);
  for (const std::wstring& path : paths) {
    std::vector<std::wstring> names = Chain(path);
    std::vector<Descriptor> owned;
    std::vector<PSECURITY_DESCRIPTOR> chain;
    for (const std::wstring& name : names) {
      owned.push_back(ReadDescriptor(name));
      chain.push_back(owned.back().get());
    }
    std::wstring reason = ReplaceableBy(chain, names, trusted_);
    if (!reason.empty()) return reason;
  }
  return L"";
}
