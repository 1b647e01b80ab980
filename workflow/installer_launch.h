// The downloaded installer on disk and its start, on the check thread. The
// platform's process start is passed in: the one seam through which a test
// can answer "elevation required", which no real launch under test produces.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

#include "http/http_request.h"
#include "platform/unique_handle.h"
#include "workflow/program_header.h"

using ShellExecuteFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);

// Security software and search indexers open a fresh file for a moment. A
// step on the saved installer (its rename, its open for the signature check,
// its start) that fails because of them is tried again, every kHeldPollMs
// for kHeldRetryMs; nothing else is retried.
inline constexpr ULONGLONG kHeldRetryMs = 2000;
inline constexpr DWORD kHeldPollMs = 100;

inline bool HeldByAnotherProcess(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

// Runs `step` until it succeeds, fails for another reason, or the time is
// up. The thread's last error is the last attempt's.
template <class Step>
bool RetryWhileHeld(Step step) {
  const ULONGLONG deadline = ::GetTickCount64() + kHeldRetryMs;
  for (;;) {
    if (step()) return true;
    const DWORD error = ::GetLastError();
    if (!HeldByAnotherProcess(error) || ::GetTickCount64() >= deadline) {
      ::SetLastError(error);
      return false;
    }
    ::Sleep(kHeldPollMs);
  }
}

// Starts `path` without arguments, verb "open"; only when that fails with
// ERROR_ELEVATION_REQUIRED, once more with "runas" (the platform asks the
// user for consent). A start that fails because another process holds the
// file is tried again for about two seconds. The calling thread is in a
// single-threaded apartment for the start, as the shell asks, and has left
// it again when this returns: a thread that keeps one owns a window that
// programs broadcasting with SendMessage wait for. True when started;
// `process` then holds the process, or nothing when the platform handed none
// out. Failures show no message. `window`, visible and in front while the
// start runs, owns what the platform shows for it: the consent prompt then
// comes up in front instead of flashing in the taskbar.
bool LaunchInstaller(const std::wstring& path, HWND window, UniqueKernelHandle& process,
                     ShellExecuteFunction execute = &::ShellExecuteExW);

// The user's profile folder followed by "\tavrin\brenlo"; the temporary-files
// folder stands in for the profile when it cannot be found. Empty when
// neither can.
std::wstring InstallerFolder();

// Deletes the files of earlier downloads in `folder` that nothing holds open
// any more, such as an installer left behind when the updater ended while it
// ran. Files that are still in use, and files of any other name, stay.
void RemoveInstallerLeftovers(const std::wstring& folder);

// True when the installer saved at `path` is signed with `key` (the
// publisher's, see publisher_key.h): the signature is fetched from beside
// `installerUrl` (SignatureUrl) as the installer was, with the same pin and
// no redirect followed, and checked against every byte of the file. On
// success `held` keeps the file open against writes and deletion, so that
// what starts is what was checked. Any failure, of the fetch, the signature's
// form, the platform's verifier or the match, is false; nothing is shown.
bool InstallerSignedByPublisher(const std::string& installerUrl, BOOL pinCertificate,
                                const std::wstring& path, const std::uint8_t* key,
                                UniqueFileHandle& held);

// The body of a 200 on its way to becoming the installer: a fresh temporary
// file in InstallerFolder that takes the body as it arrives, then renamed to
// the installer name. Lives on the check thread for one request; whatever of
// it exists on disk is deleted when it goes. A process that ends in the
// middle (killed, or "Terminate") leaves a partial temporary file, which the
// next download removes with the other leftovers.
class InstallerFile : public IHttpBodySink {
 public:
  InstallerFile() = default;
  ~InstallerFile() { Discard(); }
  InstallerFile(const InstallerFile&) = delete;
  InstallerFile& operator=(const InstallerFile&) = delete;

  // Makes the folder and the temporary file, after removing leftovers.
  bool BeginBody(DWORD length) override;
  bool TakeBody(const void* data, DWORD size) override;

  // Closes the whole body's file and renames it to the installer name. False,
  // with the file deleted, when either fails.
  bool Finish();
  // The installer's path once Finish succeeded.
  const std::wstring& InstallerPath() const noexcept { return m_installerName; }
  // True when a step on disk failed (folder, name, create, write): the
  // download ends silently, whatever the request reports.
  bool Failed() const noexcept { return m_failed; }
  // True when the body taken so far is a Windows program (program_header.h).
  bool HoldsWindowsProgram() const noexcept { return m_header.IsWindowsProgram(); }
  // Closes and deletes whatever exists of the two names.
  void Discard();

 private:
  std::wstring m_temporaryName;
  std::wstring m_installerName;
  UniqueFileHandle m_hFile;
  ProgramHeaderScan m_header;
  bool m_failed = false;
};
