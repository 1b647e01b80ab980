// The check thread and the two answers it turns into the dialog's next step:
// the offer (302) and no update (any error). The 200 answer, the installer,
// is in installer_win.cpp.
#include <windows.h>
#include <wininet.h>
// After windows.h: RtlGenRandom, the platform's random generator.
#include <ntsecapi.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "app/globals.h"
#include "settings/settings.h"
#include "workflow/check_headers.h"
#include "workflow/last_update_header.h"
#include "workflow/main_dialog.h"

namespace {

// The machine's "lastupdate" is read with this limit, terminator included.
constexpr DWORD kLastUpdateLimit = 260;

// What a check thread is started with.
struct CheckThreadStart {
  CMainDialog* dialog;
  // A check thread that has not ended yet, or null. Its handle is one the
  // dialog keeps open for good, so it stays valid while this waits.
  HANDLE predecessor;
  uint32_t generation;
};

// The number the dialog gave this check thread when it started it.
thread_local uint32_t t_checkGeneration = 0;

DWORD WINAPI CheckThreadEntry(void* parameter) {
  const std::unique_ptr<CheckThreadStart> start(static_cast<CheckThreadStart*>(parameter));
  t_checkGeneration = start->generation;
  if (start->predecessor) ::WaitForSingleObject(start->predecessor, INFINITE);
  return CheckThreadProc(start->dialog);
}

// Passes the body on to the installer's file, and tells the dialog that the
// answer's head has come: a 200's body begins.
class HeadWatch : public IHttpBodySink {
 public:
  HeadWatch(CMainDialog& dialog, IHttpBodySink& sink) : m_dialog(dialog), m_sink(sink) {}
  // The file's own checks before the body (a release statement fetched)
  // count towards the time limit.
  bool BeginBody(DWORD length) override {
    return !m_dialog.Abandoned() && m_sink.BeginBody(length) && m_dialog.ClaimAnswer();
  }
  bool TakeBody(const void* data, DWORD size) override {
    return !m_dialog.Abandoned() && m_sink.TakeBody(data, size);
  }

 private:
  CMainDialog& m_dialog;
  IHttpBodySink& m_sink;
};

std::string ReadLastInstalledUpdate() {
  char stored[kLastUpdateLimit];
  ReadSettingHead(HKEY_LOCAL_MACHINE, "lastupdate", stored, sizeof stored);
  return LastInstalledUpdateHeader(stored, sizeof stored);
}

// The user's rollout bucket as the check sends it: the stored one, or one
// drawn now and stored. Empty when none could be stored, since a bucket
// drawn anew at every run would move the machine in and out of a share.
std::string RolloutBucketHeader() {
  DWORD bucket = 0;
  DWORD size = sizeof bucket;
  if (ReadOwnSetting("rolloutbucket", REG_DWORD, &bucket, size) && size == sizeof bucket &&
      bucket < kRolloutBuckets) {
    return std::to_string(bucket);
  }
  // A few tries: one number in about 600,000 is drawn again.
  for (int attempt = 0; attempt < 4; ++attempt) {
    ULONG random = 0;
    std::uint32_t drawn = 0;
    if (!RtlGenRandom(&random, sizeof random)) return {};
    if (!BucketFromRandom(random, drawn)) continue;
    bucket = drawn;
    if (!WriteSetting("rolloutbucket", REG_DWORD, &bucket, sizeof bucket)) return {};
    return std::to_string(bucket);
  }
  return {};
}

std::string LastCheckDay() {
  char stored[16] = {};
  DWORD size = sizeof stored;
  if (!ReadOwnSetting("lastcheckday", REG_SZ, stored, size)) size = 0;
  return LastCheckDayHeader(stored, size);
}

// Keeps the day of the server's answer, echoed by the next check.
void StoreServerDay(const char* value, void*) {
  const std::string day = ServerDay(value, strlen(value));
  if (!day.empty())
    WriteSetting("lastcheckday", REG_SZ, day.c_str(), static_cast<DWORD>(day.size() + 1));
}

}  // namespace

