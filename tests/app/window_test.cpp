// The window bases, the message loop and the GDI guards against the real
// window manager.
#include "platform/window.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/startup.h"
#include "platform/gdi.h"
#include "platform/module.h"
#include "platform/unique_handle.h"

namespace {

constexpr UINT kTestDialog = 901;
constexpr int kLabel = 100;

struct Seen {
  UINT message;
  WPARAM wParam;
};

class CTestDialog : public CDialogBase<CTestDialog> {
 public:
  bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    m_seen.push_back({message, wParam});
    switch (message) {
      case WM_INITDIALOG:
        return Handled(result, OnInitDialog(window));
      case WM_APP:
        return Handled(result, 42);
      case WM_CTLCOLORDLG:
        return Handled(result, reinterpret_cast<LRESULT>(m_brush));
      case WM_COMMAND:
        return CommandId(wParam) == IDCANCEL && Handled(result, OnCancel());
      case WM_DESTROY:
        return Handled(result, OnDestroy());
      default:
        return false;
    }
  }
  void OnFinalMessage(HWND window) { m_finalWindows.push_back(window); }

  bool Saw(UINT message, WPARAM wParam) const {
    for (const Seen& seen : m_seen)
      if (seen.message == message && seen.wParam == wParam) return true;
    return false;
  }

  std::vector<Seen> m_seen;
  std::vector<HWND> m_finalWindows;
  HWND m_windowAtInit = nullptr;
  HBRUSH m_brush = static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH));

 private:
  LRESULT OnInitDialog(HWND window) {
    m_windowAtInit = WindowHandle();
    EXPECT_EQ(m_windowAtInit, window);
    return 0;
  }
  LRESULT OnCancel() {
    DestroyWindow();
    return 0;
  }
  LRESULT OnDestroy() {
    ::PostQuitMessage(5);
    return 0;
  }
};

// Takes over a static control: answers WM_APP itself and counts WM_SETTEXT
// before the control's own procedure stores the text.
class CTestControl : public CWindowBase<CTestControl> {
 public:
  bool ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
      case WM_APP:
        return Handled(result, 7);
      case WM_SETTEXT:
        return OnSetText(wParam, lParam, result);
      default:
        return false;
    }
  }
  void OnFinalMessage(HWND window) { m_finalWindows.push_back(window); }

  int m_setTexts = 0;
  std::vector<HWND> m_finalWindows;

 private:
  bool OnSetText(WPARAM wParam, LPARAM lParam, LRESULT& result) {
    ++m_setTexts;
    return Handled(result, DefaultProcessing(WM_SETTEXT, wParam, lParam));
  }
};

std::wstring TextOf(HWND window) {
  wchar_t text[64] = {};
  ::GetWindowTextW(window, text, 64);
  return text;
}

// Dispatches what is waiting in this thread's queue.
void Pump() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

}  // namespace

TEST(DialogBase, RoutesMessagesAndReturnsHandledResults) {
  CTestDialog dialog;
  HWND window = dialog.Create(nullptr, kTestDialog);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(dialog.m_windowAtInit, window);
  EXPECT_EQ(dialog.WindowHandle(), window);

  // Through DWLP_MSGRESULT for an ordinary message, directly for a colour.
  EXPECT_EQ(::SendMessageW(window, WM_APP, 0, 0), 42);
  EXPECT_EQ(::SendMessageW(window, WM_APP + 1, 0, 0), 0);
  EXPECT_TRUE(dialog.Saw(WM_APP + 1, 0));
  EXPECT_EQ(::SendMessageW(window, WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(window)),
            reinterpret_cast<LRESULT>(dialog.m_brush));
  dialog.DestroyWindow();
  Pump();
}

TEST(DialogBase, PostedCloseBecomesCancelAndEndsWithTheFinalMessage) {
  CTestDialog dialog;
  HWND window = dialog.Create(nullptr, kTestDialog);
  ASSERT_NE(window, nullptr);
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(RunMessageLoop(), 5);
  EXPECT_TRUE(dialog.Saw(WM_COMMAND, IDCANCEL));
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_EQ(dialog.WindowHandle(), nullptr);
  EXPECT_EQ(dialog.m_finalWindows, std::vector<HWND>{window});
}

TEST(DialogBase, MissingTemplateOrSecondCreateGivesNoWindow) {
  CTestDialog dialog;
  EXPECT_EQ(dialog.Create(nullptr, 999), nullptr);
  EXPECT_EQ(dialog.WindowHandle(), nullptr);
  EXPECT_TRUE(dialog.m_seen.empty());

  HWND window = dialog.Create(nullptr, kTestDialog);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(dialog.Create(nullptr, kTestDialog), nullptr);
  EXPECT_EQ(dialog.WindowHandle(), window);
  dialog.DestroyWindow();
  Pump();
}

// This test program carries no notification-dialog template: the run must
// end at once instead of waiting for a quit message that never comes.
TEST(MainDialogRun, MissingTemplateEndsWithOne) {
  EXPECT_EQ(RunMainDialog(DialogParameters{L"http://u/c", 1}), kNoDialogExitCode);
  EXPECT_EQ(kNoDialogExitCode, 1);
}

