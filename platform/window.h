// Window bases in place of a windowing framework: a modeless dialog made from
// a template, and a window that subclasses an existing control. Each stores
// `this` with the window, forwards every message to the derived class's
//
//   bool ProcessWindowMessage(HWND, UINT, WPARAM, LPARAM, LRESULT& result)
//
// (true when handled, with `result` set) and calls the derived class's
// OnFinalMessage(HWND) after the window's last message, WM_NCDESTROY, when
// the window no longer refers to the object. All of it runs on the thread
// that owns the window. The objects cannot be copied or moved: the window
// holds their address.
#pragma once

#include <windows.h>

#include "platform/module.h"

// Message-map helpers: each entry of a map is one line that calls a named
// handler, e.g. `case WM_DESTROY: return Handled(result, OnDestroy());`.
inline bool Handled(LRESULT& result, LRESULT value = 0) noexcept {
  result = value;
  return true;
}
// The control id of WM_COMMAND; the notification code is in the high word.
inline UINT CommandId(WPARAM wParam) noexcept { return LOWORD(wParam); }

// Base of a modeless dialog. T derives from CDialogBase<T> and provides
// ProcessWindowMessage; it may provide OnFinalMessage. Messages the map does
// not handle get the platform's default dialog processing, which for
// instance turns a posted WM_CLOSE into WM_COMMAND with IDCANCEL (2).
template <class T>
class CDialogBase {
 public:
  CDialogBase() noexcept = default;
  CDialogBase(const CDialogBase&) = delete;
  CDialogBase& operator=(const CDialogBase&) = delete;

  // Creates the dialog from template `templateId`, modeless. Returns the
  // window, or null when the object already has one, the template cannot be
  // loaded or the window cannot be created.
  HWND Create(HWND owner, UINT templateId, HINSTANCE instance = ModuleInstance()) noexcept {
    if (m_hWnd) return nullptr;
    return ::CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), owner, &DialogProc,
                                reinterpret_cast<LPARAM>(this));
  }

  // The dialog's window from WM_INITDIALOG to WM_NCDESTROY, null otherwise.
  HWND WindowHandle() const noexcept { return m_hWnd; }

  BOOL DestroyWindow() noexcept { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }

  // Called after the last message; the object is no longer attached.
  void OnFinalMessage(HWND) noexcept {}

 protected:
  // A window that outlives its object is detached first, so that its
  // destruction does not call into a half-destroyed object.
  ~CDialogBase() {
    if (HWND window = m_hWnd) {
      ::SetWindowLongPtrW(window, DWLP_USER, 0);
      m_hWnd = nullptr;
      ::DestroyWindow(window);
    }
  }

 private:
  // Messages whose result the dialog procedure returns itself; for the rest
  // it goes into DWLP_MSGRESULT and the procedure returns TRUE.
  static bool ReturnsResultDirectly(UINT message) noexcept {
    switch (message) {
      case WM_INITDIALOG:
      case WM_CTLCOLORMSGBOX:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLORDLG:
      case WM_CTLCOLORSCROLLBAR:
      case WM_CTLCOLORSTATIC:
      case WM_COMPAREITEM:
      case WM_VKEYTOITEM:
      case WM_CHARTOITEM:
      case WM_QUERYDRAGICON:
        return true;
      default:
        return false;
    }
  }

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam,
                                     LPARAM lParam) noexcept {
    CDialogBase* self = nullptr;
    if (message == WM_INITDIALOG) {
      self = reinterpret_cast<CDialogBase*>(lParam);
      ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
      self->m_hWnd = window;
    } else {
      self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(window, DWLP_USER));
    }
    // Before WM_INITDIALOG (WM_SETFONT) and after detaching: default handling.
    if (!self) return FALSE;

    T* derived = static_cast<T*>(self);
    LRESULT result = 0;
    const bool handled = derived->ProcessWindowMessage(window, message, wParam, lParam, result);
    if (message == WM_NCDESTROY) {
      ::SetWindowLongPtrW(window, DWLP_USER, 0);
      self->m_hWnd = nullptr;
      derived->OnFinalMessage(window);  // may delete the object: nothing follows
      return handled ? TRUE : FALSE;
    }
    if (!handled) return FALSE;
    if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
  }

  HWND m_hWnd = nullptr;
};

// Name of the window property that holds the object of a subclassed window.
inline constexpr wchar_t kWindowObjectProperty[] = L"tavrin.window-object";

// Base of a window that takes over an existing control (subclassing): its
// messages go to T's map first, and those not handled to the control's own
// procedure. T derives from CWindowBase<T>.
template <class T>
class CWindowBase {
 public:
  CWindowBase() noexcept = default;
  CWindowBase(const CWindowBase&) = delete;
  CWindowBase& operator=(const CWindowBase&) = delete;

  // Fails when this object already holds a window, when `window` is not a
  // window, or when the window already carries an object of ours.
  bool SubclassWindow(HWND window) noexcept {
    if (m_hWnd || !::IsWindow(window) || ::GetPropW(window, kWindowObjectProperty)) return false;
    if (!::SetPropW(window, kWindowObjectProperty, this)) return false;
    ::SetLastError(0);
    const LONG_PTR previous =
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));
    if (!previous && ::GetLastError() != 0) {
      ::RemovePropW(window, kWindowObjectProperty);
      return false;
    }
    m_originalProc = reinterpret_cast<WNDPROC>(previous);
    m_hWnd = window;
    return true;
  }

  // Gives the control its own procedure back and returns it; null when
  // nothing is subclassed or when somebody else has subclassed the control
  // after us (putting ours back would cut them off).
  HWND UnsubclassWindow() noexcept {
    HWND window = m_hWnd;
    if (!window) return nullptr;
    if (::GetWindowLongPtrW(window, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&WindowProc))
      return nullptr;
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_originalProc));
    Detach();
    return window;
  }

  HWND WindowHandle() const noexcept { return m_hWnd; }

  void OnFinalMessage(HWND) noexcept {}

 protected:
  ~CWindowBase() {
    if (m_hWnd && !UnsubclassWindow()) Detach();
  }

  // The control's own handling of a message.
  LRESULT DefaultProcessing(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    return ::CallWindowProcW(m_originalProc, m_hWnd, message, wParam, lParam);
  }

 private:
  void Detach() noexcept {
    ::RemovePropW(m_hWnd, kWindowObjectProperty);
    m_hWnd = nullptr;
  }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam,
                                     LPARAM lParam) noexcept {
    auto* self = static_cast<CWindowBase*>(::GetPropW(window, kWindowObjectProperty));
    if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
    T* derived = static_cast<T*>(self);
    const WNDPROC original = self->m_originalProc;
    LRESULT result = 0;
    if (!derived->ProcessWindowMessage(window, message, wParam, lParam, result))
      result = ::CallWindowProcW(original, window, message, wParam, lParam);
    if (message == WM_NCDESTROY && self->m_hWnd == window) {
      // The control is gone: hand it its procedure back for any stray
      // message, and let go of it.
      ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
      self->Detach();
      derived->OnFinalMessage(window);
    }
    return result;
  }

  HWND m_hWnd = nullptr;
  WNDPROC m_originalProc = nullptr;
};
