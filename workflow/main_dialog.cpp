#include "workflow/main_dialog.h"

#include <cstdint>
#include <utility>

#include "app/globals.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "text/text.h"

namespace {

using ChangeWindowMessageFilterExFunction = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
constexpr DWORD kMessageFilterAllow = 1;  // MSGFLT_ALLOW
// How long the end of the dialog waits for a check thread that is returning.
constexpr DWORD kCheckThreadGraceMs = 500;

// Lets the registered messages of a lower-privileged copy through to
// `window`, where the platform has such a filter at all.
void AllowRegisteredMessages(HWND window) {
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  if (!user32) return;
  const auto allow = reinterpret_cast<ChangeWindowMessageFilterExFunction>(
      reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
  if (!allow) return;
  allow(window, g_updateNowMessage, kMessageFilterAllow, nullptr);
  allow(window, g_exitMessage, kMessageFilterAllow, nullptr);
}

}  // namespace

CMainDialog::CMainDialog(std::wstring checkUrl, int pinCertificate)
    : m_checkUrl(ToNarrow(checkUrl)),
      m_checkUrlText(std::move(checkUrl)),
      m_pinCertificate(pinCertificate),
      m_hWindowReady(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

bool CMainDialog::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                       LRESULT& result) {
  // Texts, paths and command lines are built in memory; a handler that runs
  // out of it ends the run as every failure does, closed with exit code 1,
  // instead of letting the exception reach the window procedure.
  try {
    return Dispatch(message, wParam, lParam, result);
  } catch (...) {
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    return Handled(result);
  }
}

bool CMainDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  // Registered numbers are known only at run time, so they come first.
  if (message == g_updateNowMessage) return Handled(result, OnUpdateNow());
  if (message == g_exitMessage) return Handled(result, OnExitRequest());
  switch (message) {
    case WM_INITDIALOG:
      return Handled(result, OnInitDialog());
    case WM_DESTROY:
      return Handled(result, OnDestroy());
    case WM_SHOWWINDOW:
      return Handled(result, OnShowWindow(wParam != FALSE));
    case WM_WINDOWPOSCHANGING:
      OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(lParam));
      return false;  // the platform's own handling follows
    case WM_WINDOWPOSCHANGED:
      if (lParam && (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_SHOWWINDOW))
        AnnounceView();
      return false;  // the platform's own handling sends WM_SIZE and WM_MOVE
    case DM_GETDEFID:
      return Handled(result, OnGetDefaultId());
    case WM_SYSCOLORCHANGE:
      return Handled(result, OnColoursChanged());
    case WM_SETTINGCHANGE:
      return wParam == SPI_SETHIGHCONTRAST ? Handled(result, OnColoursChanged()) : false;
    case WM_DRAWITEM:
      return Handled(result, OnDrawItem(static_cast<UINT>(wParam),
                                        reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)));
    case WM_CTLCOLORSTATIC:
      return Handled(result, OnCtlColorStatic(reinterpret_cast<HDC>(wParam)));
    case WM_ERASEBKGND:
      return Handled(result, OnEraseBackground(reinterpret_cast<HDC>(wParam)));
    case WM_TIMER:
      return Handled(result, wParam == kReminderTimerId      ? OnTimer()
                             : wParam == kAnswerLimitTimerId ? OnAnswerLimit()
                                                             : 0);
    case kCheckUnreachedMessage:
      return Handled(result, OnCheckUnreached());
    case WM_COMMAND:
      return OnCommand(CommandId(wParam), result);
    default:
      return false;
  }
}

bool CMainDialog::OnCommand(UINT id, LRESULT& result) {
  switch (id) {
    case IDC_YES_BUTTON:
    case IDCANCEL:
    case IDC_LATER_BUTTON:
    case IDC_CLOSE_BUTTON:
      return Handled(result, OnButton(id));
    case ID_REMIND_TOMORROW:
    case ID_REMIND_NEXT_WEEK:
    case ID_REMIND_NEXT_MONTH:
    case ID_DONT_ASK_AGAIN:
      return Handled(result, OnReminderCommand(id));
    default:
      return false;
  }
}

LRESULT CMainDialog::OnInitDialog() {
  HWND window = WindowHandle();
  AllowRegisteredMessages(window);

  m_hText = ::GetDlgItem(window, IDC_MESSAGE_TEXT);
  m_hYesButton = ::GetDlgItem(window, IDC_YES_BUTTON);
  m_hLaterButton = ::GetDlgItem(window, IDC_LATER_BUTTON);
  m_hTerminateButton = ::GetDlgItem(window, IDC_CLOSE_BUTTON);
  // Only taken over here: the pictures are decoded when a view first shows.
  m_picture.SubclassWindow(::GetDlgItem(window, IDC_ANIMATION));

  SetControlText(m_hText, IDS_UPDATE_AVAILABLE);
  SetControlText(m_hLaterButton, IDS_LATER);
  SetControlText(m_hTerminateButton, IDS_TERMINATE);
  SetControlText(m_hYesButton, IDS_YES);
  // Its name for screen readers, and a taskbar button and an Alt+Tab entry
  // that a keyboard user finds it by once it is behind another window.
  SetControlText(window, IDS_INSTALLER_TITLE);
  const LONG_PTR exStyle = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
  ::SetWindowLongPtrW(window, GWL_EXSTYLE, (exStyle & ~WS_EX_TOOLWINDOW) | WS_EX_APPWINDOW);
  OnColoursChanged();

  PlaceDialog();

  WaitOrCheck();
  if (m_hWindowReady) ::SetEvent(m_hWindowReady.Get());
  return 0;  // no focus is set
}

