#include "tests/support/run_raw.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

namespace {

// Case-insensitive name order, as Windows keeps its environment blocks.
struct NameLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
  }
};

std::wstring EnvironmentBlock(const std::vector<std::wstring>& overrides) {
  std::map<std::wstring, std::wstring, NameLess> vars;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
      const std::wstring entry(p);
      const size_t eq = entry.find(L'=', 1);  // "=C:=C:\..." entries start with '='
      if (eq != std::wstring::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    FreeEnvironmentStringsW(block);
  }
  for (const std::wstring& entry : overrides) {
    const size_t eq = entry.find(L'=');
    if (eq == std::wstring::npos) continue;
    const std::wstring name = entry.substr(0, eq), value = entry.substr(eq + 1);
    if (value.empty()) {
      vars.erase(name);
    } else {
      vars[name] = value;
    }
  }
  std::wstring block;
  for (const auto& [name, value] : vars) {
    block += name + L"=" + value;
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

}  // namespace

RawProcess::RawProcess(const std::wstring& commandLine,
                       const std::vector<std::wstring>& environment) {
  std::wstring block = EnvironmentBlock(environment);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // Under load, Wine now and then fails a start with ERROR_INTERNAL_ERROR
  // before the new process has run anything; such a start is tried again.
  for (int attempt = 0;; ++attempt) {
    std::wstring mutableLine = commandLine;  // CreateProcessW may write into it
    if (CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE,
                       CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &startup, &process))
      break;
    m_error = GetLastError();
    if (m_error != ERROR_INTERNAL_ERROR || attempt == 2) return;
    Sleep(200);
  }
  m_error = 0;
  CloseHandle(process.hThread);
  m_process = process.hProcess;
  m_id = process.dwProcessId;
}

RawProcess::~RawProcess() {
  if (!m_process) return;
  Kill();
  CloseHandle(m_process);
}

bool RawProcess::Wait(DWORD timeoutMs, DWORD& exitCode) {
  if (!m_process || WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(m_process, &exitCode) != FALSE;
}

void RawProcess::Kill() {
  if (m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
    TerminateProcess(m_process, 0xDEAD);
    WaitForSingleObject(m_process, 5000);
  }
}

RunResult RunRaw(const std::wstring& commandLine, DWORD timeoutMs,
                 const std::vector<std::wstring>& environment) {
  RunResult result;
  RawProcess process(commandLine, environment);
  result.started = process.Started();
  result.error = process.Error();
  if (!result.started) return result;
  result.finished = process.Wait(timeoutMs, result.exitCode);
  if (!result.finished) {
    process.Kill();
    process.Wait(0, result.exitCode);
  }
  return result;
}

std::string FileBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::wstring PathBesideMe(const wchar_t* fileName) {
  wchar_t own[MAX_PATH * 4] = {};
  const DWORD length = GetModuleFileNameW(nullptr, own, static_cast<DWORD>(std::size(own)));
  std::wstring path(own, length);
  const size_t slash = path.find_last_of(L"\\/");
  path.resize(slash == std::wstring::npos ? 0 : slash + 1);
  return path + fileName;
}

std::wstring ProgramPath() { return PathBesideMe(L"tavrin-corvel.exe"); }

std::wstring ProgramCommand(const std::wstring& tail) {
  return L"\"" + ProgramPath() + L"\" " + tail;
}
