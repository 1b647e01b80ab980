// The reminder on the dialog's thread: the menu of "Later", the choices it
// records, the 90-second tick of a waiting copy and the two messages that
// other copies of the program broadcast.
#include <windows.h>

#include <cstdint>
#include <ctime>

#include "app/globals.h"
#include "platform/unique_handle.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "text/text.h"
#include "workflow/main_dialog.h"
#include "workflow/reminder_policy.h"

static_assert(kDelayNone == static_cast<std::uint32_t>(DelayMode::None) &&
              kDelayTomorrow == static_cast<std::uint32_t>(DelayMode::Tomorrow) &&
              kDelayNextWeek == static_cast<std::uint32_t>(DelayMode::NextWeek) &&
              kDelayNextMonth == static_cast<std::uint32_t>(DelayMode::NextMonth));

namespace {

StoredReminder ReadStoredReminder() {
  StoredReminder stored;
  DWORD mode = 0;
  int64_t lastTime = 0;
  stored.delayModeRead = ReadSetting(HKEY_CURRENT_USER, "delaymode", &mode, sizeof mode) != FALSE;
  stored.delayMode = mode;
  stored.lastTimeRead =
      ReadSetting(HKEY_CURRENT_USER, "lasttime", &lastTime, sizeof lastTime) != FALSE;
  stored.lastTime = lastTime;
  return stored;
}

// Set in this process's environment, whatever its value (an empty one too).
bool EnvironmentVariableSet(const wchar_t* name) {
  ::SetLastError(ERROR_SUCCESS);
  const DWORD length = ::GetEnvironmentVariableW(name, nullptr, 0);
  return length > 0 || ::GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

}  // namespace

void CMainDialog::StartCheckEarly() {
  if (!m_hWindowReady || ReminderPendingAtStart(ReadStoredReminder())) return;
  StartCheckThread(nullptr);
}

void CMainDialog::WaitOrCheck() {
  // A check started before the window existed has its time limit from now.
  if (CheckStarted()) ::SetTimer(WindowHandle(), kAnswerLimitTimerId, kAnswerLimitMs, nullptr);
  // The first due-test comes with the first tick, not now.
  if (ReminderPendingAtStart(ReadStoredReminder())) {
    ::SetTimer(WindowHandle(), kReminderTimerId, kReminderTimerMs, nullptr);
  } else if (m_hCheckThread == INVALID_HANDLE_VALUE) {
    StartCheckThread(nullptr);
  }
}

LRESULT CMainDialog::ShowReminderMenu() {
  UniqueMenu menu(::CreatePopupMenu());
  if (!menu) return 0;
  struct Item {
    UINT command;
    UINT text;
  };
  for (const Item& item : {Item{ID_REMIND_TOMORROW, IDS_REMIND_TOMORROW},
                           Item{ID_REMIND_NEXT_WEEK, IDS_REMIND_NEXT_WEEK},
                           Item{ID_REMIND_NEXT_MONTH, IDS_REMIND_NEXT_MONTH},
                           Item{ID_DONT_ASK_AGAIN, IDS_DONT_ASK_AGAIN}}) {
    std::wstring text = LoadText(item.text);
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING | MIIM_ID;
    info.wID = item.command;
    info.dwTypeData = text.data();
    // By command, before item 0, which no menu holds: each goes to the end.
    ::InsertMenuItemW(menu.Get(), 0, FALSE, &info);
  }
  RECT button = {};
  ::GetWindowRect(m_hLaterButton, &button);
  // The choice comes back as WM_COMMAND; a dismissed menu sends nothing.
  ::TrackPopupMenu(menu.Get(), 0, button.left, button.top, 0, WindowHandle(), &button);
  return 0;
}

LRESULT CMainDialog::OnReminderCommand(UINT id) {
  switch (id) {
    case ID_REMIND_TOMORROW:
      ScheduleReminder(DelayMode::Tomorrow);
      break;
    case ID_REMIND_NEXT_WEEK:
      ScheduleReminder(DelayMode::NextWeek);
      break;
    case ID_REMIND_NEXT_MONTH:
      ScheduleReminder(DelayMode::NextMonth);
      break;
    case ID_DONT_ASK_AGAIN: {
      const DWORD disabled = 1;
      WriteSetting("md_cu_disable", REG_DWORD, &disabled, sizeof disabled);
      break;
    }
  }
  DestroyWindow();
  return 0;
}

LRESULT CMainDialog::OnTimer() {
  if (!ReminderDue(ReadStoredReminder(), static_cast<int64_t>(std::time(nullptr)))) return 0;
  return StartDueCheck();
}

LRESULT CMainDialog::OnUpdateNow() {
  g_forceCheck = 1;  // the user asked: a negative answer is shown
  return StartDueCheck();
}

LRESULT CMainDialog::StartDueCheck() {
  HANDLE predecessor = nullptr;
  if (m_retryDueCheck) {
    // The last due check never reached the server. Its thread ends right
    // after it said so; one that has not yet is waited for by the next, off
    // this window's thread (its handle then stays open).
    if (CheckThreadRunning()) {
      predecessor = m_hCheckThread;
    } else if (m_hCheckThread != nullptr) {
      ::CloseHandle(m_hCheckThread);
    }
    m_hCheckThread = INVALID_HANDLE_VALUE;
    m_retryDueCheck = false;
  }
  ::KillTimer(WindowHandle(), kReminderTimerId);
  if (m_hCheckThread != INVALID_HANDLE_VALUE) {
    // A due check still waiting for its answer keeps the reminder until it
    // has one; a forced check that comes meanwhile is acted on when it
    // ends: its answer is shown, and if it never reaches the server, the
    // check is made again at once.
    if (m_resetScheduleOnAnswer) return 0;
    // A check started earlier in this process (the offer is on screen, or
    // the download runs) has had its answer and is not started again.
    ResetSchedule();
    return 0;
  }
  // The schedule is cleared only once the server has answered: a laptop
  // that is offline when the reminder runs out is reminded later.
  m_resetScheduleOnAnswer = true;
  StartCheckThread(predecessor);
  return 0;
}

LRESULT CMainDialog::OnCheckUnreached() {
  // Anyone may post this number; only the due check that said so makes the
  // copy wait again.
  if (!m_dueCheckUnreached.exchange(false)) return 0;
  m_retryDueCheck = true;
  if (m_unreachedChecks < UINT32_MAX) ++m_unreachedChecks;
  // Asked to check now while that check was under way: now, not later.
  if (g_forceCheck != 0) return StartDueCheck();
  // Each try that fails waits longer for the next, up to an hour.
  ::SetTimer(WindowHandle(), kReminderTimerId, UnreachedRetrySeconds(m_unreachedChecks) * 1000,
             nullptr);
  return 0;
}

void CMainDialog::OnServerAnswered() {
  if (m_resetScheduleOnAnswer.exchange(false)) ResetSchedule();
}

LRESULT CMainDialog::OnExitRequest() {
  // The installer we wait for may never come back to us; the schedule must
  // not bring the offer back after it has done its work.
  if (m_installerRunning) ResetSchedule();
  if (!EnvironmentVariableSet(L"IS_TAVRIN_AUTOIMPORTER"))
    ::PostMessageW(WindowHandle(), WM_CLOSE, 0, 0);
  return 0;
}
