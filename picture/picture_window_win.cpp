#include "picture/picture_window_win.h"

#include <cstring>

#include "platform/gdi.h"
#include "platform/module.h"

namespace {

// A solid fill of `rect` in `dc`; the brush lives for this call only.
void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
  UniqueBrush brush(::CreateSolidBrush(colour));
  if (brush) ::FillRect(dc, &rect, brush.Get());
}

}  // namespace

CPictureExWnd::CPictureExWnd() : m_stopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CPictureExWnd::~CPictureExWnd() { Clear(); }

bool CPictureExWnd::ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM, LRESULT& result) {
  switch (message) {
    case WM_PAINT:
      return Handled(result, OnPaint());
    case WM_DESTROY:
      return Handled(result, StopAnimation());
    default:
      return false;
  }
}

int CPictureExWnd::LoadFromResource(const wchar_t* name, const wchar_t* type) {
  HMODULE module = ModuleInstance();
  HRSRC found = ::FindResourceW(module, name, type);
  if (found == nullptr) return 0;
  const DWORD size = ::SizeofResource(module, found);
  HGLOBAL loaded = ::LoadResource(module, found);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr || size == 0) return 0;
  UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_NODISCARD, size));
  if (!block) return 0;
  void* copy = ::GlobalLock(block.Get());
  if (copy == nullptr) return 0;
  std::memcpy(copy, bytes, size);
  ::GlobalUnlock(block.Get());
  return LoadFromMemory(block.Get(), size);
}

int CPictureExWnd::LoadFromMemory(HGLOBAL block, DWORD size) {
  Clear();
  const auto* data = static_cast<const std::uint8_t*>(::GlobalLock(block));
  if (data == nullptr) return 0;
  if (IsGifData(data, size)) {
    m_isGif = 1;
    CGifSplitter::Attach(data, size);
    m_width = static_cast<LONG>(ScreenWidth());
    m_height = static_cast<LONG>(ScreenHeight());
    const int loaded = LoadGif(*this, block, m_frames, m_singlePicture);
    CGifSplitter::Detach();
    ::GlobalUnlock(block);
    if (!loaded) return 0;
  } else {
    ::GlobalUnlock(block);
    m_singlePicture = DecodePicture(block, size, false);
    WindowDc dc(WindowHandle());
    if (!m_singlePicture || !dc.Dc() ||
        !PicturePixelSize(m_singlePicture.Get(), dc.Dc(), m_width, m_height)) {
      m_singlePicture.Reset();
      return 0;
    }
  }
  return CreateMemoryImage(m_width, m_height);
}

int CPictureExWnd::CreateMemoryImage(LONG width, LONG height) {
  HWND window = WindowHandle();
  ::SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
  WindowDc dc(window);
  if (!dc.Dc()) return 0;
  std::lock_guard<SlimLock> lock(*m_imageLock);
  m_memDC.Reset(::CreateCompatibleDC(dc.Dc()));
  if (!m_memDC) return 0;
  m_memBitmap.Reset(::CreateCompatibleBitmap(dc.Dc(), width, height));
  if (!m_memBitmap) {
    m_memDC.Reset();
    return 0;
  }
  m_memSelection = SelectedObject(m_memDC.Get(), m_memBitmap.Get());
  m_bkColor = ::GetSysColor(COLOR_BTNFACE);
  const RECT whole{0, 0, width, height};
  ::FillRect(m_memDC.Get(), &whole, reinterpret_cast<HBRUSH>(COLOR_MENU + 1));
  m_ready = 1;
  return 1;
}

void CPictureExWnd::SetBackground(COLORREF colour) {
  if (!m_ready) return;
  std::lock_guard<SlimLock> lock(*m_imageLock);
  m_bkColor = colour;
  FillImage({0, 0, m_width, m_height}, colour);
}

void CPictureExWnd::FillImage(const RECT& rect, COLORREF colour) {
  FillSolid(m_memDC.Get(), rect, colour);
}

bool CPictureExWnd::RenderFrame(IPicture* picture, LONG left, LONG top, LONG width, LONG height) {
  OLE_XSIZE_HIMETRIC himetricWidth = 0;
  OLE_YSIZE_HIMETRIC himetricHeight = 0;
  if (picture == nullptr || FAILED(picture->get_Width(&himetricWidth)) ||
      FAILED(picture->get_Height(&himetricHeight))) {
    return false;
  }
  return SUCCEEDED(picture->Render(m_memDC.Get(), left, top, width, height, 0, himetricHeight,
                                   himetricWidth, -himetricHeight, nullptr));
}

