// Postponing an update: the program installs a copy of itself in the user's
// roaming application data, registers it for logon and starts it, so that
// the copy waits out the postponement while this process ends.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "app/globals.h"
#include "settings/settings.h"
#include "platform/com.h"
#include "workflow/autostart_command.h"
#include "workflow/main_dialog.h"

namespace {

bool SamePath(const wchar_t* a, const wchar_t* b) {
  // Ordinal, without regard to case, as the file system compares names.
  return ::CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

int CMainDialog::ScheduleReminder(DelayMode mode) {
  wchar_t ownPath[MAX_PATH] = {};
  wchar_t copyPath[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
  if (!::SHGetSpecialFolderPathW(WindowHandle(), copyPath, CSIDL_APPDATA, FALSE)) return 0;
  // A path too long to hold the copy's name leaves nothing to start.
  if (!::PathAppendW(copyPath, L"tavrin\\brenlo")) return 0;
  ::SHCreateDirectory(WindowHandle(), copyPath);  // it may exist already
  if (!::PathAppendW(copyPath, L"tavrin-corvel.exe")) return 0;

  // Wide from here on: the copy's path and the URL reach the Run value and
  // the relaunch as they are, whatever code page the machine has.
  if (!SamePath(ownPath, copyPath)) {
    // A copy that fails leaves the previous one, if any, to be started.
    ::CopyFileW(ownPath, copyPath, FALSE);
    const std::wstring command =
        AutostartCommand(std::wstring(copyPath), m_checkUrlText, m_pinCertificate != 0);
    if (command.empty() || !SetRunValue(command.c_str())) return 0;
  }

  StoreDelayMode(static_cast<int>(mode));
  const DWORD disabled = 1;
  WriteSetting("md_cu_disable", REG_DWORD, &disabled, sizeof disabled);

  // The copy about to start must be able to create the single-instance
  // mutex; this process held its only handle.
  if (g_instanceMutex) {
    ::CloseHandle(g_instanceMutex);
    g_instanceMutex = nullptr;
  }

  const std::wstring parameters = RelaunchParameters(m_checkUrlText, m_pinCertificate != 0);
  if (!parameters.empty()) {
    const ScopedComApartment com;  // the shell's start may use a shell extension
    SHELLEXECUTEINFOW start = {};
    start.cbSize = sizeof start;
    // A start that fails (no copy, a policy against programs in the
    // application data) must not show the shell's error box: this thread
    // would wait for someone to dismiss it, and the process never end. The
    // process ends right after this call, so the start must be over when it
    // returns.
    start.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    start.lpVerb = L"open";
    start.lpFile = copyPath;
    start.lpParameters = parameters.c_str();
    start.nShow = SW_SHOW;
    // Nothing waits for the copy; without a start, the Run value brings it
    // back at the next logon.
    ::ShellExecuteExW(&start);
  }
  return 1;
}
