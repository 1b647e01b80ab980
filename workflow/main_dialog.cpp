#include "workflow/main_dialog.h"

#include <utility>

CMainDialog::CMainDialog(std::string checkUrl, int pinCertificate)
    : m_checkUrl(std::move(checkUrl)), m_pinCertificate(pinCertificate) {}

bool CMainDialog::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
  switch (message) {
    case WM_INITDIALOG:
      return Handled(result, OnInitDialog());
    case WM_DESTROY:
      return Handled(result, OnDestroy());
    case WM_COMMAND:
      return OnCommand(CommandId(wParam), result);
    default:
      return false;
  }
}

LRESULT CMainDialog::OnInitDialog() {
  // There is no update check yet: the dialog closes as soon as it exists, and
  // the run ends with exit code 1. The close goes through the default dialog
  // handling (WM_CLOSE becomes IDCANCEL), as every later close will.
  ::PostMessageW(WindowHandle(), WM_CLOSE, 0, 0);
  return 0;  // no focus is set
}

LRESULT CMainDialog::OnDestroy() {
  ::PostQuitMessage(m_exitCode);
  return 0;
}

bool CMainDialog::OnCommand(UINT id, LRESULT& result) {
  switch (id) {
    case IDCANCEL:
      return Handled(result, OnButton(id));
    default:
      return false;
  }
}

LRESULT CMainDialog::OnButton(UINT id) {
  if (id == IDCANCEL) DestroyWindow();
  return 0;
}
