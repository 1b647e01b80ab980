// The notification dialog, owner of the update workflow. Created hidden by the
// entry point from template IDD_MAIN_DIALOG, it runs on the main thread and
// ends the message loop with its exit code when its window is destroyed.
#pragma once

#include <windows.h>

#include <string>

#include "platform/window.h"
#include "settings/settings.h"

// The waiting copy's reminder timer: its id and period.
inline constexpr UINT_PTR kReminderTimerId = 100;
inline constexpr UINT kReminderTimerPeriodMs = 90000;

class CMainDialog : public CDialogBase<CMainDialog> {
 public:
  CMainDialog(std::string checkUrl, int pinCertificate);

  bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                            LRESULT& result);

  // The process exit code once the loop has ended: 1 unless an installer ran
  // and exited with 0.
  int ExitCode() const noexcept { return m_exitCode; }
  const std::string& CheckUrl() const noexcept { return m_checkUrl; }
  int PinCertificate() const noexcept { return m_pinCertificate; }

 private:
  LRESULT OnInitDialog();
  LRESULT OnDestroy();
  bool OnCommand(UINT id, LRESULT& result);
  LRESULT OnButton(UINT id);

  // Reminder (reminder_win.cpp), all on the dialog's thread.
  // At start: wait for a pending reminder with the timer, or check now.
  void WaitOrCheck();
  // "Later": the reminder menu at the button's top-left corner.
  LRESULT ShowReminderMenu();
  // Commands 2001 to 2004 of that menu; ends the dialog in every case.
  LRESULT OnReminderCommand(UINT id);
  // Timer 100: when the postponement has run out, clear the schedule, stop
  // the timer and check, unless a check was started before.
  LRESULT OnTimer();
  // Another copy asks for a check now, shown even when negative.
  LRESULT OnUpdateNow();
  // Another copy asks this one to quit (unless IS_TAVRIN_AUTOIMPORTER is set).
  LRESULT OnExitRequest();
  // Installs and registers the per-user copy, records the postponement and
  // starts the copy (self_install_win.cpp). 1 when recorded, 0 when nothing
  // was done.
  int ScheduleReminder(DelayMode mode);

  void StartCheckThread();

  int m_installerRunning = 0;
  int m_exitCode = 1;
  std::string m_checkUrl;
  int m_pinCertificate;
  HWND m_hLaterButton = nullptr;
  HANDLE m_hCheckThread = INVALID_HANDLE_VALUE;
};
