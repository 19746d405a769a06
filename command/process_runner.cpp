// The hidden child-process runner and the interpreter probe.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <boost/algorithm/string/erase.hpp>
#include <boost/algorithm/string/regex.hpp>
#include <boost/algorithm/string/replace.hpp>
#include <boost/regex.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "command/command_utils.h"
#include "common/classic_text.h"
#include "common/owners.h"
#include "common/text_encoding.h"

namespace CommandUtils {

const wchar_t kPathPrefixTemplate[] = L"__PYTHON_DIR__;__PYTHON_DIR__\\Scripts;";

namespace {

constexpr DWORD kChunk = 4095;
// What a hidden run keeps of its output: a version or a width is a few bytes.
constexpr size_t kCaptureLimit = 64 * 1024;
std::atomic<unsigned> g_pipeCounter{0};

// An inbound pipe whose read end supports waiting with a limit, and an inheritable write end
// for the child's standard output and error.
bool CreateOutputPipe(ScopedHandle* read_end, ScopedHandle* write_end) {
  wchar_t name[128];
  swprintf(name, 128, L"\\\\.\\pipe\\velmar-run-%lu-%lu-%u", GetCurrentProcessId(),
           GetCurrentThreadId(), g_pipeCounter.fetch_add(1));
  read_end->reset(CreateNamedPipeW(
      name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536, 0,
      nullptr));
  if (!read_end->valid()) return false;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  write_end->reset(
      CreateFileW(name, GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return write_end->valid();
}

std::wstring EnvironmentBlock(const EnvironmentMap& env) {
  std::wstring block;
  for (const auto& entry : env) {
    block += entry.first + L"=" + entry.second;
    block.push_back(L'\0');
  }
  if (!block.empty()) block.push_back(L'\0');
  return block;
}

enum class ReadResult { kEnded, kTimedOut, kFailed };

// Keeps the first kCaptureLimit bytes of what a child writes; the rest is read and dropped.
void Keep(std::string* output, const char* chunk, DWORD read) {
  if (output->size() < kCaptureLimit)
    output->append(chunk, std::min<size_t>(read, kCaptureLimit - output->size()));
}

LONG TimeLeft(DWORD deadline) { return static_cast<LONG>(deadline - GetTickCount()); }

// Takes what the pipe holds once the child has ended, without waiting for more: at most
// kCaptureLimit bytes, since a process the child left behind may go on writing for ever.
bool DrainPipe(HANDLE pipe, HANDLE event, std::string* output) {
  char chunk[kChunk];
  for (size_t taken = 0; taken < kCaptureLimit;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
      return GetLastError() == ERROR_BROKEN_PIPE;
    if (available == 0) return true;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    DWORD read = 0;
    if (!ReadFile(pipe, chunk, kChunk, &read, &overlapped) &&
        !GetOverlappedResult(pipe, &overlapped, &read, TRUE))
      return GetLastError() == ERROR_BROKEN_PIPE;
    Keep(output, chunk, read);
    taken += read;
  }
  return true;
}

// Reads until every writer has closed the pipe, or the child has ended: then what it wrote is
// in the pipe already, and a process it left behind may hold the write end for good. The
// deadline holds while output flows.
ReadResult ReadOutput(HANDLE pipe, HANDLE process, DWORD deadline, std::string* output) {
  ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event.valid()) return ReadResult::kFailed;
  char chunk[kChunk];
  for (;;) {
    if (TimeLeft(deadline) <= 0) return ReadResult::kTimedOut;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.get();
    DWORD read = 0;
    if (!ReadFile(pipe, chunk, kChunk, &read, &overlapped)) {
      DWORD error = GetLastError();
      if (error == ERROR_BROKEN_PIPE) return ReadResult::kEnded;
      if (error != ERROR_IO_PENDING) return ReadResult::kFailed;
      HANDLE waits[2] = {event.get(), process};
      LONG left = TimeLeft(deadline);
      DWORD wait = WaitForMultipleObjects(2, waits, FALSE, left > 0 ? left : 0);
      if (wait != WAIT_OBJECT_0) {
        CancelIo(pipe);
        bool completed = GetOverlappedResult(pipe, &overlapped, &read, TRUE) != FALSE;
        if (wait != WAIT_OBJECT_0 + 1) return ReadResult::kTimedOut;
        if (completed) Keep(output, chunk, read);
        return DrainPipe(pipe, event.get(), output) ? ReadResult::kEnded : ReadResult::kFailed;
      }
      if (!GetOverlappedResult(pipe, &overlapped, &read, FALSE))
        return GetLastError() == ERROR_BROKEN_PIPE ? ReadResult::kEnded : ReadResult::kFailed;
    }
    Keep(output, chunk, read);
  }
}

// The attribute list that lets the child inherit exactly the given handles.
class InheritList {
 public:
  explicit InheritList(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    buffer_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
    initialized_ = size != 0 && InitializeProcThreadAttributeList(list, 1, 0, &size) != FALSE;
    ready_ = initialized_ &&
             UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                       handles_.size() * sizeof(HANDLE), nullptr, nullptr);
  }
  ~InheritList() {
    if (initialized_)
      DeleteProcThreadAttributeList(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data()));
  }
  InheritList(const InheritList&) = delete;
  InheritList& operator=(const InheritList&) = delete;
  LPPROC_THREAD_ATTRIBUTE_LIST get() {
    return ready_ ? reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data()) : nullptr;
  }

