// The animated picture window against the real window manager, GDI and
// picture decoder: small made-up GIFs with real image data, watched on the
// screen while this thread pumps the window's paint messages.
#include "picture/picture_window_win.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/unique_handle.h"

namespace {

enum Colour : std::uint8_t { kRed, kGreen, kBlue, kWhite };
constexpr COLORREF kPalette[] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255),
                                 RGB(255, 255, 255)};
constexpr COLORREF kBackground = RGB(2, 117, 198);

struct Frame {
  int left, top, width, height;
  Colour colour;
  std::uint16_t delay;  // hundredths
  int disposal;
};

// A GIF of solid frames over a four-colour table. The image data is real
// LZW: a clear code before every two pixels keeps the codes 3 bits wide.
std::vector<std::uint8_t> MakeGif(int width, int height, const std::vector<Frame>& frames) {
  std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a'};
  auto u16 = [&](int value) {
    gif.push_back(static_cast<std::uint8_t>(value & 0xFF));
    gif.push_back(static_cast<std::uint8_t>(value >> 8));
  };
  u16(width);
  u16(height);
  gif.insert(gif.end(), {0x81, 0, 0});
  for (COLORREF c : kPalette) gif.insert(gif.end(), {GetRValue(c), GetGValue(c), GetBValue(c)});
  for (const Frame& f : frames) {
    gif.insert(gif.end(), {0x21, 0xF9, 4, static_cast<std::uint8_t>(f.disposal << 2)});
    u16(f.delay);
    gif.insert(gif.end(), {0, 0, 0x2C});
    u16(f.left);
    u16(f.top);
    u16(f.width);
    u16(f.height);
    gif.insert(gif.end(), {0, 2});
    std::vector<std::uint8_t> bits;
    std::uint32_t accumulator = 0;
    int count = 0;
    auto code = [&](std::uint32_t value) {
      accumulator |= value << count;
      for (count += 3; count >= 8; count -= 8, accumulator >>= 8)
        bits.push_back(static_cast<std::uint8_t>(accumulator));
    };
    for (int pixel = 0; pixel < f.width * f.height; ++pixel) {
      if (pixel % 2 == 0) code(4);
      code(f.colour);
    }
    code(5);
    if (count > 0) bits.push_back(static_cast<std::uint8_t>(accumulator));
    for (size_t at = 0; at < bits.size(); at += 255) {
      const size_t n = std::min<size_t>(255, bits.size() - at);
      gif.push_back(static_cast<std::uint8_t>(n));
      gif.insert(gif.end(), bits.begin() + at, bits.begin() + at + n);
    }
    gif.push_back(0);
  }
  gif.push_back(0x3B);
  return gif;
}

// Processes this thread's messages (the window's paints) until `condition`
// holds or `timeoutMs` passed.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    if (condition()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(10);
  }
}

int ThreadsOfThisProcess() {
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
       more = Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  return count;
}

// GDI objects in use. Where the platform counts them per process, its
// count; Wine does not, but hands out the lowest free slot of its handle
// table first, so the highest slot that a batch of new objects takes moves
// up by exactly the objects that stayed in use since the last batch.
long GdiObjectsInUse() {
  if (DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return count;
  std::vector<UniqueBrush> batch;
  long highest = 0;
  for (int i = 0; i < 2000; ++i) {
    batch.emplace_back(CreateSolidBrush(RGB(i & 0xFF, 1, 2)));
    highest = std::max<long>(highest, reinterpret_cast<UINT_PTR>(batch.back().Get()) & 0xFFFF);
  }
  return highest;
}

class PictureWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_parent = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 40, 40, 200,
                               100, nullptr, nullptr, nullptr, nullptr);
    m_control = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, 10, 10, 50,
                                50, m_parent, nullptr, nullptr, nullptr);
    ASSERT_TRUE(m_picture.SubclassWindow(m_control));
  }
  void TearDown() override {
    m_picture.Clear();
    DestroyWindow(m_parent);
  }

  int Load(const std::vector<std::uint8_t>& bytes) {
    UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
    std::memcpy(GlobalLock(block.Get()), bytes.data(), bytes.size());
    GlobalUnlock(block.Get());
    return m_picture.LoadFromMemory(block.Get(), static_cast<DWORD>(bytes.size()));
  }

  // The colour on the screen at (x, y) of the picture window.
  COLORREF Shown(int x, int y) const {
    POINT at{x, y};
    ClientToScreen(m_control, &at);
    HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, at.x, at.y);
    ReleaseDC(nullptr, screen);
    return colour;
  }
  bool ShowsWithin(int x, int y, COLORREF colour, DWORD timeoutMs) const {
    return PumpUntil([&] { return Shown(x, y) == colour; }, timeoutMs);
  }

  HWND m_parent = nullptr;
  HWND m_control = nullptr;
  CPictureExWnd m_picture;
};

