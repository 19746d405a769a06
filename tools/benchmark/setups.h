// The settings and the right-clicked file a benchmark run uses: how many interpreters, whether
// the folder's own environment is looked for, and where the file lies.
#pragma once

#include <string>

#include "tools/explorer/module_copy.h"
#include "tools/explorer/temp_dir.h"

struct Setup {
  int interpreters = 10;
  bool project_env = true;  // as shipped
  bool with_icons = true;   // interpreters whose files carry an icon, else files without any
  enum Place { kPlain, kInProject, kDeep } place = kPlain;  // kDeep: 20 folders down
  bool cold = false;  // no menu bitmaps saved by an earlier process, as after installing

  // "--interpreters=N", "--no-project-env", "--no-icons", "--in-project", "--deep", "--cold";
  // false for anything else.
  bool Read(const std::wstring& argument);
  std::string Describe() const;
  // The items of our submenu: the project's, the interpreters', the companion's.
  int SubmenuItems() const;
};

// The files of a setup in a folder of their own: the right-clicked file, a project's .venv when
// asked. The interpreter programs (distinct paths, each carrying an icon, unless without) stay
// from run to run, as a user's interpreters do, in one folder under %TEMP%.
class SetupFiles {
 public:
  explicit SetupFiles(const Setup& setup, int first_program = 0);
  // The settings, with the given offset into this run's distinct programs.
  std::string Settings(int first_program = 0) const;
  const std::wstring& file() const { return file_; }
  const std::wstring& folder() const { return folder_.path(); }

  // Makes `count` programs more, numbered from those already there.
  void AddPrograms(int count);

 private:
  Setup setup_;
  TempDir folder_;
  int programs_ = 0;
  std::wstring file_;
};
