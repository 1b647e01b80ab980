// Starting a program from a raw command line and reading its full 32-bit exit
// code, for the Windows tests (Wine hands the shell only the low 8 bits).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RunResult {
  bool started = false;   // CreateProcessW succeeded
  bool finished = false;  // ended within the time-out (otherwise it was killed)
  DWORD exitCode = 0;     // the whole 32-bit code; -2 reads as 0xFFFFFFFE
  DWORD error = 0;        // GetLastError of a failed start
};

// Starts `commandLine` exactly as given (no quoting is added), with the
// environment of this process plus `environment` ("NAME=value" entries that
// override or add; "NAME=" removes), waits at most `timeoutMs` and kills the
// process when it has not ended by then.
RunResult RunRaw(const std::wstring& commandLine, DWORD timeoutMs = 30000,
                 const std::vector<std::wstring>& environment = {});

// A program started from a raw command line, as RunRaw starts it, for a
// caller that works with it while it runs. Killed when the object goes while
// the program still runs.
class RawProcess {
 public:
  explicit RawProcess(const std::wstring& commandLine,
                      const std::vector<std::wstring>& environment = {});
  ~RawProcess();
  RawProcess(const RawProcess&) = delete;
  RawProcess& operator=(const RawProcess&) = delete;

  bool Started() const { return m_process != nullptr; }
  DWORD Error() const { return m_error; }  // GetLastError of a failed start
  DWORD Id() const { return m_id; }
  // True, with the whole 32-bit exit code, when it has ended within `timeoutMs`.
  bool Wait(DWORD timeoutMs, DWORD& exitCode);
  // Kills it (exit code 0xDEAD) when it still runs.
  void Kill();

 private:
  HANDLE m_process = nullptr;
  DWORD m_id = 0;
  DWORD m_error = 0;
};

// The whole content of the file at `path`; empty when it cannot be read.
std::string FileBytes(const std::wstring& path);

// Full path of a program that lies in the same folder as this executable.
std::wstring PathBesideMe(const wchar_t* fileName);

// The program under test, tavrin-corvel.exe, beside this executable.
std::wstring ProgramPath();

// `"<ProgramPath()>"` followed by a blank and `tail` (tail as given).
std::wstring ProgramCommand(const std::wstring& tail);
