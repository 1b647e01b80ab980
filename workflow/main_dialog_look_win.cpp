// The notification dialog's look and place: the background picture, white
// text on the blue, flat owner-drawn buttons, the animation under the text
// and the dialog against the taskbar. All on the dialog's thread.
#include "workflow/main_dialog.h"

#include <shellapi.h>

#include "picture/background_win.h"
#include "platform/gdi.h"
#include "resources/resource.h"
#include "workflow/taskbar_placement.h"

namespace {

// The animation's top edge in the client area, in pixels at 96 DPI: the
// template, text included, grows with the DPI, and so does this.
constexpr int kAnimationTopAt96Dpi = 100;
constexpr int kBaseDpi = 96;

ScreenRect ToScreenRect(const RECT& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }

}  // namespace

LRESULT CMainDialog::OnEraseBackground(HDC dc) {
  RECT client{};
  ::GetClientRect(WindowHandle(), &client);
  if (!RenderPicture(m_background.Get(), dc, client)) {
    // Without the picture the dialog is still the blue the white text needs,
    // rather than whatever was on the screen before.
    UniqueBrush blue(::CreateSolidBrush(kBlue));
    if (blue) ::FillRect(dc, &client, blue.Get());
  }
  return 1;  // erased
}

LRESULT CMainDialog::OnCtlColorStatic(HDC dc) {
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, kWhite);
  if (!m_hStaticBrush) m_hStaticBrush.Reset(::CreateSolidBrush(kBlue));
  return reinterpret_cast<LRESULT>(m_hStaticBrush.Get());
}

LRESULT CMainDialog::OnDrawItem(UINT controlId, const DRAWITEMSTRUCT* drawItem) {
  if (drawItem == nullptr) return 1;
  COLORREF face = kBlue;
  COLORREF text = kWhite;
  switch (controlId) {
    case IDC_YES_BUTTON:
    case IDC_CLOSE_BUTTON:
      break;
    case IDC_LATER_BUTTON:
      face = kLightGrey;
      text = kBlack;
      break;
    default:
      return 1;
  }
  // Flat: the state (pressed, focused) is not looked at, so a button looks
  // the same in every state.
  HDC dc = drawItem->hDC;
  RECT rect = drawItem->rcItem;
  const COLORREF previous = ::SetBkColor(dc, face);
  if (previous != CLR_INVALID) {
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    ::SetBkColor(dc, previous);
  }
  // The text cells are painted in the face colour too.
  ::SetBkColor(dc, face);
  ::SetTextColor(dc, text);
  wchar_t label[260] = {};
  const int length = ::GetWindowTextW(drawItem->hwndItem, label, 260);
  ::DrawTextW(dc, label, length, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  return 1;
}

LRESULT CMainDialog::OnShowWindow(bool shown) {
  if (!shown || m_picturesLoaded) return 0;
  m_picturesLoaded = true;
  // A missing or broken animation leaves the control empty, and a missing
  // background the plain blue; the workflow goes on without them.
  m_picture.LoadFromResource(MAKEINTRESOURCEW(IDR_DOWNLOAD_ANIMATION), L"GIF");
  m_picture.SetBackground(kBlue);
  m_background = LoadResourcePicture(MAKEINTRESOURCEW(IDR_BACKGROUND), L"JPEG");
  PlaceAnimation();
  return 0;
}

void CMainDialog::PlaceAnimation() {
  int dpi = kBaseDpi;
  const WindowDc dc(WindowHandle());
  if (dc.Dc() && ::GetDeviceCaps(dc.Dc(), LOGPIXELSY) > 0)
    dpi = ::GetDeviceCaps(dc.Dc(), LOGPIXELSY);
  const int top = ::MulDiv(kAnimationTopAt96Dpi, dpi, kBaseDpi);
  ::SetWindowPos(m_picture.WindowHandle(), nullptr,
                 (m_layoutSize.cx - m_picture.PictureWidth()) / 2, top, m_layoutSize.cx,
                 m_layoutSize.cy, 0);
}

void CMainDialog::PlaceDialog() {
  HWND window = WindowHandle();
  RECT client{};
  ::GetClientRect(window, &client);
  const int cx = client.right - client.left;
  const int cy = client.bottom - client.top;
  m_layoutSize = {cx, cy};

  APPBARDATA taskbar{};
  taskbar.cbSize = sizeof(taskbar);
  ScreenPoint at;
  if (::SHAppBarMessage(ABM_GETTASKBARPOS, &taskbar)) {
    at = DialogPosition(taskbar.uEdge, ToScreenRect(taskbar.rc), cx, cy);
  } else {
    // No taskbar to be found (none runs, or another shell): the corner of
    // the work area, where a bottom taskbar would have put it.
    RECT workArea{};
    if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0)) {
      workArea = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    }
    at = DialogPositionInWorkArea(ToScreenRect(workArea), cx, cy);
  }
  // The window itself is given the client area's size: its thin border then
  // takes a pixel off each side of the client area, which the background
  // follows when it is stretched.
  ::SetWindowPos(window, nullptr, at.x, at.y, cx, cy, 0);
}
