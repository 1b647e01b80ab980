// launcher.exe TIMEOUT_MS "COMMAND LINE"
// Starts COMMAND LINE exactly as given in its one argument (quoting, empty
// arguments and tabs inside it untouched) and prints the child's whole 32-bit
// exit code in decimal as a signed number, so that a script under Wine sees
// -2 as -2, not as 254. Its own exit code: 0 when the child ended, 1 on a
// time-out (the child is then killed), 2 when it could not start the child.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>

#include "tests/support/run_raw.h"

int wmain() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  wchar_t* end = nullptr;
  const unsigned long timeout = count == 3 ? wcstoul(args[1], &end, 10) : 0;
  if (count != 3 || end == args[1] || *end != L'\0') {
    fputs("usage: launcher.exe TIMEOUT_MS \"COMMAND LINE\"\n", stderr);
    return 2;
  }
  const RunResult result = RunRaw(args[2], timeout);
  LocalFree(args);
  if (!result.started) {
    fprintf(stderr, "launcher: cannot start the command (error %lu)\n", result.error);
    return 2;
  }
  printf("%ld\n", static_cast<long>(result.exitCode));
  return result.finished ? 0 : 1;
}
