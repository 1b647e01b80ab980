// gif_frames.exe [PROGRAM.exe]
// Splits the download animation ("GIF" 148) of the built program (by default
// tavrin-corvel.exe beside this tool) into single-frame pictures through the
// platform's picture decoder, as the program does, and prints each frame's
// place, size, delay, disposal and decoded size in pixels.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "picture/gif_frames_win.h"
#include "tests/support/run_raw.h"

int wmain() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  const std::wstring program = count > 1 ? args[1] : ProgramPath();
  LocalFree(args);

  HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC resource = module ? FindResourceW(module, MAKEINTRESOURCEW(148), L"GIF") : nullptr;
  HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) {
    fprintf(stderr, "gif_frames: no \"GIF\" 148 in %ls\n", program.c_str());
    return 1;
  }
  const DWORD size = SizeofResource(module, resource);

  // The decoder reads from global memory, as the program hands it over.
  UniqueGlobal block(GlobalAlloc(GMEM_FIXED, size));
  if (!block) return 1;
  std::memcpy(block.Get(), bytes, size);
  CoInitialize(nullptr);

  CGifSplitter walk;
  walk.Attach(static_cast<const std::uint8_t*>(block.Get()), size);
  std::vector<FrameInfo> frames;
  PicturePtr single;
  const int loadedGif = LoadGif(walk, block.Get(), frames, single);
  printf("%lu bytes, logical screen %u x %u, %zu frames decoded%s\n", size, walk.ScreenWidth(),
         walk.ScreenHeight(), frames.size(), loadedGif ? "" : " (load failed)");

  HDC screen = GetDC(nullptr);
  for (size_t i = 0; i < frames.size(); ++i) {
    const FrameInfo& f = frames[i];
    LONG width = 0, height = 0;
    PicturePixelSize(f.picture.Get(), screen, width, height);
    printf("frame %2zu: at %ld,%ld  %ld x %ld  delay %lu/100 s  disposal %ld  picture %ld x %ld\n",
           i + 1, f.left, f.top, f.width, f.height, f.delay, f.disposal, width, height);
  }
  ReleaseDC(nullptr, screen);
  return frames.empty() ? 1 : 0;
}