LRESULT CMainDialog::OnDestroy() {
  m_picture.StopAnimation();
  // The run is over: the proxy's password kept for it goes now.
  HttpRequest::ForgetKeptCredentials();
  // A check thread that has just posted the close is only returning: it is
  // given a moment to end, so that this run ends the ordinary way.
  const bool checkRunning =
      CheckThreadRunning() &&
      ::WaitForSingleObject(m_hCheckThread, kCheckThreadGraceMs) != WAIT_OBJECT_0;
  if (checkRunning || AbandonedThreadRunning()) {
    // The check thread may be anywhere: inside WinInet, inside the heap, or
    // waiting for an installer. Ending it alone (TerminateThread) could leave
    // a lock it held taken for good, and the rest of the teardown (this
    // window's own destruction, the entry point's frees) would then hang on
    // it. Ending the whole process here runs no further code in it at all,
    // so nothing can wait on what the thread held; the kernel closes the
    // mutex and every other handle.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(m_exitCode.load()));
  }
  ::KillTimer(WindowHandle(), kReminderTimerId);
  ::KillTimer(WindowHandle(), kAnswerLimitTimerId);
  ::PostQuitMessage(m_exitCode);
  return 0;
}

LRESULT CMainDialog::OnButton(UINT id) {
  switch (id) {
    case IDC_YES_BUTTON: {
      // The offer is shown from inside the thread of the first check, which
      // then still closes its handles: a quick click finds it running.
      // Killing it there could leave the heap's or WinInet's lock taken and
      // hang the download, so the new thread waits for it instead, off this
      // window's thread.
      HANDLE predecessor = CheckThreadRunning() ? m_hCheckThread : nullptr;
      ShowDownloadView();
      StartCheckThread(predecessor);
      return 0;
    }
    case IDC_LATER_BUTTON:
      return ShowReminderMenu();
    case IDCANCEL:
    case IDC_CLOSE_BUTTON:
      DestroyWindow();
      return 0;
    default:
      return 0;
  }
}

bool CMainDialog::CheckThreadRunning() const {
  // INVALID_HANDLE_VALUE is also the process's own pseudo handle: never ask it.
  if (m_hCheckThread == INVALID_HANDLE_VALUE || m_hCheckThread == nullptr) return false;
  DWORD code = 0;
  return ::GetExitCodeThread(m_hCheckThread, &code) && code == STILL_ACTIVE;
}

void CMainDialog::SetControlText(HWND control, unsigned textId) {
  ::SetWindowTextW(control, LoadText(textId).c_str());
}

void CMainDialog::OnWindowPosChanging(WINDOWPOS* position) {
  // Hidden, the window is not activated either: it would be in front once
  // shown.
  if (position && ((position->flags & SWP_SHOWWINDOW) || !::IsWindowVisible(WindowHandle())))
    position->flags |= SWP_NOACTIVATE;
}

void CMainDialog::AnnounceView() {
  HWND window = WindowHandle();
  ::NotifyWinEvent(EVENT_SYSTEM_ALERT, window, OBJID_CLIENT, CHILDID_SELF);
  if (::GetForegroundWindow() == window) return;
  FLASHWINFO flash = {};
  flash.cbSize = sizeof flash;
  flash.hwnd = window;
  flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
  ::FlashWindowEx(&flash);
}

LRESULT CMainDialog::OnGetDefaultId() {
  HWND focus = ::GetFocus();
  for (HWND button : {m_hYesButton, m_hLaterButton, m_hTerminateButton}) {
    if (focus == button && ::IsWindowVisible(button))
      return MAKELRESULT(::GetDlgCtrlID(button), DC_HASDEFID);
  }
  return MAKELRESULT(0, DC_HASDEFID);  // no control has id 0
}

void CMainDialog::ShowDownloadView() {
  SetControlText(m_hText, IDS_DOWNLOADING);
  ::ShowWindow(m_hTerminateButton, SW_SHOW);
  // The focus leaves the buttons that go before they are hidden, for the
  // one that stays; only while the dialog is active, since taking the focus
  // activates a window.
  if (::GetActiveWindow() == WindowHandle())
    ::SendMessageW(WindowHandle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_hTerminateButton),
                   TRUE);
  ::ShowWindow(m_hYesButton, SW_HIDE);
  ::ShowWindow(m_hLaterButton, SW_HIDE);
  ShowAnimation(true);
  m_picture.Play();
  // The transparent text lies over the painted background: erase it with
  // the new text, or the old one shows through.
  ::RedrawWindow(m_hText, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CMainDialog::ShowNoUpdateView() {
  ::ShowWindow(m_hLaterButton, SW_HIDE);
  ::ShowWindow(m_hYesButton, SW_HIDE);
  ::ShowWindow(m_hTerminateButton, SW_SHOW);
  SetControlText(m_hTerminateButton, IDS_OK);
  SetControlText(m_hText, IDS_NO_UPDATE_REQUIRED);
  // Shown from the download view, it does not appear anew: announced here.
  if (::IsWindowVisible(WindowHandle()))
    AnnounceView();
  else
    ::ShowWindow(WindowHandle(), SW_SHOWNOACTIVATE);
}
