// How the program's dialog looks on the screen, at 96, 144 and 192 DPI: the
// offer, download and no-update views captured from the running program and
// checked by pixel; where it stands; and that a run decodes its pictures
// only once it shows them. With TAVRIN_SCREENSHOT_DIR set, the captures are
// also written there as bitmaps (the README's pictures).
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "app/globals.h"
#include "platform/gdi.h"
#include "platform/unique_handle.h"
#include "resources/resource.h"
#include "tests/http/test_server_client.h"
#include "tests/support/registry.h"
#include "tests/support/run_raw.h"
#include "tests/support/screen_capture.h"
#include "tests/support/ui_driver.h"
#include "text/text.h"
#include "workflow/main_dialog_look.h"
#include "workflow/taskbar_placement.h"

namespace {

constexpr char kDesktopKey[] = "Control Panel\\Desktop";
constexpr COLORREF kBlue = RGB(2, 117, 198);
constexpr COLORREF kGrey = RGB(217, 217, 217);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);

using Capture = ScreenCapture;

// Whether process `id` has loaded the platform's image codecs, or nothing
// when its modules cannot be listed. Wine's picture decoder hands GIF data
// to them, so they arrive with the first decoded animation frame.
std::optional<bool> CodecsLoaded(DWORD id) {
  UniqueFileHandle snapshot;
  // A process still loading its modules may refuse a snapshot once.
  for (int attempt = 0; attempt < 5 && !snapshot; ++attempt)
    snapshot.Reset(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, id));
  if (!snapshot) return std::nullopt;
  MODULEENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Module32FirstW(snapshot.Get(), &entry); more;
       more = Module32NextW(snapshot.Get(), &entry)) {
    if (_wcsicmp(entry.szModule, L"windowscodecs.dll") == 0) return true;
  }
  return false;
}

// The mean green of row `y` between `left` and `right`.
double MeanGreen(const Capture& capture, int left, int right, int y) {
  double sum = 0;
  for (int x = left; x < right; ++x) sum += GetGValue(capture.At(x, y));
  return sum / (right - left);
}

// Control `id`'s rectangle in the dialog's client coordinates.
RECT ControlRect(HWND dialog, int id) {
  RECT rect{};
  HWND control = GetDlgItem(dialog, id);
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

RECT Inset(RECT rect, int by) {
  return {rect.left + by, rect.top + by, rect.right - by, rect.bottom - by};
}

// The mean green of rows of our background bitmap (a 24-bit bottom-up BMP in
// this module's resources, as in the program's), over columns [from, to) in
// fractions of its width.
double BitmapRowGreen(double row, double from, double to) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_BACKGROUND), L"JPEG");
  const auto* bmp = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, found)));
  const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(bmp + sizeof(BITMAPFILEHEADER));
  const int width = info->biWidth;
  const int height = info->biHeight;
  const std::uint8_t* pixels = bmp + reinterpret_cast<const BITMAPFILEHEADER*>(bmp)->bfOffBits;
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  const int y = height - 1 - static_cast<int>(row * (height - 1));
  double sum = 0;
  const int left = static_cast<int>(from * width), right = static_cast<int>(to * width);
  for (int x = left; x < right; ++x) sum += pixels[y * stride + x * 3 + 1];
  return sum / (right - left);
}

class DialogLookTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ResetProgramState();
    ResetTestServers();
    SetDword(Hive::Machine, kLanguageKey, "force_lcid", 0x0409);
    m_savedDpi = ReadValue(Hive::User, kDesktopKey, "LogPixels");
    SetDword(Hive::User, kDesktopKey, "LogPixels", static_cast<uint32_t>(GetParam()));
  }
  void TearDown() override {
    m_process.reset();
    if (m_savedDpi && m_savedDpi->AsDword())
      SetDword(Hive::User, kDesktopKey, "LogPixels", *m_savedDpi->AsDword());
    else
      DeleteValue(Hive::User, kDesktopKey, "LogPixels");
    ResetProgramState();
  }

  // The dialog once it shows, within `shownMs` (0: not waited for).
  HWND Start(const std::string& options, const std::string& path, DWORD shownMs = 20000) {
    const std::string url =
        TestServerUrl("http", "127.0.0.1", TestServerPort("TAVRIN_TEST_HTTP_PORT"), path);
    const std::wstring tail = std::wstring(options.begin(), options.end()) + L"\"\" \"" +
                              std::wstring(url.begin(), url.end()) + L"\" \"0\"";
    m_process = std::make_unique<RawProcess>(ProgramCommand(tail));
    EXPECT_TRUE(m_process->Started());
    return shownMs ? WaitForShownDialog(m_process->Id(), shownMs) : nullptr;
  }

  // The client area once `view` holds for it (painting takes a while).
  Capture Painted(HWND dialog, const std::function<bool(const Capture&)>& view) {
    Capture capture;
    WaitUntil(
        [&] {
          capture = CaptureClient(dialog);
          return view(capture);
        },
        10000);
    return capture;
  }

  void Save(const Capture& capture, const char* view) {
    if (const char* folder = getenv("TAVRIN_SCREENSHOT_DIR")) {
      const std::string path =
          std::string(folder) + "\\" + view + "-" + std::to_string(GetParam()) + "dpi.bmp";
      EXPECT_TRUE(capture.WriteBmp(std::wstring(path.begin(), path.end()))) << path;
    }
  }

  DWORD ExitCode() {
    DWORD code = 0xDEAD;
    EXPECT_TRUE(m_process->Wait(10000, code));
    return code;
  }

  std::unique_ptr<RawProcess> m_process;
  std::optional<RegistryValue> m_savedDpi;
};