// The frame under test covers (2,2)-(6,6) of an 8 x 8 screen that the first
// frame paints red; the third frame marks the top-left corner white and
// stays long enough to look at what the second one left behind.
TEST_F(PictureWindowTest, DisposalLeavesTheFrameTheBackgroundOrWhatWasUnderIt) {
  const struct {
    int disposal;
    COLORREF left;
  } cases[] = {{1, kPalette[kGreen]}, {2, kBackground}, {3, kPalette[kRed]}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.disposal);
    ASSERT_TRUE(Load(MakeGif(8, 8,
                             {{0, 0, 8, 8, kRed, 20, 1},
                              {2, 2, 4, 4, kGreen, 30, c.disposal},
                              {0, 0, 2, 2, kWhite, 500, 1}})));
    EXPECT_EQ(m_picture.PictureWidth(), 8);
    m_picture.SetBackground(kBackground);
    EXPECT_EQ(m_picture.Play(), 0) << "an animation runs on its thread";
    // The screen still shows the last case's end until the first frame.
    EXPECT_TRUE(ShowsWithin(0, 0, kPalette[kRed], 3000));
    EXPECT_TRUE(ShowsWithin(3, 3, kPalette[kGreen], 3000));
    EXPECT_EQ(Shown(0, 0), kPalette[kRed]) << "the first frame stays under the second";
    ASSERT_TRUE(ShowsWithin(0, 0, kPalette[kWhite], 3000));
    EXPECT_EQ(Shown(3, 3), c.left);
    EXPECT_EQ(Shown(7, 7), kPalette[kRed]);
  }
}

TEST_F(PictureWindowTest, StopsPromptlyKeepsItsFrameAndRunsOneThreadAtATime) {
  ASSERT_TRUE(Load(MakeGif(8, 8, {{0, 0, 8, 8, kRed, 20, 1}, {0, 0, 8, 8, kGreen, 2000, 1}})));
  const int threadsBefore = ThreadsOfThisProcess();
  m_picture.Play();
  m_picture.Play();
  EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore + 1);
  ASSERT_TRUE(ShowsWithin(4, 4, kPalette[kRed], 3000));
  ASSERT_TRUE(ShowsWithin(4, 4, kPalette[kGreen], 3000)) << "the animation does not move";

  // The green frame waits 20 s: a stop must not wait for it.
  const DWORD start = GetTickCount();
  EXPECT_EQ(m_picture.StopAnimation(), 0);
  EXPECT_LT(GetTickCount() - start, 1000u);
  EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore);

  // Played again, it goes on from the green frame, not from the first.
  m_picture.Play();
  EXPECT_FALSE(ShowsWithin(4, 4, kPalette[kRed], 400));
  EXPECT_EQ(Shown(4, 4), kPalette[kGreen]);
}

TEST_F(PictureWindowTest, WithoutAPictureOrWithASingleOneNoThreadRuns) {
  const int threadsBefore = ThreadsOfThisProcess();
  EXPECT_EQ(m_picture.Play(), 0) << "nothing loaded";
  EXPECT_EQ(Load({'G', 'I', 'F', '8', '9', 'a', 1, 0}), 0) << "a GIF without frames";
  EXPECT_EQ(m_picture.Play(), 0);
  // A GIF of one frame is one picture, drawn at once; its size is the screen's.
  ASSERT_NE(Load(MakeGif(6, 4, {{0, 0, 6, 4, kBlue, 0, 0}})), 0);
  EXPECT_EQ(m_picture.PictureWidth(), 6);
  EXPECT_EQ(m_picture.PictureHeight(), 4);
  EXPECT_EQ(m_picture.Play(), 1);
  EXPECT_TRUE(ShowsWithin(5, 3, kPalette[kBlue], 3000));
  EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore);
}

// A frame without a graphic control extension gets 100 ms, not forever, and
// a few hundred frames with disposals 2 and 3 leave no GDI object behind.
TEST_F(PictureWindowTest, HundredsOfFramesLeakNoGdiObject) {
  std::vector<std::uint8_t> gif = MakeGif(
      8, 8, {{0, 0, 8, 8, kRed, 5, 2}, {2, 2, 4, 4, kGreen, 5, 3}, {0, 0, 8, 8, kBlue, 0, 1}});
  // Take the third frame's graphic control extension out: 8 bytes before
  // its image descriptor, which is the last but one of the three.
  size_t descriptor = gif.size();
  for (int seen = 0; seen < 1;) {
    --descriptor;
    if (gif[descriptor] == 0x2C && gif[descriptor - 8] == 0x21 && gif[descriptor - 7] == 0xF9 &&
        gif[descriptor - 4] == 0)
      ++seen;
  }
  gif.erase(gif.begin() + static_cast<long>(descriptor) - 8, gif.begin() + descriptor);
  ASSERT_TRUE(Load(gif));
  m_picture.SetBackground(kBackground);
  const long before = GdiObjectsInUse();
  m_picture.Play();
  int passes = 0;
  COLORREF last = 0;
  PumpUntil(
      [&] {
        const COLORREF now = Shown(0, 0);
        if (now == kPalette[kBlue] && last != now) ++passes;
        last = now;
        return passes >= 70;
      },
      30000);
  m_picture.StopAnimation();
  EXPECT_GE(passes, 70) << "the frame without a delay held the animation";
  EXPECT_LE(GdiObjectsInUse() - before, 4);
}

}  // namespace