 private:
  std::vector<HANDLE> handles_;
  std::vector<char> buffer_;
  bool ready_ = false, initialized_ = false;
};

}  // namespace

std::wstring dir_name(const std::wstring& path) {
  size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

std::wstring python_path_prefix(const std::wstring& interpreter) {
  return boost::algorithm::replace_all_copy(std::wstring(kPathPrefixTemplate), L"__PYTHON_DIR__",
                                            dir_name(interpreter));
}

bool is_full_path(const std::wstring& path) {
  auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (path.size() >= 3 &&
      ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
      path[1] == L':' && separator(path[2]))
    return true;
  if (path.size() < 5 || !separator(path[0]) || !separator(path[1])) return false;
  size_t server_end = path.find_first_of(L"\\/", 2);
  if (server_end == std::wstring::npos || server_end == 2) return false;
  size_t share_end = path.find_first_of(L"\\/", server_end + 1);
  return share_end != std::wstring::npos && share_end > server_end + 1;
}

std::wstring final_path(const std::wstring& path) {
  ScopedHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return L"";
  std::wstring final(32768, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file.get(), &final[0], 32768, VOLUME_NAME_DOS);
  if (length == 0 || length >= 32768) return L"";
  final.resize(length);
  if (final.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + final.substr(7);
  if (final.compare(0, 4, L"\\\\?\\") == 0) return final.substr(4);
  return final;
}

bool get_environment(EnvironmentMap& env) {
  wchar_t* block = GetEnvironmentStringsW();
  if (!block) {
    std::printf("GetEnvironmentStrings failed (%lu)\n", GetLastError());
    return false;
  }
  env.clear();
  for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
    const wchar_t* equals = wcschr(entry, L'=');
    if (!equals || equals == entry) continue;  // "=C:=C:\" and the like
    env[UpperCopy(std::wstring(entry, equals))] = equals + 1;
  }
  FreeEnvironmentStringsW(block);
  return true;
}

bool get_variable(const wchar_t* name, std::wstring& value) {
  value.clear();
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  value.assign(size, L'\0');
  DWORD length = GetEnvironmentVariableW(name, &value[0], size);
  value.resize(length < size ? length : 0);
  return true;
}

bool run_process(std::wstring command_line, const EnvironmentMap& env, const std::wstring& work_dir,
                 std::string* output, DWORD& exit_code, DWORD timeout_ms) {
  ScopedHandle read_end, write_end;
  if (!CreateOutputPipe(&read_end, &write_end)) return false;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  ScopedHandle null_input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inherit, OPEN_EXISTING, 0, nullptr));
  // Everything the child starts belongs to the job, and ends with it.
  ScopedHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job.valid()) return false;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));

  // Nothing of the host's own start-up information, and of its handles only the pipe's.
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdInput = null_input.valid() ? null_input.get() : nullptr;
  startup.StartupInfo.hStdOutput = write_end.get();
  startup.StartupInfo.hStdError = write_end.get();
  std::vector<HANDLE> inherited = {write_end.get()};
  if (null_input.valid()) inherited.push_back(null_input.get());
  InheritList inherit_only(inherited);
  startup.lpAttributeList = inherit_only.get();
  std::wstring block = EnvironmentBlock(env);
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessW(
      nullptr, &command_line[0], nullptr, nullptr, TRUE,
      CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED |
          (startup.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0),
      block.empty() ? nullptr : &block[0], work_dir.empty() ? nullptr : work_dir.c_str(),
      &startup.StartupInfo, &process);
  write_end.reset();  // the pipe ends once the child and its children have closed theirs
  null_input.reset();
  if (!started) return false;
  ScopedHandle process_handle(process.hProcess), thread_handle(process.hThread);
  // Outside the job (the host may already be in one that forbids it) only the child itself can
  // be ended.
  const bool in_job = AssignProcessToJobObject(job.get(), process.hProcess) != FALSE;
  auto end_all = [&](UINT code) {
    if (!in_job || !TerminateJobObject(job.get(), code)) TerminateProcess(process.hProcess, code);
  };
  ResumeThread(process.hThread);

  const DWORD deadline = GetTickCount() + timeout_ms;
  std::string collected;
  ReadResult result = ReadOutput(read_end.get(), process.hProcess, deadline, &collected);
  if (result == ReadResult::kEnded) {
    LONG left = TimeLeft(deadline);
    if (WaitForSingleObject(process.hProcess, left > 0 ? left : 0) != WAIT_OBJECT_0)
      result = ReadResult::kTimedOut;
  }
  if (result != ReadResult::kEnded) {
    end_all(1);
    return false;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process.hProcess, &code)) return false;
  if (in_job) TerminateJobObject(job.get(), 0);  // whatever the child left running
  exit_code = code;
  if (output) *output = std::move(collected);
  return true;
}

