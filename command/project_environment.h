// The environment a project keeps beside its code, found by name in the folder a console starts
// in and the folders above it, and read from its files: nothing in it runs before it is chosen.
#pragma once

#include <string>

struct ProjectEnvironment {
  std::wstring interpreter;  // its python.exe
  std::wstring found_as;     // the environment's folder from the start folder: ".venv", "..\env"
  std::wstring version;      // as its record says
  std::wstring bits;         // "64" or "32", from the executable's header
  std::wstring name;         // for the prompt: pyvenv.cfg's prompt, else the folder's name
  std::wstring path_prefix;  // the folders first on PATH, each followed by ';'
};

// The folders a project keeps its environment in, by name, in the order they are looked for;
// then pixi's default environment in kPixiEnvironments.
inline constexpr const wchar_t* kProjectEnvironmentFolders[] = {L".venv", L"venv", L"env",
                                                                L".conda"};
constexpr wchar_t kPixiFolder[] = L".pixi";
constexpr wchar_t kPixiEnvironments[] = L".pixi\\envs";

// What an environment folder may be: a virtual environment (pyvenv.cfg beside
// Scripts\python.exe) or a conda prefix (conda-meta\ beside python.exe).
constexpr int kVirtualEnvironment = 1, kCondaPrefix = 2, kAnyEnvironment = 3;

// The interpreter of `folder` when it is an environment of the `kinds` asked; else empty.
std::wstring EnvironmentInterpreter(const std::wstring& folder, int kinds = kAnyEnvironment);

// How many folders above the start folder are looked in.
constexpr int kProjectLevelsUp = 3;

// The nearest environment named .venv, venv, env, .conda or .pixi\envs\default (in that order)
// in `start_folder` or up to kProjectLevelsUp folders above it, short of a drive's root; nothing
// on a network path. A folder of that name is an environment when it holds pyvenv.cfg and
// Scripts\python.exe, or conda-meta\ and python.exe. False when there is none, or when the
// nearest records no version or holds no program (logged).
bool FindProjectEnvironment(const std::wstring& start_folder, ProjectEnvironment* found);
