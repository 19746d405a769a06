// What Detect's sources add to, and the sources themselves (companion/detect.cpp and
// companion/detect_folders.cpp).
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "companion/detect.h"
#include "command/project_environment.h"
#include "companion/folder_walk.h"

struct FoundInterpreter {
  std::wstring path;        // as the source spelt it
  std::wstring executable;  // the file its version resource and header are read from
  std::wstring version;     // what the source says, if anything
  std::wstring fallback;    // taken only when the files record no version
};

// One interpreter per folder: a folder found again under another name (a link, a junction,
// other letter case, a doubled or trailing \) keeps its first spelling.
class FoundInterpreters {
 public:
  explicit FoundInterpreters(const std::wstring& program_files) : program_files_(program_files) {}
  // `path` when it exists and its folder is new. A Store alias is kept only when its package
  // is found (its own file has no version and no header).
  void Add(const std::wstring& path, const std::wstring& version = L"",
           const std::wstring& fallback = L"");
  const std::vector<FoundInterpreter>& all() const { return found_; }

 private:
  std::wstring program_files_;
  std::set<Identity> folders_;
  std::set<std::wstring> folder_names_;  // where the system gives no identity
  std::vector<FoundInterpreter> found_;
};

// The interpreter of `folder` when it is an environment, from what the folder was seen to hold
// (EnvironmentInterpreter in command/project_environment.h asks the system).
std::wstring EnvironmentInterpreter(const std::wstring& folder, const Listing& holds);

void FromConda(const Sources& sources, FoundInterpreters* found);
void FromTools(const Sources& sources, FoundInterpreters* found);
void FromStartFolder(const std::wstring& start, FoundInterpreters* found);
