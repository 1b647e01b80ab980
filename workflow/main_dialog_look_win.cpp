// The notification dialog's look and place: the background picture, white
// text on the blue, flat owner-drawn buttons that show their focus and their
// press, the animation under the text and the dialog against the taskbar;
// under high contrast the user's colours and no pictures. All on the
// dialog's thread.
#include "workflow/main_dialog.h"
#include "workflow/main_dialog_look.h"

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

// A frame `thickness` pixels wide along the inside of `rect`.
void DrawFrame(HDC dc, RECT rect, int thickness, COLORREF colour) {
  UniqueBrush brush(::CreateSolidBrush(colour));
  if (!brush) return;
  for (int i = 0; i < thickness; ++i) {
    ::FrameRect(dc, &rect, brush.Get());
    ::InflateRect(&rect, -1, -1);
  }
}

}  // namespace

DialogPalette CurrentPalette() {
  HIGHCONTRASTW highContrast = {};
  highContrast.cbSize = sizeof highContrast;
  const bool on =
      ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof highContrast, &highContrast, 0) &&
      (highContrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
  const SystemColours system{::GetSysColor(COLOR_WINDOW),    ::GetSysColor(COLOR_WINDOWTEXT),
                             ::GetSysColor(COLOR_BTNFACE),   ::GetSysColor(COLOR_BTNTEXT),
                             ::GetSysColor(COLOR_HIGHLIGHT), ::GetSysColor(COLOR_HIGHLIGHTTEXT)};
  return ChoosePalette(on, system);
}

void PaintBackground(HDC dc, const RECT& client, IPicture* picture, const DialogPalette& palette) {
  if (palette.pictures && RenderPicture(picture, dc, client)) return;
  // Without the picture the dialog is still the colour its text needs,
  // rather than whatever was on the screen before.
  UniqueBrush brush(::CreateSolidBrush(palette.background));
  if (brush) ::FillRect(dc, &client, brush.Get());
}

void SetStaticColours(HDC dc, const DialogPalette& palette) {
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, palette.text);
}

void PaintButton(const DRAWITEMSTRUCT& item, const DialogPalette& palette, ButtonRole role) {
  const ButtonLook look = LookOf(palette, role, (item.itemState & ODS_SELECTED) != 0,
                                 (item.itemState & ODS_FOCUS) != 0);
  HDC dc = item.hDC;
  RECT rect = item.rcItem;
  const COLORREF previous = ::SetBkColor(dc, look.face);
  if (previous != CLR_INVALID) {
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    ::SetBkColor(dc, previous);
  }
  // Marks grow with the DPI, as the button does.
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  const int scale = dpi > kBaseDpi ? ::MulDiv(1, dpi, kBaseDpi) : 1;
  if (look.framed) DrawFrame(dc, rect, scale, look.text);
  if (look.focusMark) {
    RECT mark = rect;
    ::InflateRect(&mark, -2 * scale, -2 * scale);
    DrawFrame(dc, mark, scale, look.text);
  }
  // The text cells are painted in the face colour too.
  ::SetBkColor(dc, look.face);
  ::SetTextColor(dc, look.text);
  wchar_t label[260] = {};
  const int length = ::GetWindowTextW(item.hwndItem, label, 260);
  ::DrawTextW(dc, label, length, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

LRESULT CMainDialog::OnEraseBackground(HDC dc) {
  RECT client{};
  ::GetClientRect(WindowHandle(), &client);
  PaintBackground(dc, client, m_background.Get(), m_palette);
  return 1;  // erased
}

LRESULT CMainDialog::OnCtlColorStatic(HDC dc) {
  SetStaticColours(dc, m_palette);
  if (!m_hStaticBrush) m_hStaticBrush.Reset(::CreateSolidBrush(m_palette.background));
  return reinterpret_cast<LRESULT>(m_hStaticBrush.Get());
}

LRESULT CMainDialog::OnDrawItem(UINT controlId, const DRAWITEMSTRUCT* drawItem) {
  if (drawItem == nullptr) return 1;
  switch (controlId) {
    case IDC_YES_BUTTON:
    case IDC_CLOSE_BUTTON:
      PaintButton(*drawItem, m_palette, ButtonRole::Accept);
      return 1;
    case IDC_LATER_BUTTON:
      PaintButton(*drawItem, m_palette, ButtonRole::Later);
      return 1;
    default:
      return 1;
  }
}

LRESULT CMainDialog::OnColoursChanged() {
  m_palette = CurrentPalette();
  m_hStaticBrush.Reset();
  ShowAnimation(m_animationInView);
  ::RedrawWindow(WindowHandle(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  return 0;
}

void CMainDialog::ShowAnimation(bool inView) {
  m_animationInView = inView;
  ::ShowWindow(m_picture.WindowHandle(), inView && m_palette.pictures ? SW_SHOW : SW_HIDE);
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
  // follows when it is stretched. Placed, it stays hidden and inactive: a
  // window activated while hidden is in front when it shows.
  ::SetWindowPos(window, nullptr, at.x, at.y, cx, cy, SWP_NOACTIVATE | SWP_NOZORDER);
}