bool probe_python(const std::wstring& interpreter, std::wstring& version, std::wstring& bits,
                  DWORD timeout_ms) {
  const std::wstring folder = dir_name(interpreter);
  EnvironmentMap env;
  get_environment(env);
  env[L"PATH"] = python_path_prefix(interpreter);
  const std::wstring quoted = L"\"" + interpreter + L"\"";

  std::string output;
  DWORD exit_code = 0;
  if (!run_process(quoted + L" --version", env, folder, &output, exit_code, timeout_ms))
    return false;
  // A launcher stub that cannot run Python (the Store alias) says so and fails: no version.
  // Its first line that is not blank, without the word Python; whatever follows (warnings) is
  // not the version.
  if (exit_code == 0) {
    std::wstring text;
    for (size_t start = 0; text.empty() && start < output.size();) {
      size_t end = output.find_first_of("\r\n", start);
      if (end == std::string::npos) end = output.size();
      text = TrimCopy(to_wide(output.substr(start, end - start), CP_ACP));
      start = end + 1;
    }
    regex_erase_all(text, L"^Python|^python");
    version = TrimCopy(text).substr(0, kPromptPartLimit);
  }

  if (!run_process(quoted + L" -c \"import struct;import sys;sys.exit(8*struct.calcsize('P'))\"",
                   env, folder, nullptr, exit_code, timeout_ms))
    return false;
  if (exit_code != 32 && exit_code != 64) return false;
  char number[10];
  std::snprintf(number, sizeof(number), "%d", static_cast<int>(exit_code));
  bits = to_wide(number, CP_ACP);
  return true;
}

}  // namespace CommandUtils

bool regex_erase_all(std::wstring& text, const std::wstring& pattern) {
  // Boost.Regex reports a pattern it cannot run (or text too complex for it) by throwing; inside
  // Explorer that must end here, with the text left as it was.
  try {
    std::wstring result = boost::algorithm::erase_all_regex_copy(
        text, boost::wregex(pattern, boost::regex::perl | boost::regex::icase));
    text.swap(result);
  } catch (const std::exception&) {
  }
  return true;
}