void CMainDialog::StartCheckThread(HANDLE predecessor) {
  const uint32_t generation = (m_checkClaim >> 1) + 1;
  auto* start = new (std::nothrow) CheckThreadStart{this, predecessor, generation};
  m_checkClaim = generation << 1;
  HANDLE thread =
      start ? ::CreateThread(nullptr, 0, &CheckThreadEntry, start, 0, &m_checkThreadId) : nullptr;
  if (thread) {
    m_hCheckThread = thread;
    // Before the window exists, its initialisation sets the limit.
    if (WindowHandle()) ::SetTimer(WindowHandle(), kAnswerLimitTimerId, kAnswerLimitMs, nullptr);
    return;
  }
  delete start;
  // Before the window exists nothing is lost: its initialisation tries again.
  if (WindowHandle()) {
    m_hCheckThread = nullptr;
    ::PostMessageW(WindowHandle(), WM_CLOSE, 0, 0);
  }
}

bool CMainDialog::Abandoned() const { return (m_checkClaim & ~1u) != (t_checkGeneration << 1); }

bool CMainDialog::ClaimAnswer() {
  const uint32_t mine = t_checkGeneration << 1;
  uint32_t seen = mine;
  return m_checkClaim.compare_exchange_strong(seen, mine | 1) || seen == (mine | 1);
}

bool CMainDialog::AbandonedThreadRunning() const {
  if (m_abandonedCount > kAbandonedSlots) return true;
  for (size_t i = 0; i < m_abandonedCount; ++i) {
    DWORD code = 0;
    if (::GetExitCodeThread(m_hAbandonedThreads[i], &code) && code == STILL_ACTIVE) return true;
  }
  return false;
}

LRESULT CMainDialog::OnAnswerLimit() {
  ::KillTimer(WindowHandle(), kAnswerLimitTimerId);
  uint32_t seen = m_checkClaim;
  if ((seen & 1) || !CheckThreadRunning()) return 0;
  // The head may come at this very moment: then the thread has won.
  if (!m_checkClaim.compare_exchange_strong(seen, ((seen >> 1) + 1) << 1)) return 0;
  // Left where it is; its handle stays open, and the next check does not
  // wait for it.
  if (m_abandonedCount < kAbandonedSlots) m_hAbandonedThreads[m_abandonedCount] = m_hCheckThread;
  ++m_abandonedCount;
  m_hCheckThread = nullptr;
  // As a check that could not reach the server: a due one keeps the
  // reminder and is tried again later, any other means no update.
  if (m_resetScheduleOnAnswer && g_forceCheck == 0) {
    m_dueCheckUnreached = true;
    return OnCheckUnreached();
  }
  if (g_forceCheck == 0) {
    ::PostMessageW(WindowHandle(), WM_CLOSE, 0, 0);
  } else {
    ShowNoUpdateView();
  }
  return 0;
}

void CMainDialog::WaitForWindow() const {
  if (m_hWindowReady) ::WaitForSingleObject(m_hWindowReady.Get(), INFINITE);
}

