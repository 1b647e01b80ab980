// The animated picture window: takes over an existing child control, shows a
// picture in it and plays an animated GIF on a thread of its own. Every frame
// is composed into an off-screen memory image; painting copies that image.
//
// All operations are called on the thread that owns the control. The window
// owns its pictures, GDI objects and the animation thread's handle; whoever
// holds the object owns the object. Failures are reported by return values
// only and leave nothing drawn.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <atomic>
#include <memory>
#include <mutex>  // std::lock_guard
#include <vector>

#include "picture/gif_frames_win.h"
#include "picture/gif_splitter.h"
#include "platform/gdi.h"
#include "platform/slim_lock.h"
#include "platform/unique_handle.h"
#include "platform/window.h"

class CPictureExWnd : public CWindowBase<CPictureExWnd>, private CGifSplitter {
 public:
  // A frame shown for no longer than this waits this long (hundredths).
  static constexpr DWORD kMinimumDelay = 5;
  static constexpr DWORD kShortFrameMs = 100;
  // The longest StopAnimation waits for the thread.
  static constexpr DWORD kStopWaitMs = 5000;

  CPictureExWnd();
  ~CPictureExWnd();

  bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                            LRESULT& result);

  // Loads resource `name` / `type` of the program's module. Non-zero on success.
  int LoadFromResource(const wchar_t* name, const wchar_t* type);
  // Loads the picture in global memory `block` of `size` bytes, which the
  // caller keeps. A GIF of two or more frames becomes an animation; anything
  // else the decoder knows becomes one picture. Non-zero on success; the
  // window is resized to the picture's pixel size.
  int LoadFromMemory(HGLOBAL block, DWORD size);
  // Starts the animation thread (0), or draws the single picture (1 when
  // drawn). Nothing happens (0) before a successful load, or while the
  // animation already runs: one thread at a time.
  int Play();
  // Ends the animation thread, waiting for it at most kStopWaitMs; the frame
  // being shown stays current, so Play continues from it. Returns 0.
  int StopAnimation();
  // Stops the animation and lets go of everything loaded.
  void Clear();
  // The colour behind the frames; fills the whole memory image with it.
  // Does nothing before a successful load.
  void SetBackground(COLORREF colour);

  LONG PictureWidth() const noexcept { return m_width; }
  LONG PictureHeight() const noexcept { return m_height; }

 private:
  // What one animation thread shares with the window. The thread keeps its
  // own reference, so that a thread which overran StopAnimation's wait finds
  // its stop flag (set for good) and its event even after the window went.
  struct AnimationRun {
    CPictureExWnd* window = nullptr;
    std::atomic<bool> stop{false};
    UniqueKernelHandle stopEvent;  // a duplicate of the window's event
    std::shared_ptr<SlimLock> imageLock;
  };

  static DWORD WINAPI AnimationThread(void* parameter);
  // The frame loop; returns when `run` is stopped.
  void Animate(AnimationRun& run);
  // How long frame `frame` stays, in milliseconds.
  static DWORD FrameWaitMs(DWORD delay);

  int CreateMemoryImage(LONG width, LONG height);
  // Releases the memory image and the save area; the caller holds the lock.
  void ReleaseImages();
  void FillImage(const RECT& rect, COLORREF colour);
  bool RenderFrame(IPicture* picture, LONG left, LONG top, LONG width, LONG height);
  // Copies the area under `frame` into the save area (disposal 3).
  void SaveUnder(const FrameInfo& frame);
  void Dispose(const FrameInfo& frame);
  LRESULT OnPaint();
  bool StopThread();

  LONG m_width = 0;
  LONG m_height = 0;
  COLORREF m_bkColor = RGB(255, 255, 255);
  DWORD m_currentFrame = 0;
  int m_isGif = 0;
  int m_ready = 0;
  UniqueMemoryDc m_memDC;
  UniqueBitmap m_memBitmap;
  SelectedObject m_memSelection;
  UniqueMemoryDc m_saveDC;
  UniqueBitmap m_saveBitmap;
  SelectedObject m_saveSelection;
  UniqueKernelHandle m_thread;
  std::shared_ptr<AnimationRun> m_run;  // the running thread's, while m_thread is set
  UniqueKernelHandle m_stopEvent;
  PicturePtr m_singlePicture;
  std::vector<FrameInfo> m_frames;
  // Serialises the memory image and the save area between the animation
  // thread (a frame step) and this window's thread (paint, SetBackground,
  // release). Shared with the thread: see AnimationRun.
  std::shared_ptr<SlimLock> m_imageLock = std::make_shared<SlimLock>();
};
