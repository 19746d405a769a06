#include "command/project_environment.h"

#include <windows.h>

#include <iterator>
#include <vector>

#include "command/command_utils.h"
#include "common/owners.h"
#include "command/interpreter_records.h"
#include "common/paths.h"
#include "common/recent_map.h"
#include "log/log.h"

namespace {

bool IsDriveRoot(const std::wstring& folder) { return folder.size() <= 3; }

// What a right-click needs to know of a drive, asked of the system at most once every few seconds
// per letter and question: on some systems one question costs more than all the lookups of a
// right-click together.
enum class DriveQuestion { kType, kFolderTimes };

wchar_t Upper(wchar_t letter) {
  return letter >= L'a' && letter <= L'z' ? letter - L'a' + L'A' : letter;
}

UINT DriveAnswer(wchar_t letter, DriveQuestion question) {
  constexpr ULONGLONG kKeptMs = 5000;
  static SRWLOCK lock = SRWLOCK_INIT;
  static struct {
    UINT answer;
    ULONGLONG asked;  // 0: never
  } known[26][2] = {};
  const wchar_t upper = Upper(letter);
  if (upper < L'A' || upper > L'Z') return 0;
  const ULONGLONG now = GetTickCount64();
  auto& kept = known[upper - L'A'][static_cast<int>(question)];
  {
    ExclusiveLock hold(&lock);
    if (kept.asked != 0 && now - kept.asked < kKeptMs) return kept.answer;
  }
  const wchar_t root[] = {upper, L':', L'\\', L'\0'};
  UINT answer = 0;
  if (question == DriveQuestion::kType) {
    answer = DriveTypeOfRoot(root);
  } else if (DriveAnswer(upper, DriveQuestion::kType) == DRIVE_FIXED) {
    wchar_t file_system[MAX_PATH + 1] = {};
    if (GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, file_system,
                              MAX_PATH + 1))
      answer = lstrcmpiW(file_system, L"NTFS") == 0 || lstrcmpiW(file_system, L"ReFS") == 0;
  }
  ExclusiveLock hold(&lock);
  kept = {answer, now | 1};
  return answer;
}

// Whether `letter` names the drive Windows runs from, which is never a network drive.
bool IsSystemDrive(wchar_t letter) {
  static const wchar_t system = [] {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(folder, MAX_PATH);
    return length >= 3 && length < MAX_PATH && folder[1] == L':' ? Upper(folder[0]) : L'\0';
  }();
  return system != L'\0' && Upper(letter) == system;
}

bool OnNetwork(const std::wstring& folder) {
  if (folder.size() < 3 || folder[1] != L':') return true;  // \\server\share, or no drive at all
  if (IsSystemDrive(folder[0])) return false;
  // A root that does not open is not looked in either.
  const UINT type = DriveAnswer(folder[0], DriveQuestion::kType);
  return type == DRIVE_REMOTE || type == DRIVE_UNKNOWN;
}

// Folders' write times follow their entries (NTFS, ReFS).
bool FolderTimesFollowEntries(const std::wstring& folder) {
  return DriveAnswer(folder[0], DriveQuestion::kFolderTimes) != 0;
}

// A stamp a few seconds old: two changes within the clock's resolution may leave a file or a
// folder with the same write time, so a younger stamp does not say that nothing changed.
bool Settled(const FileStamp& stamp) {
  constexpr ULONGLONG kSettledTicks = 2ull * 10000000;  // 2 s in 100 ns units
  const ULONGLONG now = FileTimeNow();
  return now >= stamp.write_time && now - stamp.write_time >= kSettledTicks;
}

// Folders seen to hold no environment under any of the names, each with its stamp then: while the
// stamp is the same, no entry was made there since, and the folder is not looked in again.
StampedMemory<FileStamp, bool>& FoldersWithoutEnvironment() {
  static StampedMemory<FileStamp, bool> folders(256);
  return folders;
}

// conda's activation puts these first on PATH, in this order.
std::wstring CondaPathPrefix(const std::wstring& prefix) {
  std::wstring folders;
  for (const wchar_t* folder : {L"", L"\\Library\\mingw-w64\\bin", L"\\Library\\usr\\bin",
                                L"\\Library\\bin", L"\\Scripts", L"\\bin"})
    folders += prefix + folder + L";";
  return folders;
}

// Reads what the environment at `folder` records; false (logged) when that is not enough to
// offer it.
bool ReadEnvironment(const std::wstring& folder, bool conda, ProjectEnvironment* environment) {
  const std::wstring name = CommandUtils::base_name(folder);
  if (conda) {
    environment->interpreter = folder + L"\\python.exe";
    environment->version = CondaVersion(folder);
    environment->name = name;
    environment->path_prefix = CondaPathPrefix(folder);
  } else {
    environment->interpreter = folder + L"\\Scripts\\python.exe";
    std::vector<std::wstring> lines;
    ReadVenvRecord(folder, &lines);
    environment->version = VenvVersion(lines);
    if (!VenvValue(lines, L"prompt", &environment->name) || environment->name.empty())
      environment->name = name;
    environment->path_prefix = CommandUtils::python_path_prefix(environment->interpreter);
  }
  environment->bits = PointerWidth(environment->interpreter);
  if (environment->version.empty() || environment->bits.empty()) {
    log_write(LOG_ERROR, L"Project environment left out, no %s recorded: %s",
              environment->version.empty() ? L"version" : L"program header", folder.c_str());
    return false;
  }
  return true;
}

