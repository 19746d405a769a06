// Running an interpreter hidden, recognising its virtual environment and starting a console.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// Variable name (upper-cased) to value, in ordinal order of the names.
typedef std::map<std::wstring, std::wstring> EnvironmentMap;

namespace CommandUtils {

// The interpreter's folder and its Scripts folder, each followed by a semicolon.
extern const wchar_t kPathPrefixTemplate[];
// How long one hidden run may take before it and everything it started are ended.
constexpr DWORD kRunTimeoutMs = 10000;

// The text before the last backslash or slash; empty when there is none.
std::wstring dir_name(const std::wstring& path);
// The text after the last backslash or slash; the whole text when there is none.
std::wstring base_name(const std::wstring& path);
std::wstring python_path_prefix(const std::wstring& interpreter);
// A path that names one file whatever the current folder and drive: X:\... or \\server\share\...
bool is_full_path(const std::wstring& path);
// The path with links, junctions, short names and ".." resolved, as X:\... or
// \\server\share\...; empty when the file or folder cannot be opened.
std::wstring final_path(const std::wstring& path);

bool get_environment(EnvironmentMap& env);
// One variable of this process; false (and `value` empty) when it is not set.
bool get_variable(const wchar_t* name, std::wstring& value);

// Runs `command_line` hidden, with the null device as input and standard output and error
// captured together, in `work_dir` (the caller's folder when empty), with `env` (inherited when
// empty). False when it could not start, or did not end within `timeout_ms`: then the child and
// every process it started are ended, and no out-parameter is written.
bool run_process(std::wstring command_line, const EnvironmentMap& env, const std::wstring& work_dir,
                 std::string* output, DWORD& exit_code, DWORD timeout_ms = kRunTimeoutMs);

// Asks the interpreter for its version text and pointer width ("32" or "64"). Each stays empty
// when its run gives no answer.
bool probe_python(const std::wstring& interpreter, std::wstring& version, std::wstring& bits,
                  DWORD timeout_ms = kRunTimeoutMs);

// The value of `key` in a pyvenv.cfg text ("key = value" lines, key in any letter case), with
// one pair of matching quotes removed; false when the key is absent.
bool pyvenv_value(const std::wstring& text, const std::wstring& key, std::wstring& value);

// The name of the virtual environment the interpreter belongs to: the "prompt" of its
// pyvenv.cfg, else the environment folder's name; without a pyvenv.cfg, the first prompt
// definition of the activate.bat beside the interpreter.
bool get_venv_prompt(const std::wstring& interpreter, std::wstring& prompt);

// Escapes what cmd would read as an operator (^ & | < >) and what PROMPT reads as a code ($).
std::wstring escape_prompt_part(const std::wstring& text);

// Longest environment name or version shown in a prompt.
constexpr size_t kPromptPartLimit = 64;
// Cuts the text at kPromptPartLimit characters and replaces with '_' what a caret cannot
// neutralise: cmd's % " ! and control characters, and Windows Terminal's ; when `terminal`.
std::wstring neutralize_prompt_part(const std::wstring& text, bool terminal);
// Whether the command template's program is Windows Terminal (wt.exe).
bool starts_windows_terminal(const std::wstring& command_template);

// A console cannot start in a folder longer than this (the limit of a current folder).
constexpr size_t kStartFolderLimit = 258;

// Expands the command template with the prompt command and starts it in `start_folder` (the
// interpreter's folder when empty), in an environment of its own: the host's, with
// `path_prefix` (the interpreter's folders, each followed by ';') first on PATH (and as
// PYTHON_PATH when the host has that variable) and NoDefaultCurrentDirectoryInExePath set. The
// host's environment is left alone.
bool open_console(const std::wstring& interpreter, const std::wstring& command_template,
                  const std::wstring& start_folder, const std::wstring& prompt_text,
                  const std::wstring& path_prefix);

// The program (first element by the platform's rules, unquoted) and the rest of the line as
// written, quotes kept.
bool split_command_line(const std::wstring& command_line, std::wstring& program,
                        std::wstring& arguments);

}  // namespace CommandUtils

bool regex_erase_all(std::wstring& text, const std::wstring& pattern);
std::vector<std::wstring> regex_find_all(const std::wstring& text, std::wstring pattern);
bool file_exists(const std::wstring& path);
// The whole file; false when it cannot be read completely.
bool read_file(const std::wstring& path, std::string& content);
// UTF-8 when the bytes are valid UTF-8, else the ANSI code page.
std::wstring decode_text(const std::string& bytes);
