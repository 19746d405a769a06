// Where Python tools' own settings files move their environments.
#pragma once

#include <string>
#include <vector>

// The `envs_dirs:` list of a .condarc's lines (YAML: a block list or a flow list [a, b], plain,
// 'single' or "double" quoted), as written: `~` and %VARIABLES% are the caller's.
std::vector<std::wstring> CondarcEnvsDirs(const std::vector<std::wstring>& lines);

// `virtualenvs.path` of Poetry's config.toml lines (a `path` key in the [virtualenvs] table, or
// a dotted `virtualenvs.path` key before any table); empty when it is not set.
std::wstring PoetryVirtualenvsPath(const std::vector<std::wstring>& lines);
