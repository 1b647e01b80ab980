// What a window shows on the screen, copied pixel by pixel: for the tests
// that check the dialog's look and for the demo's pictures of it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct ScreenCapture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgra;  // top-down rows, 4 bytes a pixel

  COLORREF At(int x, int y) const {
    const std::uint8_t* p = &bgra[(static_cast<size_t>(y) * width + x) * 4];
    return RGB(p[2], p[1], p[0]);
  }
  // Pixels of `colour` inside `rect`.
  int Count(const RECT& rect, COLORREF colour) const;

  // Writes a 32-bit top-down BMP (tools/screenshots-to-png turns it into a
  // PNG). False when the file cannot be written.
  bool WriteBmp(const std::wstring& path) const;
};

// The client area of `window` as the screen shows it now.
ScreenCapture CaptureClient(HWND window);
