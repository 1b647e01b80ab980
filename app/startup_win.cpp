#include "app/startup.h"

#include <shellapi.h>
#include <userenv.h>

#include <cstdlib>
#include <memory>

#include "app/globals.h"
#include "platform/module.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "text/text.h"
#include "workflow/main_dialog.h"

namespace {

using UniqueEnvironmentBlock = UniqueHandle<NullEmptyTraits<LPVOID, &::DestroyEnvironmentBlock>>;

// BSF_IGNORECURRENTTASK | BSF_NOHANG | BSF_POSTMESSAGE | BSF_FORCEIFHUNG:
// posted, so the broadcast never waits for a receiver, hung or not.
constexpr DWORD kBroadcastFlags = 0x3A;

}  // namespace

LANGID ReadForcedLanguage() {
  UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tavrin\\Solvane", 0, KEY_QUERY_VALUE,
                      key.Receive()) != ERROR_SUCCESS)
    return 0;
  DWORD value = 0;
  DWORD type = REG_NONE;
  DWORD size = sizeof value;
  if (::RegQueryValueExW(key.Get(), L"force_lcid", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
      type != REG_DWORD)
    return 0;
  return LOWORD(value);
}

void RefreshEnvironment() {
  UniqueKernelHandle token;
  // CreateEnvironmentBlock needs both rights on the token; with query alone
  // Windows refuses it and the refresh would silently never happen.
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, token.Receive()))
    return;
  UniqueEnvironmentBlock block;
  // Without inheritance: the block holds the user's and the system's
  // variables, not the ones this process was started with.
  if (!::CreateEnvironmentBlock(block.Receive(), token.Get(), FALSE)) return;
  // The runtime's putenv updates its own copy and the platform's, which is
  // what later child processes inherit.
  for (const wchar_t* entry = static_cast<const wchar_t*>(block.Get()); *entry;
       entry += wcslen(entry) + 1)
    _wputenv(entry);
}

bool SplitCommandLine(const wchar_t* commandLine, ArgumentVector& vector,
                      std::vector<std::wstring>& args) {
  int count = 0;
  vector.Reset(::CommandLineToArgvW(commandLine, &count));
  if (!vector) return false;
  args.assign(vector.Get(), vector.Get() + count);
  return true;
}

bool UpdatesSwitchedOff() {
  int disabled = 0;
  return ReadUpdatesDisabled(disabled) && disabled != 0;
}

void ForceCheck() {
  ResetSchedule();
  // The second call is given the recipients word as the first left it.
  DWORD recipients = BSM_APPLICATIONS;
  ::BroadcastSystemMessageA(kBroadcastFlags, &recipients, g_updateNowMessage, 0, 0);
  ::BroadcastSystemMessageA(kBroadcastFlags, &recipients, g_exitMessage, 0, 0);
  // A running copy that closes on the exit message releases the mutex within
  // this second, and this start can then take it.
  ::Sleep(1000);
}

bool TakeInstanceMutex() {
  // Never owned or waited on: that the mutex exists is the whole signal.
  g_instanceMutex = ::CreateMutexW(nullptr, FALSE, L"TAVRIN-BRENLO_MUTEX");
  const DWORD error = ::GetLastError();
  return g_instanceMutex != nullptr && error != ERROR_ALREADY_EXISTS;
}

DialogParameters DialogParametersFrom(const std::vector<std::wstring>& args,
                                      const OptionScan& scan) {
  DialogParameters parameters;
  if (const std::wstring* url = Positional(args, scan, 2)) parameters.checkUrl = TrimSpaces(*url);
  parameters.pinCertificate = PinSwitchOn(Positional(args, scan, 3)) ? 1 : 0;
  return parameters;
}

int RunMainDialog(const DialogParameters& parameters) {
  auto dialog = std::make_unique<CMainDialog>(parameters.checkUrl, parameters.pinCertificate);
  // The request goes out while the window is being made.
  dialog->StartCheckEarly();
  HWND window = dialog->Create(nullptr, IDD_MAIN_DIALOG);
  if (!window) {
    // A check started early still uses the dialog, waiting for a window that
    // will not come: the object is left to it, and the run ends at once.
    if (dialog->CheckStarted()) dialog.release();
    return kNoDialogExitCode;
  }
  ::ShowWindow(window, SW_HIDE);
  // The quit message carries the same code; the dialog's field is the one
  // that counts.
  RunMessageLoop();
  return dialog->ExitCode();
}

void EndProcess(int exitCode, ArgumentVector& vector) {
  if (g_instanceMutex) {
    ::CloseHandle(g_instanceMutex);
    g_instanceMutex = nullptr;
  }
  vector.Reset();
  // Ends here, without static destructors or exit handlers: a check thread or
  // an animation thread may still be running, and nothing must wait for them.
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exitCode));
  for (;;) ::Sleep(INFINITE);
}
