// The notification dialog, owner of the update workflow. Created hidden by the
// entry point from template IDD_MAIN_DIALOG, it runs on the main thread and
// ends the message loop with its exit code when its window is destroyed.
#pragma once

#include <windows.h>

#include <string>

#include "platform/window.h"

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

  int m_installerRunning = 0;
  int m_exitCode = 1;
  std::string m_checkUrl;
  int m_pinCertificate;
};
