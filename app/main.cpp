// The entry point: one start of the program, at most one running dialog per
// logon session. It only sequences the steps of app/startup.h; every end goes
// through EndProcess, so it never returns.
#include <windows.h>

#include "app/globals.h"
#include "app/startup.h"
#include "platform/system_library.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before any DLL is loaded by name: the ones bound late come from here on.
  RestrictLibrarySearch();
  g_forcedLangId = ReadForcedLanguage();
  RefreshEnvironment();

  ArgumentVector vector;
  std::vector<std::wstring> args;
  if (!SplitCommandLine(::GetCommandLineW(), vector, args))
    EndProcess(kBadCommandLineExitCode, vector);

  const OptionScan scan = ScanOptions(args);
  if (scan.forceCheck) g_forceCheck = 1;
  // Before the forced check: a quiet start with updates switched off ends
  // without touching the schedule.
  if (scan.quietStart && UpdatesSwitchedOff()) EndProcess(kUpdatesDisabledExitCode, vector);
  if (g_forceCheck) ForceCheck();
  if (scan.positionalCount < 2) EndProcess(kBadCommandLineExitCode, vector);
  if (!TakeInstanceMutex()) EndProcess(kAlreadyRunningExitCode, vector);

  EndProcess(RunMainDialog(DialogParametersFrom(args, scan)), vector);
}
