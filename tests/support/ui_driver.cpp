#include "tests/support/ui_driver.h"

#include <cwchar>
#include <iterator>
#include <vector>

namespace {

struct DialogSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<DialogSearch*>(parameter);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId) return TRUE;
  wchar_t className[16] = {};
  ::GetClassNameW(window, className, static_cast<int>(std::size(className)));
  if (wcscmp(className, L"#32770") != 0) return TRUE;
  search->found = window;
  return FALSE;
}

struct ProcessSearch {
  DWORD processId;
  bool (*matches)(HWND window);
  HWND found;
};

BOOL CALLBACK MatchProcessWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<ProcessSearch*>(parameter);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !search->matches(window)) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindProcessWindow(DWORD processId, bool (*matches)(HWND window)) {
  ProcessSearch search = {processId, matches, nullptr};
  ::EnumWindows(&MatchProcessWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The edit fields of `dialog`, in the dialog's order.
std::vector<HWND> EditFields(HWND dialog) {
  std::vector<HWND> fields;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t className[16] = {};
    ::GetClassNameW(child, className, static_cast<int>(std::size(className)));
    if (_wcsicmp(className, L"Edit") == 0) fields.push_back(child);
  }
  return fields;
}

bool IsCredentialPrompt(HWND window) {
  wchar_t className[16] = {};
  ::GetClassNameW(window, className, static_cast<int>(std::size(className)));
  return ::IsWindowVisible(window) && wcscmp(className, L"#32770") == 0 &&
         EditFields(window).size() >= 2;
}

}  // namespace

bool AnyWindowShown(DWORD processId) {
  return FindProcessWindow(processId, [](HWND window) { return ::IsWindowVisible(window) != 0; });
}

HWND FindCredentialPrompt(DWORD processId) {
  return FindProcessWindow(processId, &IsCredentialPrompt);
}

void AnswerCredentialPrompt(HWND prompt, const std::wstring& user, const std::wstring& password) {
  const std::vector<HWND> fields = EditFields(prompt);
  if (fields.size() < 2) return;
  ::SendMessageW(fields[0], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(user.c_str()));
  ::SendMessageW(fields[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(password.c_str()));
  PressButton(prompt, IDOK);
}

bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  return WaitUntil(
      [&] {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
          ::TranslateMessage(&message);
          ::DispatchMessageW(&message);
        }
        return condition();
      },
      timeoutMs);
}

void TypeKeys(std::initializer_list<WORD> keys, bool shift) {
  std::vector<INPUT> inputs;
  const auto add = [&](WORD key, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = flags;
    inputs.push_back(input);
  };
  for (WORD key : keys) {
    if (shift) add(VK_SHIFT, 0);
    add(key, 0);
    add(key, KEYEVENTF_KEYUP);
    if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
  }
  ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

HWND FocusedWindow(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool MenuShown(DWORD processId) {
  return FindProcessWindow(processId, [](HWND window) {
           wchar_t className[16] = {};
           ::GetClassNameW(window, className, static_cast<int>(std::size(className)));
           return ::IsWindowVisible(window) && wcscmp(className, L"#32768") == 0;
         }) != nullptr;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(20);
  }
}

HWND FindProgramDialog(DWORD processId) {
  DialogSearch search = {processId, nullptr};
  ::EnumWindows(&MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForShownDialog(DWORD processId, DWORD timeoutMs) {
  HWND dialog = nullptr;
  WaitUntil(
      [&] {
        dialog = FindProgramDialog(processId);
        return dialog && ::IsWindowVisible(dialog);
      },
      timeoutMs);
  return dialog && ::IsWindowVisible(dialog) ? dialog : nullptr;
}

std::wstring ControlText(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  if (!control) return {};
  wchar_t text[512] = {};
  ::GetWindowTextW(control, text, static_cast<int>(std::size(text)));
  return text;
}

bool ControlShown(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  return control && (::GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

void PressButton(HWND dialog, int id) {
  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

void PostClose(HWND dialog) { ::PostMessageW(dialog, WM_CLOSE, 0, 0); }
