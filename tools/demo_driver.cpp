// demo_driver.exe OUTDIR "COMMAND LINE" [drive]
// Starts the updater from COMMAND LINE (as given, like launcher.exe) for the
// demo and prints its whole exit code as a signed number. Driven (the
// argument "drive", or TAVRIN_DEMO_DRIVE=1), it plays the person in front of
// the screen: it saves each view it sees as a BMP in OUTDIR (offer.bmp,
// download.bmp, no-update.bmp), presses Yes on an offer and OK on "no update".
// Otherwise it only waits, and the person at the display clicks through.
// What it saw goes to stderr. Its own exit code: 0 when the program ended,
// 1 when it did not end in time (it is then killed), 2 when it could not start.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/support/run_raw.h"
#include "tests/support/screen_capture.h"
#include "tests/support/ui_driver.h"

namespace {

// The dialog's client area as the screen shows it, saved as a BMP.
void SaveView(HWND dialog, const std::wstring& folder, const wchar_t* view) {
  // The view is switched before it is painted; painting takes a moment.
  ::Sleep(800);
  if (CaptureClient(dialog).WriteBmp(folder + L"\\" + view + L".bmp"))
    fwprintf(stderr, L"demo_driver: saved the %ls view\n", view);
  else
    fwprintf(stderr, L"demo_driver: could not save the %ls view\n", view);
}

void Drive(DWORD processId, const std::wstring& folder) {
  const HWND dialog = WaitForShownDialog(processId, 30000);
  if (!dialog) {
    fputws(L"demo_driver: no dialog was shown\n", stderr);
    return;
  }
  if (!ControlShown(dialog, IDC_YES_BUTTON)) {
    SaveView(dialog, folder, L"no-update");
    PressButton(dialog, IDC_CLOSE_BUTTON);
    return;
  }
  SaveView(dialog, folder, L"offer");
  PressButton(dialog, IDC_YES_BUTTON);
  // The download of a small installer over the loopback may be over before
  // it could be seen; then there is no picture of it.
  const bool downloading = WaitUntil(
      [&] {
        return ::IsWindowVisible(dialog) && !ControlShown(dialog, IDC_YES_BUTTON) &&
               ControlShown(dialog, IDC_CLOSE_BUTTON);
      },
      5000);
  if (downloading && ::IsWindowVisible(dialog)) SaveView(dialog, folder, L"download");
}

}  // namespace

int wmain() {
  int count = 0;
  wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (count < 3 || count > 4 || (count == 4 && wcscmp(args[3], L"drive") != 0)) {
    fputs("usage: demo_driver.exe OUTDIR \"COMMAND LINE\" [drive]\n", stderr);
    return 2;
  }
  const char* drive = getenv("TAVRIN_DEMO_DRIVE");
  const bool driven = count == 4 || (drive && strcmp(drive, "1") == 0);
  const std::wstring folder = args[1];
  RawProcess program(args[2]);
  ::LocalFree(args);
  if (!program.Started()) {
    fprintf(stderr, "demo_driver: cannot start the command (error %lu)\n", program.Error());
    return 2;
  }
  if (driven) Drive(program.Id(), folder);
  // A person may take their time; a driven run has no reason to.
  DWORD exitCode = 0;
  if (!program.Wait(driven ? 120000 : INFINITE, exitCode)) {
    fputs("demo_driver: the program did not end; stopped it\n", stderr);
    return 1;
  }
  printf("%ld\n", static_cast<long>(exitCode));
  return 0;
}
