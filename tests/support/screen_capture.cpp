#include "tests/support/screen_capture.h"

#include <fstream>

int ScreenCapture::Count(const RECT& rect, COLORREF colour) const {
  int count = 0;
  for (int y = rect.top; y < rect.bottom; ++y)
    for (int x = rect.left; x < rect.right; ++x) count += At(x, y) == colour;
  return count;
}

bool ScreenCapture::WriteBmp(const std::wstring& path) const {
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = -height;
  info.biPlanes = 1;
  info.biBitCount = 32;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(bgra.size());
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&info), sizeof(info));
  out.write(reinterpret_cast<const char*>(bgra.data()), static_cast<std::streamsize>(bgra.size()));
  return static_cast<bool>(out);
}

ScreenCapture CaptureClient(HWND window) {
  ScreenCapture capture;
  RECT client{};
  ::GetClientRect(window, &client);
  POINT origin{0, 0};
  ::ClientToScreen(window, &origin);
  capture.width = client.right;
  capture.height = client.bottom;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = capture.width;
  info.bmiHeader.biHeight = -capture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) {
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, capture.width, capture.height, screen, origin.x, origin.y, SRCCOPY);
    ::GdiFlush();
    const auto* bytes = static_cast<const std::uint8_t*>(bits);
    capture.bgra.assign(bytes, bytes + static_cast<size_t>(capture.width) * capture.height * 4);
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
  } else {
    capture.width = capture.height = 0;
  }
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return capture;
}