int CPictureExWnd::Play() {
  if (!m_ready) return 0;
  if (m_isGif && m_frames.size() > 1) {
    // One thread at a time: a second would draw into the same image.
    if (m_thread) return 0;
    auto run = std::make_shared<AnimationRun>();
    run->window = this;
    run->imageLock = m_imageLock;
    HANDLE process = ::GetCurrentProcess();
    if (!::DuplicateHandle(process, m_stopEvent.Get(), process, run->stopEvent.Receive(), 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
      return 0;
    }
    // The thread's own reference, given up by the thread when it ends.
    auto* threadRun = new std::shared_ptr<AnimationRun>(run);
    HANDLE thread =
        ::CreateThread(nullptr, 0, &AnimationThread, threadRun, CREATE_SUSPENDED, nullptr);
    if (thread == nullptr) {
      delete threadRun;
      return 0;
    }
    m_thread.Reset(thread);
    m_run = std::move(run);
    ::ResumeThread(thread);
    return 0;
  }
  if (!m_singlePicture) return 0;
  bool drawn = false;
  {
    std::lock_guard<SlimLock> lock(*m_imageLock);
    drawn = RenderFrame(m_singlePicture.Get(), 0, 0, m_width, m_height);
  }
  if (!drawn) return 0;
  ::InvalidateRect(WindowHandle(), nullptr, FALSE);
  return 1;
}

DWORD WINAPI CPictureExWnd::AnimationThread(void* parameter) {
  std::unique_ptr<std::shared_ptr<AnimationRun>> run(
      static_cast<std::shared_ptr<AnimationRun>*>(parameter));
  AnimationRun& own = **run;
  // Only while the run is not stopped may the window be touched, and only
  // under the image lock: the window releases what the thread uses under
  // that lock, after stopping the run.
  {
    std::lock_guard<SlimLock> lock(*own.imageLock);
    if (own.stop) return 0;
    own.window->Animate(own);
  }
  return 0;
}

DWORD CPictureExWnd::FrameWaitMs(DWORD delay) {
  // Delays under 5 hundredths are shown for 100 ms. A frame without a
  // graphic control extension (0xFFFFFFFF) has no delay of its own: it is
  // timed like the shortest, not held until the animation stops.
  if (delay == CGifSplitter::kNoDelay || delay < kMinimumDelay) return kShortFrameMs;
  return delay * 10;
}

// Runs on the animation thread, entered and left with the image lock held;
// the lock is let go only for the frame wait.
void CPictureExWnd::Animate(AnimationRun& run) {
  SlimLock& imageLock = *run.imageLock;
  HWND window = WindowHandle();
  // A restart after StopAnimation: the frame that was showing is disposed
  // of and then drawn again.
  Dispose(m_frames[m_currentFrame]);
  for (;;) {
    const FrameInfo& frame = m_frames[m_currentFrame];
    if (frame.disposal == 3) SaveUnder(frame);
    if (RenderFrame(frame.picture.Get(), frame.left, frame.top, frame.width, frame.height))
      ::InvalidateRect(window, nullptr, FALSE);
    const DWORD waitMs = FrameWaitMs(frame.delay);
    imageLock.unlock();
    ::WaitForSingleObject(run.stopEvent.Get(), waitMs);
    imageLock.lock();
    // Stopped during the wait: the frame stays current and undisposed.
    if (run.stop) return;
    Dispose(frame);
    if (++m_currentFrame >= m_frames.size()) {
      // Each pass starts on a clean background.
      m_currentFrame = 0;
      FillImage({0, 0, m_width, m_height}, m_bkColor);
    }
  }
}

void CPictureExWnd::SaveUnder(const FrameInfo& frame) {
  m_saveSelection.Reset();
  m_saveBitmap.Reset();
  m_saveDC.Reset(::CreateCompatibleDC(m_memDC.Get()));
  m_saveBitmap.Reset(::CreateCompatibleBitmap(m_memDC.Get(), frame.width, frame.height));
  if (m_saveDC && m_saveBitmap)
    m_saveSelection = SelectedObject(m_saveDC.Get(), m_saveBitmap.Get());
  if (!m_saveSelection) {
    m_saveDC.Reset();
    m_saveBitmap.Reset();
    return;
  }
  ::BitBlt(m_saveDC.Get(), 0, 0, frame.width, frame.height, m_memDC.Get(), frame.left, frame.top,
           SRCCOPY);
}

void CPictureExWnd::Dispose(const FrameInfo& frame) {
  if (frame.disposal == 2) {
    FillImage({frame.left, frame.top, frame.left + frame.width, frame.top + frame.height},
              m_bkColor);
  } else if (frame.disposal == 3 && m_saveDC) {
    ::BitBlt(m_memDC.Get(), frame.left, frame.top, frame.width, frame.height, m_saveDC.Get(), 0, 0,
             SRCCOPY);
    m_saveSelection.Reset();
    m_saveDC.Reset();
    m_saveBitmap.Reset();
  }
}

bool CPictureExWnd::StopThread() {
  if (m_run) m_run->stop = true;
  ::SetEvent(m_stopEvent.Get());
  bool ended = true;
  if (m_thread) {
    ended = ::WaitForSingleObject(m_thread.Get(), kStopWaitMs) == WAIT_OBJECT_0;
    // A thread that overran keeps its run, stopped for good: it touches
    // nothing of the window again once it sees that under the image lock.
    m_thread.Reset();
    m_run.reset();
  }
  ::ResetEvent(m_stopEvent.Get());
  return ended;
}

int CPictureExWnd::StopAnimation() {
  StopThread();
  return 0;
}

void CPictureExWnd::ReleaseImages() {
  m_saveSelection.Reset();
  m_saveDC.Reset();
  m_saveBitmap.Reset();
  m_memSelection.Reset();
  m_memDC.Reset();
  m_memBitmap.Reset();
}

void CPictureExWnd::Clear() {
  StopThread();
  std::lock_guard<SlimLock> lock(*m_imageLock);
  m_singlePicture.Reset();
  m_frames.clear();
  ReleaseImages();
  CGifSplitter::Detach();
  m_ready = 0;
  m_isGif = 0;
  m_currentFrame = 0;
  m_bkColor = RGB(255, 255, 255);
}

LRESULT CPictureExWnd::OnPaint() {
  HWND window = WindowHandle();
  if (!::GetUpdateRect(window, nullptr, FALSE)) return 0;
  PaintGuard paint(window);
  if (!paint.Dc()) return E_FAIL;
  std::lock_guard<SlimLock> lock(*m_imageLock);
  if (m_memDC) ::BitBlt(paint.Dc(), 0, 0, m_width, m_height, m_memDC.Get(), 0, 0, SRCCOPY);
  return 0;
}
