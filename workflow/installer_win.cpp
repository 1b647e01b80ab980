// The 200 answer: the body is the installer. It is saved under a fresh name
// in the user's profile, started (elevated when the platform demands it),
// waited for and deleted, all on the check thread inside Send.
#include <windows.h>
#include <shlobj.h>
#include <userenv.h>

#include <vector>

#include "workflow/installer_file_name.h"
#include "workflow/installer_launch.h"
#include "workflow/main_dialog.h"

namespace {

// No error box of the platform's: a launch that fails (a body that is no
// program, a refused elevation) ends the run silently, and a box would
// block the check thread until someone dismissed it.
constexpr ULONG kLaunchMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;

// ERROR_ELEVATION_REQUIRED, which not every SDK names.
constexpr DWORD kElevationRequired = 740;

bool WriteWhole(HANDLE file, const void* data, DWORD length) {
  DWORD written = 0;
  return ::WriteFile(file, data, length, &written, nullptr) && written == length;
}

}  // namespace

bool LaunchInstaller(const std::string& path, UniqueKernelHandle& process,
                     ShellExecuteFunction execute) {
  // The platform may write into the file text it is given: a copy.
  std::vector<char> file(path.begin(), path.end());
  file.push_back('\0');
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  info.fMask = kLaunchMask;
  info.lpVerb = "open";
  info.lpFile = file.data();
  info.lpParameters = "";
  info.nShow = SW_SHOW;
  bool started = execute(&info) != FALSE;
  if (!started && ::GetLastError() == kElevationRequired) {
    info.lpVerb = "runas";
    info.hProcess = nullptr;
    started = execute(&info) != FALSE;
  }
  process.Reset(started ? info.hProcess : nullptr);
  return started;
}

std::string InstallerFolder() {
  char base[MAX_PATH] = {};
  DWORD size = sizeof base;
  UniqueKernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive()) ||
      !::GetUserProfileDirectoryA(token.Get(), base, &size)) {
    // Ends with a backslash; the doubled one that follows is accepted.
    if (!::GetTempPathA(sizeof base, base)) base[0] = '\0';
  }
  return std::string(base) + "\\tavrin\\brenlo";
}

void RemoveInstallerLeftovers(const std::string& folder) {
  WIN32_FIND_DATAA found;
  const UniqueFindHandle search(::FindFirstFileA((folder + "\\dex*").c_str(), &found));
  if (!search) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!IsInstallerFileName(found.cFileName)) continue;
    // Fails, and leaves the file, while a running installer holds it.
    ::DeleteFileA((folder + "\\" + found.cFileName).c_str());
  } while (::FindNextFileA(search.Get(), &found));
}

int CMainDialog::InstallFromBody(const HttpResponse& response) {
  ::ShowWindow(WindowHandle(), SW_HIDE);
  const std::string folder = InstallerFolder();
  ::SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);  // may exist already
  RemoveInstallerLeftovers(folder);
  const int result = SaveAndRunInstaller(folder, response);
  ::PostMessageW(WindowHandle(), WM_CLOSE, 0, 0);
  return result;
}

int CMainDialog::SaveAndRunInstaller(const std::string& folder, const HttpResponse& response) {
  char temporaryName[MAX_PATH] = {};
  if (!::GetTempFileNameA(folder.c_str(), kInstallerTempPrefix, 0, temporaryName)) return 0;
  const std::string installerName = InstallerName(temporaryName);

  int result = 0;
  UniqueFileHandle file(::CreateFileA(temporaryName, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, 0, nullptr));
  // A write that stores fewer bytes than the body is a failure too: a cut
  // installer must not be started.
  const bool saved = file && WriteWhole(file.Get(), response.data, response.length);
  file.Reset();
  if (saved && ::MoveFileA(temporaryName, installerName.c_str()))
    result = RunInstaller(installerName);

  // Whatever exists of the two names goes: after a rename the first finds
  // nothing, after a failure the second does.
  ::DeleteFileA(temporaryName);
  ::DeleteFileA(installerName.c_str());
  return result;
}

int CMainDialog::RunInstaller(const std::string& installerName) {
  m_installerRunning = 1;
  UniqueKernelHandle process;
  if (!LaunchInstaller(installerName, process)) {
    m_installerRunning = 0;
    return 0;
  }
  if (process) {
    // No time limit: the installer takes as long as the user needs.
    ::WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 1;
    if (::GetExitCodeProcess(process.Get(), &code) && code == 0) m_exitCode = 0;
  }
  m_installerRunning = 0;
  return 1;
}