// A flat face of one colour with text of another in the middle.
void ExpectButton(const Capture& capture, const RECT& button, COLORREF face, COLORREF text) {
  const RECT inner = Inset(button, 1);
  const int area = (inner.right - inner.left) * (inner.bottom - inner.top);
  EXPECT_GT(capture.Count(inner, face), area / 2);
  EXPECT_GT(capture.Count(inner, text), 5) << "no text drawn";
  EXPECT_EQ(capture.At(button.left + 1, button.bottom - 2), face);
}

TEST_P(DialogLookTest, OfferAndDownloadViews) {
  ScriptedAnswer offer;
  offer.status = 302;
  offer.location = "/dl/setup.exe";
  ScriptAnswer("/check", offer);
  ScriptedAnswer slow;
  slow.stallSeconds = 60;
  ScriptAnswer("/dl/setup.exe", slow);
  HWND dialog = Start("", "/check");
  ASSERT_TRUE(dialog);

  // Size and place: DPI-aware, so the client grows with the DPI; against
  // the taskbar Wine reports, else in the work area's corner.
  RECT client{}, window{};
  GetClientRect(dialog, &client);
  GetWindowRect(dialog, &window);
  static int widthAt96 = 0;
  if (GetParam() == 96) widthAt96 = client.right;
  if (GetParam() != 96 && widthAt96 > 0) {
    EXPECT_NEAR(client.right * 1.0 / widthAt96, GetParam() / 96.0, 0.1 * GetParam() / 72.0);
  }
  APPBARDATA taskbar{};
  taskbar.cbSize = sizeof(taskbar);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int cx = window.right - window.left, cy = window.bottom - window.top;
  const ScreenPoint expected =
      SHAppBarMessage(ABM_GETTASKBARPOS, &taskbar)
          ? DialogPosition(taskbar.uEdge,
                           {taskbar.rc.left, taskbar.rc.top, taskbar.rc.right, taskbar.rc.bottom},
                           cx, cy)
          : ScreenPoint{work.right - cx, work.bottom - cy};
  EXPECT_EQ(window.left, expected.x);
  EXPECT_EQ(window.top, expected.y);
  EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);

  const RECT yes = ControlRect(dialog, IDC_YES_BUTTON);
  const RECT later = ControlRect(dialog, IDC_LATER_BUTTON);
  const RECT text = ControlRect(dialog, IDC_MESSAGE_TEXT);
  const Capture shot = Painted(dialog, [&](const Capture& c) {
    return c.At(yes.right - 2, yes.top + 1) == kBlue &&
           c.At(later.right - 2, later.top + 1) == kGrey && c.Count(text, kWhite) > 30;
  });
  Save(shot, "offer");
  ExpectButton(shot, ControlRect(dialog, IDC_YES_BUTTON), kBlue, kWhite);
  ExpectButton(shot, ControlRect(dialog, IDC_LATER_BUTTON), kGrey, kBlack);
  EXPECT_GT(shot.Count(ControlRect(dialog, IDC_MESSAGE_TEXT), kWhite), 30) << "white text";
  // The bitmap is stretched over the client area: its top, middle and bottom
  // rows at the same fractions of the height, beside the controls on the
  // right. Tiled or cropped, the gradient would not follow.
  for (double row : {0.03, 0.5, 0.97}) {
    const int y = static_cast<int>(row * (shot.height - 1));
    EXPECT_NEAR(MeanGreen(shot, shot.width * 88 / 100, shot.width * 98 / 100, y),
                BitmapRowGreen(row, 0.88, 0.98), 4.0)
        << "row " << row;
  }

  // The focus and a press show, each on its own button: brought to the
  // front, "Yes" has the focus and a mark in its text colour; "Later" held
  // down has its two colours swapped.
  SetForegroundWindow(dialog);
  const int shownWhite = shot.Count(Inset(yes, 1), kWhite);
  const Capture focused = Painted(dialog, [&](const Capture& c) {
    return c.Count(Inset(yes, 1), kWhite) > shownWhite + (yes.right - yes.left);
  });
  EXPECT_GT(focused.Count(Inset(yes, 1), kWhite), shownWhite + (yes.right - yes.left))
      << "no focus mark";
  EXPECT_EQ(focused.Count(later, kGrey), shot.Count(later, kGrey)) << "Later changed";
  HWND laterButton = GetDlgItem(dialog, IDC_LATER_BUTTON);
  SendMessageW(laterButton, BM_SETSTATE, TRUE, 0);
  const Capture pressed = Painted(
      dialog, [&](const Capture& c) { return c.At(later.right - 2, later.top + 1) == kBlack; });
  ExpectButton(pressed, later, kBlack, kGrey);
  SendMessageW(laterButton, BM_SETSTATE, FALSE, 0);

  PressButton(dialog, IDC_YES_BUTTON);
  const RECT terminate = ControlRect(dialog, IDC_CLOSE_BUTTON);
  Capture first = Painted(dialog, [&](const Capture& c) {
    return c.Count(later, kGrey) == 0 && c.At(terminate.right - 2, terminate.top + 1) == kBlue &&
           c.Count(text, kWhite) > 30;
  });
  ExpectButton(first, ControlRect(dialog, IDC_CLOSE_BUTTON), kBlue, kWhite);
  EXPECT_EQ(first.Count(ControlRect(dialog, IDC_LATER_BUTTON), kGrey), 0) << "Later still drawn";
  // The animation plays under the text, at every DPI: its control starts
  // below the text's, and what changes while the download waits lies there.
  const RECT animation = ControlRect(dialog, IDC_ANIMATION);
  EXPECT_GE(animation.top, text.bottom) << "the animation's top edge is inside the text";
  Capture moving;
  int firstChangedRow = -1;
  EXPECT_TRUE(WaitUntil(
      [&] {
        moving = CaptureClient(dialog);
        for (int y = 0; y < first.height && firstChangedRow < 0; ++y)
          for (int x = 0; x < first.width; ++x)
            if (moving.At(x, y) != first.At(x, y)) firstChangedRow = y;
        return firstChangedRow >= 0;
      },
      3000));
  EXPECT_GE(firstChangedRow, text.bottom) << "the animation draws over the text";
  EXPECT_GE(firstChangedRow, animation.top);
  Save(moving, "download");
  PressButton(dialog, IDC_CLOSE_BUTTON);
  EXPECT_EQ(ExitCode(), 1u);
}

