// The 200 answer: the body is the installer. It is written under a fresh
// name in the user's profile as it arrives, hashed on the way, started when
// it is a Windows program (elevated when the platform demands it) and, in an
// exe with the publisher's key, the publisher's; waited for and deleted, all
// on the check thread inside Send. Every path is wide: a profile folder
// named outside the ANSI code page must not turn into a look-alike folder.
#include <windows.h>
#include <shlobj.h>
#include <userenv.h>

#include <cstring>
#include <vector>

#include "app/globals.h"
#include "platform/com.h"
#include "settings/settings.h"
#include "workflow/installer_file_name.h"
#include "workflow/installer_launch.h"
#include "workflow/main_dialog.h"
#include "workflow/publisher_key.h"

namespace {

// No error box of the platform's: a launch that fails (a program the
// platform cannot start, a refused elevation) ends the run silently, and a
// box would block the check thread until someone dismissed it. The start is
// over when the call returns: the apartment it ran in is left right after.
constexpr ULONG kLaunchMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;

// ERROR_ELEVATION_REQUIRED, which not every SDK names.
constexpr DWORD kElevationRequired = 740;

// Waits for `process` to end. Messages sent to a window of this thread are
// answered meanwhile: a program that broadcasts with SendMessage waits for
// every top-level window, and the installer must never wait for us.
void WaitAnsweringSentMessages(HANDLE process) {
  HANDLE handles[] = {process};
  for (;;) {
    const DWORD woken = ::MsgWaitForMultipleObjects(1, handles, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woken != WAIT_OBJECT_0 + 1) return;  // ended, or a failure that no wait would mend
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

bool LaunchInstaller(const std::wstring& path, HWND window, UniqueKernelHandle& process,
                     ShellExecuteFunction execute) {
  // The platform may write into the file text it is given: a copy.
  std::vector<wchar_t> file(path.begin(), path.end());
  file.push_back(L'\0');
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = kLaunchMask;
  info.hwnd = window;
  info.lpVerb = L"open";
  info.lpFile = file.data();
  info.lpParameters = L"";
  info.nShow = SW_SHOW;
  bool started = false;
  {
    // The shell's start may hand the file to a shell extension.
    const ScopedComApartment com;
    started = RetryWhileHeld([&] { return execute(&info) != FALSE; });
    if (!started && ::GetLastError() == kElevationRequired) {
      info.lpVerb = L"runas";
      info.hProcess = nullptr;
      started = execute(&info) != FALSE;
    }
  }
  process.Reset(started ? info.hProcess : nullptr);
  return started;
}

std::wstring InstallerFolder() {
  wchar_t base[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  UniqueKernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive()) ||
      !::GetUserProfileDirectoryW(token.Get(), base, &size)) {
    // Ends with a backslash; the doubled one that follows is accepted.
    const DWORD length = ::GetTempPathW(MAX_PATH, base);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
  }
  return std::wstring(base) + L"\\tavrin\\brenlo";
}

void RemoveInstallerLeftovers(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  const UniqueFindHandle search(::FindFirstFileW((folder + L"\\dex*").c_str(), &found));
  if (!search) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!IsInstallerFileName(std::wstring_view(found.cFileName))) continue;
    // Fails, and leaves the file, while a running installer holds it.
    ::DeleteFileW((folder + L"\\" + found.cFileName).c_str());
  } while (::FindNextFileW(search.Get(), &found));
}

InstallerFile::InstallerFile(const std::string& url, BOOL pinCertificate)
    : m_url(url), m_pinCertificate(pinCertificate) {}

InstallerFile::~InstallerFile() { Discard(); }

bool InstallerFile::BeginBody(DWORD length) {
  // No disk is touched for a body that cannot be an installer; refusing it
  // is no failure of ours.
  m_failed = false;
  if (length > kMaxInstallerBytes) return false;
  m_failed = true;  // until the file is open
  const std::wstring folder = InstallerFolder();
  if (folder.empty()) return false;
  ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);  // may exist already
  RemoveInstallerLeftovers(folder);

  wchar_t temporaryName[MAX_PATH] = {};
  const std::wstring prefix(kInstallerTempPrefix,
                            kInstallerTempPrefix + sizeof kInstallerTempPrefix - 1);
  if (!::GetTempFileNameW(folder.c_str(), prefix.c_str(), 0, temporaryName)) return false;
  m_temporaryName = temporaryName;
  m_installerName = InstallerName(std::wstring_view(m_temporaryName));

  m_hFile.Reset(::CreateFileW(temporaryName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              0, nullptr));
  if (!m_hFile || !m_digest.Begin()) {
    Discard();
    return false;
  }
  m_failed = false;
  // A volume whose free space cannot be read is written to all the same: a
  // write that fails is a failure then.
  ULARGE_INTEGER available = {};
  const bool full = ::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) &&
                    (available.QuadPart < kFreeSpaceMargin ||
                     length > available.QuadPart - kFreeSpaceMargin);
  const std::uint8_t* key = PublisherKey();
  if (full || (key != nullptr && !ReleaseAllows(length, key))) {
    Discard();
    return false;
  }
  return true;
}

