// The notification dialog, owner of the update workflow. Created hidden by the
// entry point from template IDD_MAIN_DIALOG, it runs on the main thread and
// ends the message loop with its exit code when its window is destroyed (or
// the process at once, while a check thread still runs). The
// check runs on a worker thread of its own, which reports to the dialog as
// its IHttpCallback; that thread changes the window only with ShowWindow,
// SetWindowTextW and a posted WM_CLOSE.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "http/http_request.h"
#include "picture/gif_frames_win.h"
#include "picture/picture_window_win.h"
#include "platform/unique_handle.h"
#include "platform/window.h"
#include "settings/settings.h"
#include "workflow/dialog_palette.h"
#include "workflow/installer_launch.h"

class CMainDialog;

// The check thread's routine: one request against the download location, or
// the check URL while there is none, reported back to `dialog`. Returns 0.
DWORD CheckThreadProc(CMainDialog* dialog);

class CMainDialog : public CDialogBase<CMainDialog>, public IHttpCallback {
 public:
  // `checkUrl` as the command line gave it. The request asks its ANSI form;
  // a URL that the ANSI code page cannot hold exactly is not asked at all.
  CMainDialog(std::wstring checkUrl, int pinCertificate);

  bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                            LRESULT& result);

  // Before the window is made: when no reminder is pending, the check starts
  // at once, so that its request goes out while the window is being made;
  // what it reports waits until the window is ready. Otherwise, and when it
  // cannot start, the window's initialisation decides as usual.
  void StartCheckEarly();
  // A check thread was started (it may have ended since).
  bool CheckStarted() const noexcept {
    return m_hCheckThread != INVALID_HANDLE_VALUE && m_hCheckThread != nullptr;
  }

  // The process exit code once the loop has ended: 1 unless an installer ran
  // and exited with 0.
  int ExitCode() const noexcept { return m_exitCode; }
  const std::string& CheckUrl() const noexcept { return m_checkUrl; }
  int PinCertificate() const noexcept { return m_pinCertificate; }

  // IHttpCallback, on the check thread inside Send. 302: the offer; 200: the
  // installer (saved, started, waited for, deleted); errors: no update.
  int OnResponse(int status, const HttpResponse* response) override;
  int OnError(int code, DWORD detail) override;
  bool OnChallenge() override { return ClaimAnswer(); }
  // On a check thread: a newer check has replaced this one.
  bool Abandoned() const;
  // On a check thread: the head of the answer has come, so the time limit
  // no longer applies. False when the limit gave this check up first: then
  // nothing of its answer may be used.
  bool ClaimAnswer();

 private:
  friend DWORD CheckThreadProc(CMainDialog* dialog);

  // While a reminder is pending the dialog waits, hidden, and tests every
  // 90 seconds whether it has run out.
  static constexpr UINT_PTR kReminderTimerId = 100;
  static constexpr UINT kReminderTimerMs = 90000;
  // Posted by a due check that never reached the server.
  static constexpr UINT kCheckUnreachedMessage = WM_APP + 1;
  // A check whose answer's head has not come this long after its start is
  // given up, as if the server had not been reached: the platform bounds
  // every wait for the server but not all of them (Wine none in the TLS
  // handshake), nor their sum.
  static constexpr UINT_PTR kAnswerLimitTimerId = 102;
  static constexpr UINT kAnswerLimitMs = 60000;

  // The message map proper.
  bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  LRESULT OnInitDialog();
  LRESULT OnDestroy();
  bool OnCommand(UINT id, LRESULT& result);
  LRESULT OnButton(UINT id);

  // Every view appears without taking the keyboard from the program in
  // front, however it is shown: keys typed for that program must never
  // answer the offer.
  void OnWindowPosChanging(WINDOWPOS* position);
  // Once a view has appeared, or changed into the no-update view while
  // shown: a screen reader announces it, and the taskbar button flashes
  // until the user comes to it. Any thread.
  void AnnounceView();
  // Enter presses the focused button; with none focused it does nothing,
  // rather than the dialog manager's IDOK, which is "Yes".
  LRESULT OnGetDefaultId();

  // The look (main_dialog_look_win.cpp): the background picture, white text
  // on the blue, flat owner-drawn buttons, and the place by the taskbar; or
  // the user's colours without pictures under high contrast.
  static constexpr COLORREF kBlue = RGB(2, 117, 198);
  // Reads the high-contrast setting and the system's colours again, and
  // repaints when they changed.
  LRESULT OnColoursChanged();
  // The animation shows in the download view, unless the palette has no
  // pictures.
  void ShowAnimation(bool inView);
  LRESULT OnEraseBackground(HDC dc);
  LRESULT OnCtlColorStatic(HDC dc);
  LRESULT OnDrawItem(UINT controlId, const DRAWITEMSTRUCT* drawItem);
  // When a view shows for the first time (the check thread's ShowWindow
  // sends this before the window becomes visible): decodes the background
  // and the animation, once, and places the animation. Until then the
  // process holds no decoded picture: most runs never show a view.
  LRESULT OnShowWindow(bool shown);
  // The dialog against the taskbar, at init; it keeps the client area's size
  // in the template, the dialog's own size, which the animation is placed by.
  void PlaceDialog();
  // The animation under the text, centred by its width once decoded.
  void PlaceAnimation();

  // Reminder (reminder_win.cpp), all on the dialog's thread.
  // At start: wait for a pending reminder with the timer, or check now.
  void WaitOrCheck();
  // "Later": the reminder menu at the button's top-left corner.
  LRESULT ShowReminderMenu();
  // Commands 2001 to 2004 of that menu; ends the dialog in every case.
  LRESULT OnReminderCommand(UINT id);
  // Timer 100: when the postponement has run out, the due check.
  LRESULT OnTimer();
  // Another copy asks for a check now, shown even when negative.
  LRESULT OnUpdateNow();
  // Stops the timer and checks, unless a check was started before: then the
  // schedule is cleared at once, or, while a due check still waits for its
  // answer, when that answer comes. The schedule of a new check is cleared
  // when the server answers; one that never reaches it keeps the reminder
  // and the copy waits again, longer after each such try (90 s to an hour).
  LRESULT StartDueCheck();
  LRESULT OnCheckUnreached();
  // Timer kAnswerLimitTimerId: a check still without its answer's head is
  // left behind inside the platform (it is not ended: it may hold a lock of
  // the heap's or the platform's); what it reports later is ignored.
  LRESULT OnAnswerLimit();

  // On the check thread, once the server has answered with any status.
  void OnServerAnswered();
  // Another copy asks this one to quit (unless IS_TAVRIN_AUTOIMPORTER is set).
  LRESULT OnExitRequest();
  // Installs and registers the per-user copy, records the postponement and
  // starts the copy (self_install_win.cpp). 1 when recorded, 0 when nothing
  // was done.
  int ScheduleReminder(DelayMode mode);

  // Starts a check thread into m_hCheckThread; it first waits for
  // `predecessor` to end, when one is given. A thread that cannot be made
  // ends the dialog with exit code 1: nothing else would ever close it.
  void StartCheckThread(HANDLE predecessor);
  bool CheckThreadRunning() const;
  // On the check thread, before it touches the window: returns once the
  // window is initialised.
  void WaitForWindow() const;

  void ShowDownloadView();
  void ShowNoUpdateView();
  void SetControlText(HWND control, unsigned textId);

  // The 200 answer, on the check thread, once the body is whole in
  // m_installerFile: 1 when the installer was started.
  int InstallFromBody();
  // Starts the installer and waits for it; `verified`, the file held since
  // its signature was checked (or nothing), is let go once it started.
  int RunInstaller(const std::wstring& installerPath, UniqueFileHandle& verified);

  // Shared with the check thread without a lock; the order of events keeps
  // writes apart, atomics keep each read whole.
  std::atomic<int> m_installerRunning{0};  // 1 while a started installer is waited for
  std::atomic<int> m_exitCode{1};
  // Set by a due check before it starts; cleared by the check thread once
  // the server has answered, when it clears the schedule.
  std::atomic<bool> m_resetScheduleOnAnswer{false};
  // Set by a due check that never reached the server, before it posts
  // kCheckUnreachedMessage; taken by the dialog's thread.
  std::atomic<bool> m_dueCheckUnreached{false};
  // The last due check never reached the server: the next due tick starts
  // one again. Dialog thread only.
  bool m_retryDueCheck = false;
  // Due checks in a row that never reached the server. Dialog thread only.
  uint32_t m_unreachedChecks = 0;
  // Twice the number of the current check thread (a thread whose number is
  // not the current one was given up), plus one once its answer's head has
  // come. The thread claims the answer and the time limit gives the thread
  // up each with one exchange, so exactly one of them wins.
  std::atomic<uint32_t> m_checkClaim{0};
  // Check threads given up where they hang: the end of the run must not
  // free what they still use, so it ends the process while one runs. Their
  // handles are kept open; past the last slot, any end counts as one.
  static constexpr size_t kAbandonedSlots = 8;
  HANDLE m_hAbandonedThreads[kAbandonedSlots] = {};
  size_t m_abandonedCount = 0;
  bool AbandonedThreadRunning() const;
  std::string m_checkUrl;  // empty when the ANSI code page cannot hold it
  // The check URL as the command line gave it, for the copy's command lines.
  std::wstring m_checkUrlText;
  int m_pinCertificate;
  // Where the running request's 200 body goes. Set and read by the check
  // thread only, for the length of its request.
  InstallerFile* m_installerFile = nullptr;
  HWND m_hText = nullptr;
  HWND m_hYesButton = nullptr;
  HWND m_hLaterButton = nullptr;
  HWND m_hTerminateButton = nullptr;
  CPictureExWnd m_picture;
  PicturePtr m_background;        // null when the resource is missing or does not decode
  bool m_picturesLoaded = false;  // their decoding was tried, when a view first showed
  SIZE m_layoutSize{};            // set by PlaceDialog
  // Returned for every static control, so it lives as long as the dialog,
  // or until the colours change.
  UniqueBrush m_hStaticBrush;
  DialogPalette m_palette = ChoosePalette(false, {});
  bool m_animationInView = false;
  // The location of the last redirect; once set, every later check asks it.
  // Written by a check thread, read by the next one when it starts, after
  // its predecessor has ended.
  std::string m_downloadUrl;
  // INVALID_HANDLE_VALUE: no check was ever started. The handle of a
  // finished thread is kept, never closed: the starters other than "Yes"
  // must see that a check was made and not start another. Only a due check
  // that never reached the server is closed, when it is tried again.
  HANDLE m_hCheckThread = INVALID_HANDLE_VALUE;
  DWORD m_checkThreadId = 0;
  // Signalled at the end of the window's initialisation; a check started
  // before it waits for it. Null when it could not be made: then no check
  // starts early.
  UniqueKernelHandle m_hWindowReady;
};