// The stamps of what an environment is read from: its record (pyvenv.cfg, or conda-meta, whose
// write time follows the packages installed) and its program.
struct EnvironmentStamps {
  FileStamp record, program;
  bool operator==(const EnvironmentStamps& other) const {
    return record == other.record && program == other.program;
  }
};

// The interpreter of `folder` when it is an environment of the `kinds` asked, with the stamps of
// its record and its program (reading a stamp is the check that the file is there); else empty.
std::wstring StampedEnvironment(const std::wstring& folder, int kinds, EnvironmentStamps* stamps) {
  const std::wstring venv_program = folder + L"\\Scripts\\python.exe";
  if ((kinds & kVirtualEnvironment) && ReadFileStamp(folder + L"\\pyvenv.cfg", &stamps->record) &&
      ReadFileStamp(venv_program, &stamps->program))
    return venv_program;
  const std::wstring conda_program = folder + L"\\python.exe";
  if ((kinds & kCondaPrefix) && ReadFolderStamp(folder + L"\\conda-meta", &stamps->record) &&
      ReadFileStamp(conda_program, &stamps->program))
    return conda_program;
  return L"";
}

// False when the stamps cannot tell a change: one too young, or conda-meta on a drive whose folder
// times do not follow their entries.
bool StampsTellChanges(const std::wstring& folder, bool conda, const EnvironmentStamps& stamps) {
  return (!conda || FolderTimesFollowEntries(folder)) && Settled(stamps.record) &&
         Settled(stamps.program);
}

// Environments read, each with the stamps it was read under: while they stay the same, its files
// are not read again.
StampedMemory<EnvironmentStamps, ProjectEnvironment>& EnvironmentsRead() {
  static StampedMemory<EnvironmentStamps, ProjectEnvironment> read(16);
  return read;
}

// ReadEnvironment, once per version of the environment's files.
bool ReadEnvironmentOnce(const std::wstring& folder, bool conda, const EnvironmentStamps& stamps,
                         ProjectEnvironment* environment) {
  const bool telling = StampsTellChanges(folder, conda, stamps);
  if (telling && EnvironmentsRead().Find(folder, stamps, environment)) return true;
  if (!ReadEnvironment(folder, conda, environment)) return false;
  if (telling) EnvironmentsRead().Keep(folder, stamps, *environment);
  return true;
}

}  // namespace

std::wstring EnvironmentInterpreter(const std::wstring& folder, int kinds) {
  EnvironmentStamps unused;
  return StampedEnvironment(folder, kinds, &unused);
}

bool FindProjectEnvironment(const std::wstring& start_folder, ProjectEnvironment* found) {
  if (start_folder.empty() || OnNetwork(start_folder)) return false;
  std::wstring folder = start_folder;
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  std::vector<std::wstring> names(std::begin(kProjectEnvironmentFolders),
                                  std::end(kProjectEnvironmentFolders));
  names.push_back(std::wstring(kPixiEnvironments) + L"\\default");
  std::wstring up;
  for (int level = 0; level <= kProjectLevelsUp; ++level) {
    if (level > 0) {
      folder = CommandUtils::dir_name(folder);
      up += L"..\\";
      // A drive's root is looked in only when right-clicked itself: any user may make folders
      // there.
      if (folder.empty() || IsDriveRoot(folder)) break;
    }
    const std::wstring base = folder.back() == L'\\' ? folder : folder + L"\\";
    FileStamp stamp;
    const bool stamped = ReadFolderStamp(folder, &stamp);
    // The file system is asked only when the memory would answer: most folders are seen once.
    bool seen = false;
    if (stamped && FoldersWithoutEnvironment().Find(folder, stamp, &seen) &&
        FolderTimesFollowEntries(folder)) {
      if (IsDriveRoot(folder)) break;
      continue;
    }
    bool named = false;  // a folder of one of the names, or .pixi: such a folder is not remembered
    for (const std::wstring& name : names) {
      // pixi's environments lie two folders down: .pixi is asked for first, one query when absent.
      const bool pixi = &name == &names.back();
      if (pixi && !IsFolder(base + kPixiFolder)) break;
      named = named || pixi;
      const std::wstring candidate = base + name;
      if (!IsFolder(candidate)) continue;  // the one query a folder costs when absent
      named = true;
      EnvironmentStamps stamps;
      const std::wstring interpreter = StampedEnvironment(candidate, kAnyEnvironment, &stamps);
      if (interpreter.empty()) continue;
      const bool conda = interpreter == candidate + L"\\python.exe";
      ProjectEnvironment environment;
      if (!ReadEnvironmentOnce(candidate, conda, stamps, &environment)) return false;
      environment.found_as = up + name;
      *found = environment;
      return true;
    }
    if (stamped && !named && Settled(stamp)) FoldersWithoutEnvironment().Keep(folder, stamp, true);
    if (IsDriveRoot(folder)) break;
  }
  return false;
}