bool InstallerFile::ReleaseAllows(DWORD length, const std::uint8_t* key) {
  AcceptedRelease accepted;
  DWORD sequence = 0;
  char sha256[65];
  accepted.known = ReadReleaseSequence(sequence, sha256) != FALSE;
  accepted.sequence = sequence;
  accepted.sha256 = sha256;
  // A statement that cannot be had, or does not hold, is none: until one
  // has been accepted, the detached signature decides as it always did.
  ReleaseStatement statement;
  if (!FetchReleaseStatement(m_url, m_pinCertificate, key, statement)) return !accepted.known;
  if (statement.length != length || !ReleaseFollows(statement, accepted)) return false;
  m_statement = std::move(statement);
  m_hasStatement = true;
  return true;
}

bool InstallerFile::TakeBody(const void* data, DWORD size) {
  // A write that stores fewer bytes than it was given is a failure too (a
  // full disk): a cut installer must not be started.
  DWORD written = 0;
  if (!::WriteFile(m_hFile.Get(), data, size, &written, nullptr) || written != size ||
      !m_digest.Add(data, size)) {
    m_failed = true;
    return false;
  }
  m_header.Take(static_cast<const std::uint8_t*>(data), size);
  return true;
}

bool InstallerFile::CheckBody() {
  // Closed before the start: the installer must be able to open its own
  // file, and the platform does not start a file open for writing.
  const bool open = m_hFile.IsValid();
  m_hFile.Reset();
  if (!open || !m_digest.Finish(m_bodyDigest)) {
    m_failed = true;
    return false;
  }
  const std::uint8_t* key = PublisherKey();
  if (key == nullptr) return true;
  if (m_hasStatement) return Sha256Hex(m_bodyDigest) == m_statement.sha256;
  return InstallerSignedByPublisher(m_url, m_pinCertificate, m_bodyDigest, key);
}

bool InstallerFile::Finish(UniqueFileHandle& held) {
  held.Reset();
  // Between the close and this open another process of the user's could
  // change the file: what it then holds is compared with what was taken.
  // Once open, nobody may write to it or rename it until it has started; the
  // installer itself, and the platform starting it, only read it. A scanner
  // that has the fresh file open keeps the open from succeeding for a
  // moment.
  UniqueFileHandle file;
  std::uint8_t digest[kDigestSize];
  if (RetryWhileHeld([&] {
        return ::MoveFileW(m_temporaryName.c_str(), m_installerName.c_str()) != FALSE;
      }) &&
      RetryWhileHeld([&] {
        HANDLE opened = ::CreateFileW(m_installerName.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (opened == INVALID_HANDLE_VALUE) return false;
        file.Reset(opened);
        return true;
      }) &&
      HashFile(file.Get(), digest) && std::memcmp(digest, m_bodyDigest, sizeof digest) == 0) {
    held = std::move(file);
    return true;
  }
  m_failed = true;
  file.Reset();
  Discard();
  return false;
}

void InstallerFile::Discard() {
  m_hFile.Reset();
  // Whatever exists of the two names goes: after a rename the first finds
  // nothing, before it the second does. An installer that has just ended
  // may still hold its image for a moment, as security software may: the
  // delete is tried again like the rename and the start.
  for (const std::wstring* name : {&m_temporaryName, &m_installerName}) {
    if (name->empty()) continue;
    RetryWhileHeld([&] {
      return ::DeleteFileW(name->c_str()) != FALSE || ::GetLastError() == ERROR_FILE_NOT_FOUND;
    });
  }
}

int CMainDialog::InstallFromBody() {
  // Nobody sees the animation while the installer runs, which may take
  // minutes: it must not keep drawing.
  m_picture.StopAnimation();
  int result = 0;
  // What is no program, or (with the publisher's key) not the publisher's,
  // is refused before it is given a program's name; what starts is the file
  // held since its bytes were compared with those received.
  UniqueFileHandle held;
  const bool checked = m_installerFile->HoldsWindowsProgram() && m_installerFile->CheckBody();
  const bool refused = !checked && !m_installerFile->Failed();
  if (checked && m_installerFile->Finish(held))
    result = RunInstaller(m_installerFile->InstallerPath(), held);
  m_installerFile->Discard();
  // A refused installer (no program, or not the publisher's) is a failed
  // download: silent, but a check the user asked for says that there is no
  // update.
  if (refused && g_forceCheck != 0) {
    ShowNoUpdateView();
  } else {
    ::PostMessageW(WindowHandle(), WM_CLOSE, 0, 0);
  }
  return result;
}

int CMainDialog::RunInstaller(const std::wstring& installerPath, UniqueFileHandle& verified) {
  m_installerRunning = 1;
  UniqueKernelHandle process;
  // The download view stays up until the start has returned: it owns the
  // consent prompt. The installer's own windows take over from here.
  const bool started = LaunchInstaller(installerPath, WindowHandle(), process);
  ::ShowWindow(WindowHandle(), SW_HIDE);
  // The process has its image now; the installer may do with its file as it likes.
  verified.Reset();
  if (!started) {
    m_installerRunning = 0;
    return 0;
  }
  if (process) {
    // No time limit: the installer takes as long as the user needs.
    WaitAnsweringSentMessages(process.Get());
    DWORD code = 1;
    if (::GetExitCodeProcess(process.Get(), &code) && code == 0) {
      m_exitCode = 0;
      // Only an installed release raises what an older one is measured by.
      if (const ReleaseStatement* statement = m_installerFile->Statement())
        StoreReleaseSequence(statement->sequence, statement->sha256.c_str());
    }
  }
  m_installerRunning = 0;
  return 1;
}
