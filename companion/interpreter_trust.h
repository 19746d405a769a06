// Whether an interpreter may enter a settings file. Every menu that reads the file offers what it
// lists, and choosing an entry runs it: so an interpreter may enter only if nobody who cannot
// change the file could replace the interpreter. Those who can change the file are its owner,
// whoever its access list lets write it, and Administrators, SYSTEM and TrustedInstaller (and the
// account that saves, when it is an elevated administrator). An interpreter is refused when
// anyone else can write, append to, delete, or change the permissions or owner of its file; add
// files to or delete files from its folder; or delete, rename, or change the permissions or owner
// of any folder above it. A settings file under Program Files (a per-machine install) moreover
// takes only interpreters that lie, links resolved, under Program Files or Windows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A set of accounts and groups, by their security identifiers.
class Principals {
 public:
  void Add(PSID sid);
  void Add(const wchar_t* sid_text);  // "S-1-5-18"
  bool Contains(PSID sid) const;

 private:
  std::vector<std::vector<BYTE>> sids_;
};

// Administrators, SYSTEM and TrustedInstaller, with the owner of `settings` and everyone its
// access list lets change it.
Principals WritersOf(PSECURITY_DESCRIPTOR settings);

// Why someone outside `trusted` could replace an interpreter whose file and folders carry the
// descriptors `chain` (its file, its folder, and each folder above, to the drive's root; null
// where one cannot be read), named in messages by `names`; empty when nobody could.
std::wstring ReplaceableBy(const std::vector<PSECURITY_DESCRIPTOR>& chain,
                           const std::vector<std::wstring>& names, const Principals& trusted);

// The rule for one settings file, as the system says who may change it and where it lies.
class SettingsTrust {
 public:
  explicit SettingsTrust(const std::wstring& settings_path);
  // Empty when `interpreter` may enter the settings file; else why not, in a few words.
  std::wstring Refusal(const std::wstring& interpreter) const;

 private:
  Principals trusted_;
  bool per_machine_ = false;                   // the file lies under Program Files
  std::vector<std::wstring> machine_folders_;  // where a per-machine file's interpreters lie
};