DWORD CheckThreadProc(CMainDialog* dialog) {
  try {
    // A copy: a redirect answered to this very request replaces the field
    // while the request still points into its URL text.
    const std::string url =
        dialog->m_downloadUrl.empty() ? dialog->m_checkUrl : dialog->m_downloadUrl;
    URL_COMPONENTSA parts;
    if (!CrackRequestUrl(url, parts)) {
      dialog->WaitForWindow();
      dialog->m_exitCode = 1;
      ::PostMessageW(dialog->WindowHandle(), WM_CLOSE, 0, 0);
      return 0;
    }
    const std::string lastUpdate = ReadLastInstalledUpdate();
    // A 200 is written to disk as it arrives; what exists of it is deleted
    // when the request is over, unless it was started and waited for.
    InstallerFile installer(url, dialog->m_pinCertificate);
    dialog->m_installerFile = &installer;
    HttpRequest request(dialog, parts, dialog->m_pinCertificate);
    if (!lastUpdate.empty()) request.SetLastInstalledUpdate(lastUpdate.c_str());
    // The check, not the download, says which share the machine is in and
    // lets the server count it; neither value identifies anybody. The day
    // is stored before the answer's callback, which may end the process.
    if (url == dialog->m_checkUrl) {
      const std::string bucket = RolloutBucketHeader();
      if (!bucket.empty()) request.SetHeader("X-Rollout-Bucket", bucket.c_str());
      request.SetHeader("X-Last-Check-Day", LastCheckDay().c_str());
      request.ReadResponseHeader("X-Server-Day", &StoreServerDay, nullptr);
    }
    HeadWatch watch(*dialog, installer);
    request.SetBodySink(&watch);
    request.Send();
    if (!dialog->Abandoned()) dialog->m_installerFile = nullptr;
  } catch (...) {
    // Out of memory somewhere in the run: end as any failed check does. The
    // file the request wrote to is gone with this thread's stack.
    dialog->m_installerFile = nullptr;
    dialog->WaitForWindow();
    ::PostMessageW(dialog->WindowHandle(), WM_CLOSE, 0, 0);
  }
  return 0;
}

int CMainDialog::OnResponse(int status, const HttpResponse* response) {
  // A check given up for its time limit has no say any more.
  if (!ClaimAnswer()) return 0;
  WaitForWindow();
  OnServerAnswered();
  if (status == 200) return InstallFromBody();
  // A redirect (302 or 303): the installer's location. Showing the window
  // shows the offer, or whatever view it is in after a second redirect.
  m_downloadUrl = response->url;
  ::ShowWindow(WindowHandle(), SW_SHOWNORMAL);
  return 0;
}

int CMainDialog::OnError(int code, DWORD detail) {
  if (!ClaimAnswer()) return 1;
  WaitForWindow();
  // A download that could not be saved (no folder, a full disk) ends
  // silently, as every failure of the installer's own steps does.
  const bool savingFailed = m_installerFile != nullptr && m_installerFile->Failed();
  if (m_installerFile != nullptr) m_installerFile->Discard();
  // Nothing came from the update server when opening, connecting or
  // sending failed (its answer's head not within the receive time-out
  // included), the pin refused the server, or a gateway said it could
  // not reach it or it could not answer now (502, 503, 504): a due reminder
  // is kept and tried again. A 407 is the proxy's word too, after the user
  // declined its prompt: the reminder is kept, but the copy ends instead of
  // asking every tick; the next logon asks again. Any other code is the
  // server's answer.
  // A body that came too slowly is a server past its time limit: as if it
  // had not been reached.
  const bool gatewayFailed =
      code == UnexpectedStatus && (detail == 502 || detail == 503 || detail == 504);
  const bool tooSlow = code == ReadFailed && detail == ERROR_INTERNET_TIMEOUT;
  const bool unreached = code <= CertificateMismatch || gatewayFailed || tooSlow;
  const bool proxyRefused = code == UnexpectedStatus && detail == 407;
  if (!unreached && !proxyRefused) {
    OnServerAnswered();
  } else if (unreached && m_resetScheduleOnAnswer && g_forceCheck == 0) {
    m_dueCheckUnreached = true;
    ::PostMessageW(WindowHandle(), kCheckUnreachedMessage, 0, 0);
    return 1;
  }
  // Every other failure, of the transport, TLS, pin or status, means no
  // update; only a check the user asked for says so.
  if (g_forceCheck == 0 || savingFailed) {
    ::PostMessageW(WindowHandle(), WM_CLOSE, 0, 0);
  } else {
    ShowNoUpdateView();
  }
  return 1;
}