// A copy waiting for its reminder, and a run until its check is answered
// (which ends unseen when the answer is negative and nobody asked), hold no
// decoded picture; the view that shows has them.
TEST_P(DialogLookTest, NoUpdateView) {
  SetDword(Hive::User, kSettingsKey, "delaymode", 1);
  SetQword(Hive::User, kSettingsKey, "lasttime", static_cast<uint64_t>(UnixNow()));
  Start("", "/404", 0);
  HWND waiting = nullptr;
  ASSERT_TRUE(
      WaitUntil([&] { return (waiting = FindProgramDialog(m_process->Id())) != nullptr; }, 20000));
  // Answered once the dialog's thread runs its message loop, after its start.
  DWORD_PTR answer = 0;
  ASSERT_TRUE(SendMessageTimeoutW(waiting, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer));
  EXPECT_EQ(CodecsLoaded(m_process->Id()), false) << "a waiting copy decoded a picture";
  PostMessageW(waiting, RegisterWindowMessageW(L"WM_TAVRIN_BRENLO_EXIT"), 0, 0);
  EXPECT_EQ(ExitCode(), 1u);

  ScriptedAnswer late;
  late.status = 404;
  late.stallSeconds = 2;
  ScriptAnswer("/404", late);
  Start("/f ", "/404", 0);
  ASSERT_TRUE(WaitUntil([] { return !TestServerLog().empty(); }, 20000)) << "no check";
  EXPECT_EQ(CodecsLoaded(m_process->Id()), false) << "decoded before the check was answered";
  HWND dialog = WaitForShownDialog(m_process->Id(), 20000);
  ASSERT_TRUE(dialog);
  const RECT close = ControlRect(dialog, IDC_CLOSE_BUTTON);
  const RECT text = ControlRect(dialog, IDC_MESSAGE_TEXT);
  const Capture shot = Painted(dialog, [&](const Capture& c) {
    return c.At(close.right - 2, close.top + 1) == kBlue && c.Count(text, kWhite) > 30;
  });
  Save(shot, "no-update");
  ExpectButton(shot, ControlRect(dialog, IDC_CLOSE_BUTTON), kBlue, kWhite);
  EXPECT_GT(shot.Count(ControlRect(dialog, IDC_MESSAGE_TEXT), kWhite), 30);
  EXPECT_EQ(CodecsLoaded(m_process->Id()), true) << "shown without its animation decoded";
  PressButton(dialog, IDC_CLOSE_BUTTON);
  EXPECT_EQ(ExitCode(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Dpi, DialogLookTest, ::testing::Values(96, 144, 192));

// The program's template in this process, painted by the program's own
// drawing with a given palette: Wine cannot switch high contrast on.
struct Painter {
  DialogPalette palette;
  UniqueBrush brush;
};

INT_PTR CALLBACK PainterProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lParam);
  auto* painter = reinterpret_cast<Painter*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (!painter) return FALSE;
  switch (message) {
    case WM_ERASEBKGND: {
      RECT client{};
      GetClientRect(dialog, &client);
      PaintBackground(reinterpret_cast<HDC>(wParam), client, nullptr, painter->palette);
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1);
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
      SetStaticColours(reinterpret_cast<HDC>(wParam), painter->palette);
      return reinterpret_cast<INT_PTR>(painter->brush.Get());
    case WM_DRAWITEM:
      PaintButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), painter->palette,
                  wParam == IDC_LATER_BUTTON ? ButtonRole::Later : ButtonRole::Accept);
      return TRUE;
    default:
      return FALSE;
  }
}

