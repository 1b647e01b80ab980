// Maps the same system DLLs as the updater and ends at once, as the updater
// ends (TerminateProcess on itself): the floor for an updater start that
// ends before any work. The table names one function of each DLL the updater
// imports at start (the ones it loads on first use are left out), so that
// the loader maps the same set; scripts/bench compares the two sets as Wine
// loads them.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <userenv.h>

namespace {

template <typename Function>
const void* Address(Function* function) {
  return reinterpret_cast<const void*>(function);
}

// Read once below, so that the table and its imports stay in the program.
const void* const volatile kImports[] = {
    Address(&RegOpenKeyExW),                 // advapi32
    Address(&CreateCompatibleDC),            // gdi32
    Address(&CommandLineToArgvW),            // shell32
    Address(&PathAppendW),                   // shlwapi
    Address(&RegisterWindowMessageA),        // user32
    Address(&CreateEnvironmentBlock),        // userenv
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const UINT exitCode = kImports[0] != nullptr ? 0 : 1;
  TerminateProcess(GetCurrentProcess(), exitCode);
  return static_cast<int>(exitCode);
}
