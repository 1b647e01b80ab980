// Scoped guards for GDI state that must be given back in a particular way: a
// paint DC to EndPaint, a window DC to ReleaseDC, a selected object to the DC
// it replaced. A leaked DC or a bitmap left selected costs a GDI object per
// frame and runs the process out of them after hours. Guards belong to the
// thread that made them and cannot be copied.
#pragma once

#include <windows.h>

#include <utility>

// BeginPaint on construction, EndPaint on destruction. Dc() is null when
// BeginPaint gave no DC; EndPaint is still called, as the platform expects.
class PaintGuard {
 public:
  explicit PaintGuard(HWND window) noexcept
      : m_window(window), m_dc(::BeginPaint(window, &m_paint)) {}
  ~PaintGuard() { ::EndPaint(m_window, &m_paint); }
  PaintGuard(const PaintGuard&) = delete;
  PaintGuard& operator=(const PaintGuard&) = delete;

  HDC Dc() const noexcept { return m_dc; }
  const PAINTSTRUCT& Paint() const noexcept { return m_paint; }

 private:
  HWND m_window;
  PAINTSTRUCT m_paint = {};
  HDC m_dc;
};

// GetDC on construction, ReleaseDC on destruction. Dc() is null on failure.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : m_window(window), m_dc(::GetDC(window)) {}
  ~WindowDc() {
    if (m_dc) ::ReleaseDC(m_window, m_dc);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC Dc() const noexcept { return m_dc; }

 private:
  HWND m_window;
  HDC m_dc;
};

// Selects an object into a DC and puts the previous one back when reset or
// destroyed. Movable so that a long-lived selection (a memory DC's bitmap) can
// be held as a member; it must be reset before the DC or the object is deleted.
class SelectedObject {
 public:
  SelectedObject() noexcept = default;
  SelectedObject(HDC dc, HGDIOBJ object) noexcept
      : m_dc(dc), m_previous(::SelectObject(dc, object)) {
    if (!m_previous || m_previous == HGDI_ERROR) {
      m_dc = nullptr;
      m_previous = nullptr;
    }
  }
  ~SelectedObject() { Reset(); }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  SelectedObject(SelectedObject&& other) noexcept
      : m_dc(std::exchange(other.m_dc, nullptr)),
        m_previous(std::exchange(other.m_previous, nullptr)) {}
  SelectedObject& operator=(SelectedObject&& other) noexcept {
    if (this != &other) {
      Reset();
      m_dc = std::exchange(other.m_dc, nullptr);
      m_previous = std::exchange(other.m_previous, nullptr);
    }
    return *this;
  }

  // False when the selection failed; nothing is restored then.
  explicit operator bool() const noexcept { return m_dc != nullptr; }

  // Puts the previous object back; afterwards the guard holds nothing.
  void Reset() noexcept {
    if (m_dc) ::SelectObject(m_dc, m_previous);
    m_dc = nullptr;
    m_previous = nullptr;
  }

 private:
  HDC m_dc = nullptr;
  HGDIOBJ m_previous = nullptr;
};