// The user's colours and nothing of the painted look: the window's and the
// buttons' colours, framed buttons, the focus mark, the selection colours
// for a press, no picture and no blue. The README's picture of it.
TEST(HighContrastLook, TheUsersColoursFramedButtonsAndNoPicture) {
  // The platform's "High Contrast Black".
  const SystemColours scheme{kBlack, kWhite, kBlack, kWhite, RGB(26, 235, 255), kBlack};
  Painter painter{ChoosePalette(true, scheme), UniqueBrush(CreateSolidBrush(scheme.window))};
  g_forcedLangId = 0x0409;
  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN_DIALOG),
                                   nullptr, &PainterProc, reinterpret_cast<LPARAM>(&painter));
  ASSERT_TRUE(dialog);
  for (auto [id, text] :
       {std::pair{IDC_MESSAGE_TEXT, IDS_UPDATE_AVAILABLE}, std::pair{IDC_YES_BUTTON, IDS_YES},
        std::pair{IDC_LATER_BUTTON, IDS_LATER}})
    SetDlgItemTextW(dialog, id, LoadText(text).c_str());
  SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(dialog);
  SetFocus(GetDlgItem(dialog, IDC_YES_BUTTON));

  const RECT yes = ControlRect(dialog, IDC_YES_BUTTON);
  const RECT later = ControlRect(dialog, IDC_LATER_BUTTON);
  const RECT text = ControlRect(dialog, IDC_MESSAGE_TEXT);
  const COLORREF highlight = scheme.highlight;
  Capture shot;
  PumpUntil(
      [&] {
        shot = CaptureClient(dialog);
        return shot.At(yes.left + 2, (yes.top + yes.bottom) / 2) == kWhite &&
               shot.At(later.left, later.top) == kWhite;
      },
      10000);
  if (const char* folder = getenv("TAVRIN_SCREENSHOT_DIR")) {
    const std::string path = std::string(folder) + "\\high-contrast-96dpi.bmp";
    EXPECT_TRUE(shot.WriteBmp(std::wstring(path.begin(), path.end())));
  }
  EXPECT_EQ(shot.Count({0, 0, shot.width, shot.height}, kBlue), 0) << "the painted look shows";
  EXPECT_EQ(shot.At(1, shot.height / 2), kBlack) << "not the window colour";
  EXPECT_GT(shot.Count(text, kWhite), 30) << "the text is not in the window's text colour";
  // "Yes": framed, focused (the mark inside the frame), text on the face.
  EXPECT_EQ(shot.At(yes.left, (yes.top + yes.bottom) / 2), kWhite) << "no frame";
  EXPECT_EQ(shot.At(yes.left + 1, (yes.top + yes.bottom) / 2), kBlack);
  EXPECT_EQ(shot.At(yes.left + 2, (yes.top + yes.bottom) / 2), kWhite) << "no focus mark";
  EXPECT_GT(shot.Count(Inset(yes, 3), kBlack), (yes.right - yes.left) * (yes.bottom - yes.top) / 3);
  ExpectButton(shot, later, kBlack, kWhite);
  // "Later" pressed: the selection's colours.
  SendMessageW(GetDlgItem(dialog, IDC_LATER_BUTTON), BM_SETSTATE, TRUE, 0);
  PumpUntil(
      [&] {
        shot = CaptureClient(dialog);
        return shot.At(later.right - 2, later.top + 1) == highlight;
      },
      10000);
  ExpectButton(shot, later, highlight, kBlack);
  DestroyWindow(dialog);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
