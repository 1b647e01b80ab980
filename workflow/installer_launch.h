// The downloaded installer on disk and its start, on the check thread. The
// platform's process start is passed in: the one seam through which a test
// can answer "elevation required", which no real launch under test produces.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <memory>
#include <string>

#include "http/http_request.h"
#include "platform/unique_handle.h"
#include "workflow/program_header.h"
#include "workflow/release_statement.h"

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

// A SHA-256's size.
inline constexpr std::size_t kDigestSize = 32;

// SHA-256 over bytes given piece by piece, with the platform's CNG from the
// system folder's bcrypt.dll. Any failure is false, and the digest is then
// begun again or given up.
class Sha256Digest {
 public:
  Sha256Digest();
  ~Sha256Digest();
  Sha256Digest(const Sha256Digest&) = delete;
  Sha256Digest& operator=(const Sha256Digest&) = delete;

  // False when CNG cannot be had.
  bool Begin();
  bool Add(const void* data, DWORD size);
  // The digest of everything added since Begin.
  bool Finish(std::uint8_t (&digest)[kDigestSize]);

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

// SHA-256 of everything `file` holds from where it stands, read a piece at
// a time whatever its size.
bool HashFile(HANDLE file, std::uint8_t (&digest)[kDigestSize]);

// True when the detached signature beside `installerUrl` (SignatureUrl),
// fetched as the installer was, with the same pin and no redirect followed,
// is `key`'s (the publisher's, see publisher_key.h) over `digest`, the
// installer's SHA-256. Any failure, of the fetch, the signature's form, the
// platform's verifier or the match, is false; nothing is shown.
bool InstallerSignedByPublisher(const std::string& installerUrl, BOOL pinCertificate,
                                const std::uint8_t (&digest)[kDigestSize],
                                const std::uint8_t* key);

// True when the release statement beside `installerUrl` (".release") and
// its signature (".release.sig") came as whole 200s, fetched as the
// installer was, and the signature is `key`'s over the statement's bytes,
// which are then read into `statement`. Anything else is false: no
// statement.
bool FetchReleaseStatement(const std::string& installerUrl, BOOL pinCertificate,
                           const std::uint8_t* key, ReleaseStatement& statement);

// The most an installer's Content-Length may declare (MAX_INSTALLER_BYTES
// when the tree is configured), and the room that must stay free on the
// profile's volume once it is saved.
inline constexpr std::uint64_t kMaxInstallerBytes = TAVRIN_MAX_INSTALLER_BYTES;
inline constexpr std::uint64_t kFreeSpaceMargin = 64ull * 1024 * 1024;

// The body of a 200 on its way to becoming the installer: a fresh temporary
// file in InstallerFolder that takes the body as it arrives and its SHA-256
// with it. Refused before its first byte when it cannot be an installer: a
// length above kMaxInstallerBytes or above the volume's free space less
// kFreeSpaceMargin; and, in an exe with the publisher's key, a release
// statement that does not allow it. Renamed to the installer name only once
// it is checked whole, and then held open against writes until it starts.
// Lives on the check thread for one request; whatever of it exists on disk
// is deleted when it goes. A process that ends in the middle (killed, or
// "Terminate") leaves a partial temporary file, which the next download
// removes with the other leftovers.
class InstallerFile : public IHttpBodySink {
 public:
  // The body comes from `url`, asked with `pinCertificate`; what lies beside
  // it is asked the same way.
  InstallerFile(const std::string& url, BOOL pinCertificate);
  ~InstallerFile();
  InstallerFile(const InstallerFile&) = delete;
  InstallerFile& operator=(const InstallerFile&) = delete;

  // Makes the folder and the temporary file, after removing leftovers; with
  // the publisher's key, fetches and applies the release statement first.
  bool BeginBody(DWORD length) override;
  bool TakeBody(const void* data, DWORD size) override;

  // Once the whole body was taken: closes its file and finishes its digest;
  // with the publisher's key, true only when the digest is the one the
  // statement accepted by BeginBody names or, where none was, the detached
  // signature's. Under its temporary name all the while.
  bool CheckBody();
  // After CheckBody: renames the file to the installer name, opens it again
  // into `held`, shared for reading only, and compares what it holds with
  // the digest of what was taken. False, with the file deleted, when any
  // step fails or another process changed a byte in between.
  bool Finish(UniqueFileHandle& held);
  // The installer's path once Finish succeeded.
  const std::wstring& InstallerPath() const noexcept { return m_installerName; }
  // The statement the body came under, or null.
  const ReleaseStatement* Statement() const noexcept {
    return m_hasStatement ? &m_statement : nullptr;
  }
  // True when a step on disk failed (folder, name, create, write, digest,
  // the held file): the download ends silently, whatever the request
  // reports. A body refused for what it is, or for its length, is no
  // failure of ours.
  bool Failed() const noexcept { return m_failed; }
  // True when the body taken so far is a Windows program (program_header.h).
  bool HoldsWindowsProgram() const noexcept { return m_header.IsWindowsProgram(); }
  // Closes and deletes whatever exists of the two names.
  void Discard();

 private:
  // True when the statement beside the body allows it, or when no
  // statement was ever accepted and none is offered.
  bool ReleaseAllows(DWORD length, const std::uint8_t* key);

  std::string m_url;
  BOOL m_pinCertificate;
  std::wstring m_temporaryName;
  std::wstring m_installerName;
  UniqueFileHandle m_hFile;
  ProgramHeaderScan m_header;
  Sha256Digest m_digest;
  std::uint8_t m_bodyDigest[kDigestSize] = {};
  ReleaseStatement m_statement;
  bool m_hasStatement = false;
  bool m_failed = false;
};