TEST(DialogBase, ObjectGoneFirstTakesItsWindowAlongWithoutCallingBack) {
  HWND window = nullptr;
  {
    CTestDialog dialog;
    window = dialog.Create(nullptr, kTestDialog);
    ASSERT_NE(window, nullptr);
  }
  EXPECT_FALSE(::IsWindow(window));
  // The destroyed object's WM_DESTROY handler would have posted a quit.
  MSG message;
  EXPECT_FALSE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST(MessageLoop, DialogKeysGoThroughItsNavigationAndTheRestIsDispatched) {
  CTestDialog dialog;
  HWND window = dialog.Create(nullptr, kTestDialog);
  ASSERT_NE(window, nullptr);
  // Enter and Escape become IDOK and IDCANCEL, as in any dialog; the
  // dialog's procedure never sees the keys themselves. Its IDCANCEL ends it.
  ::PostMessageW(window, WM_APP + 2, 9, 0);
  ::PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  ::PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  EXPECT_EQ(RunMessageLoop(), 5);
  EXPECT_TRUE(dialog.Saw(WM_APP + 2, 9));
  EXPECT_TRUE(dialog.Saw(WM_COMMAND, IDOK));
  EXPECT_TRUE(dialog.Saw(WM_COMMAND, IDCANCEL));
  EXPECT_FALSE(dialog.Saw(WM_KEYDOWN, VK_ESCAPE));
  EXPECT_FALSE(::IsWindow(window));
  Pump();
}

TEST(WindowBase, SubclassedControlAnswersFirstAndForwardsTheRest) {
  CTestDialog dialog;
  ASSERT_NE(dialog.Create(nullptr, kTestDialog), nullptr);
  HWND label = ::GetDlgItem(dialog.WindowHandle(), kLabel);
  CTestControl control;
  ASSERT_TRUE(control.SubclassWindow(label));
  EXPECT_EQ(control.WindowHandle(), label);

  EXPECT_EQ(::SendMessageW(label, WM_APP, 0, 0), 7);
  ::SetWindowTextW(label, L"changed");
  EXPECT_EQ(control.m_setTexts, 1);
  EXPECT_EQ(TextOf(label), L"changed");

  // One object per window, and one window per object.
  CTestControl second;
  EXPECT_FALSE(second.SubclassWindow(label));
  EXPECT_FALSE(control.SubclassWindow(::GetDlgItem(dialog.WindowHandle(), IDOK)));

  EXPECT_EQ(control.UnsubclassWindow(), label);
  EXPECT_EQ(control.WindowHandle(), nullptr);
  EXPECT_EQ(::SendMessageW(label, WM_APP, 0, 0), 0);
  ::SetWindowTextW(label, L"again");
  EXPECT_EQ(control.m_setTexts, 1);
  EXPECT_EQ(TextOf(label), L"again");
  EXPECT_TRUE(control.m_finalWindows.empty());

  // Free again for another object.
  EXPECT_TRUE(second.SubclassWindow(label));
  dialog.DestroyWindow();
  Pump();
  EXPECT_EQ(second.m_finalWindows, std::vector<HWND>{label});
  EXPECT_EQ(second.WindowHandle(), nullptr);
}

TEST(WindowBase, DoesNotCutOffALaterSubclass) {
  CTestDialog dialog;
  ASSERT_NE(dialog.Create(nullptr, kTestDialog), nullptr);
  HWND label = ::GetDlgItem(dialog.WindowHandle(), kLabel);
  CTestControl control;
  ASSERT_TRUE(control.SubclassWindow(label));
  static WNDPROC s_ours = nullptr;
  s_ours = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
      label, GWLP_WNDPROC,
      reinterpret_cast<LONG_PTR>(+[](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        return m == WM_APP + 3 ? 11 : ::CallWindowProcW(s_ours, w, m, wp, lp);
      })));
  EXPECT_EQ(control.UnsubclassWindow(), nullptr);
  EXPECT_EQ(::SendMessageW(label, WM_APP + 3, 0, 0), 11);
  EXPECT_EQ(::SendMessageW(label, WM_APP, 0, 0), 7);
  dialog.DestroyWindow();
  Pump();
  EXPECT_EQ(control.WindowHandle(), nullptr);
}

TEST(GdiGuards, SelectionIsUndoneOnceEvenAfterAMove) {
  UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
  ASSERT_TRUE(dc);
  UniqueBitmap bitmap(::CreateCompatibleBitmap(dc.Get(), 4, 4));
  UniqueBitmap other(::CreateCompatibleBitmap(dc.Get(), 4, 4));
  ASSERT_TRUE(bitmap && other);
  const HGDIOBJ original = ::GetCurrentObject(dc.Get(), OBJ_BITMAP);
  {
    SelectedObject first(dc.Get(), bitmap.Get());
    ASSERT_TRUE(first);
    EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_BITMAP), bitmap.Get());
    SelectedObject moved(std::move(first));
    EXPECT_FALSE(first);
    first.Reset();  // an emptied guard restores nothing
    EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_BITMAP), bitmap.Get());
    SelectedObject nested(dc.Get(), other.Get());
    nested.Reset();
    EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_BITMAP), bitmap.Get());
  }
  EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_BITMAP), original);
}

TEST(GdiGuards, WindowDcIsReleased) {
  CTestDialog dialog;
  ASSERT_NE(dialog.Create(nullptr, kTestDialog), nullptr);
  HDC taken = nullptr;
  {
    WindowDc dc(dialog.WindowHandle());
    taken = dc.Dc();
    ASSERT_NE(taken, nullptr);
  }
  // A released DC can no longer be released.
  EXPECT_EQ(::ReleaseDC(dialog.WindowHandle(), taken), 0);
  dialog.DestroyWindow();
  Pump();
}

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
