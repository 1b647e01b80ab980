// A hidden top-level window with a 90-second timer and nothing else: the
// least a program can cost while it waits in the background, the floor for a
// copy of the updater that waits for its reminder. Ends on WM_CLOSE.
#include <windows.h>

namespace {

constexpr wchar_t kClassName[] = L"TavrinBenchIdleWindow";
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerPeriodMs = 90000;

LRESULT CALLBACK IdleWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = IdleWindowProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassW(&windowClass)) return 1;
  HWND window = CreateWindowExW(0, kClassName, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 200, 100, nullptr, nullptr, instance, nullptr);
  if (!window || !SetTimer(window, kTimerId, kTimerPeriodMs, nullptr)) return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
