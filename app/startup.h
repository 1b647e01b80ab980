// The steps of the start-up sequence, each on its own so that the entry point
// only sequences them. All run on the main thread; none reports an error
// other than through its result.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "platform/unique_handle.h"

// The argument vector as the platform hands it out, freed with LocalFree.
using ArgumentVector = UniqueLocal<LPWSTR*>;

// What the dialog is constructed with.
struct DialogParameters {
  std::wstring checkUrl;  // as the command line gave it, trimmed
  int pinCertificate = 0;
};

// Exit codes of the entry point's own refusals, as 32-bit values.
inline constexpr int kBadCommandLineExitCode = -2;
inline constexpr int kAlreadyRunningExitCode = -3;
inline constexpr int kUpdatesDisabledExitCode = 0;
// The dialog's window could not be created: the run ends as any other failed
// run of the dialog does, instead of waiting for a quit message that would
// never come.
inline constexpr int kNoDialogExitCode = 1;

// The machine's language override: the low 16 bits of "force_lcid" under
// HKLM "SOFTWARE\tavrin\Solvane" when it is a REG_DWORD, else 0.
LANGID ReadForcedLanguage();

// Sets every variable of the user's environment block (user and system
// variables, not the inherited ones) in the process environment, in block
// order, so that programs started later inherit them. Inherited variables the
// block lacks stay. Any failure leaves the environment as it was.
void RefreshEnvironment();

// Splits `commandLine` by the platform's rules. On success `vector` owns the
// platform's argument vector and `args` holds copies; false when it cannot
// be split.
bool SplitCommandLine(const wchar_t* commandLine, ArgumentVector& vector,
                      std::vector<std::wstring>& args);

// True when the quiet start must end the run: "md_cu_disable" read (from the
// user, or else the machine) and nonzero.
bool UpdatesSwitchedOff();

// The forced check's own work: reset the schedule, tell running copies to
// check now and then to quit, and give them a second to let go of the mutex.
void ForceCheck();

// Creates the single-instance mutex into g_instanceMutex. False when it
// cannot be created or another copy holds it already.
bool TakeInstanceMutex();

// The check URL (positional 2) and the pin switch (positional 3) of a
// scanned command line with at least two positional arguments.
DialogParameters DialogParametersFrom(const std::vector<std::wstring>& args,
                                      const OptionScan& scan);

// Creates the dialog hidden and runs the message loop until it ends; returns
// the dialog's exit code, or kNoDialogExitCode when its window cannot be made.
int RunMainDialog(const DialogParameters& parameters);

// Closes the mutex, frees the argument vector and ends the process at once
// with `exitCode`: no static destructors, exit handlers or runtime shutdown.
[[noreturn]] void EndProcess(int exitCode, ArgumentVector& vector);
