// Loads each DLL named on its command line by its plain name, as a program
// that leaves the platform's search order alone does, and exits with 0. It
// shows which DLLs beside a program the platform takes over its own.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) ::LoadLibraryW(argv[i]);
  return 0;
}
