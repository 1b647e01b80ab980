// Our own animation, read from this module's resources, split and decoded by
// the platform's real picture decoder.
#include "picture/gif_frames_win.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/gdi.h"
#include "platform/unique_handle.h"
#include "resources/resource.h"

namespace {

struct Resource {
  const std::uint8_t* data = nullptr;
  DWORD size = 0;
};

Resource DownloadAnimation() {
  Resource resource;
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_DOWNLOAD_ANIMATION), L"GIF");
  if (found == nullptr) return resource;
  HGLOBAL loaded = LoadResource(nullptr, found);
  resource.data = static_cast<const std::uint8_t*>(LockResource(loaded));
  resource.size = SizeofResource(nullptr, found);
  return resource;
}

// A movable global block holding a copy of the bytes, as a loader gets it.
UniqueGlobal CopyToGlobal(const void* bytes, DWORD size) {
  UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE, size));
  if (block) {
    std::memcpy(GlobalLock(block.Get()), bytes, size);
    GlobalUnlock(block.Get());
  }
  return block;
}

struct Loaded {
  int result = 0;
  std::vector<FrameInfo> frames;
  PicturePtr singlePicture;
  std::uint32_t screenWidth = 0;
  std::uint32_t screenHeight = 0;
};

Loaded Load(const void* bytes, DWORD size) {
  Loaded loaded;
  UniqueGlobal block = CopyToGlobal(bytes, size);
  if (!block) return loaded;
  const auto* data = static_cast<const std::uint8_t*>(GlobalLock(block.Get()));
  CGifSplitter walk;
  walk.Attach(data, size);
  loaded.screenWidth = walk.ScreenWidth();
  loaded.screenHeight = walk.ScreenHeight();
  loaded.result = LoadGif(walk, block.Get(), loaded.frames, loaded.singlePicture);
  walk.Detach();
  GlobalUnlock(block.Get());
  return loaded;
}

void* AllocateWithGlobal(std::uint32_t size) { return GlobalAlloc(GMEM_FIXED, size); }

// The pixels of `picture` rendered at width x height, top row first, 0x00RRGGBB.
std::vector<std::uint32_t> RenderPixels(IPicture* picture, LONG width, LONG height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
  if (!bitmap || !dc) return {};
  std::vector<std::uint32_t> pixels;
  {
    SelectedObject selected(dc.Get(), bitmap.Get());
    OLE_XSIZE_HIMETRIC himetricWidth = 0;
    OLE_YSIZE_HIMETRIC himetricHeight = 0;
    picture->get_Width(&himetricWidth);
    picture->get_Height(&himetricHeight);
    // The source rectangle runs bottom-up in HIMETRIC space.
    if (FAILED(picture->Render(dc.Get(), 0, 0, width, height, 0, himetricHeight, himetricWidth,
                               -himetricHeight, nullptr))) {
      return {};
    }
    GdiFlush();
    const auto* first = static_cast<const std::uint32_t*>(bits);
    pixels.assign(first, first + width * height);
  }
  return pixels;
}

constexpr std::uint32_t kDialogBlue = 0x0275C6;  // RGB(2, 117, 198) read as 0xRRGGBB
constexpr std::uint32_t kWhite = 0xFFFFFF;

}  // namespace

TEST(GifFrames, OurAnimationDecodesFrameByFrame) {
  const Resource gif = DownloadAnimation();
  ASSERT_NE(gif.data, nullptr);
  Loaded loaded = Load(gif.data, gif.size);
  ASSERT_EQ(loaded.result, 1);
  EXPECT_FALSE(loaded.singlePicture);
  EXPECT_EQ(loaded.screenWidth, 120u);
  EXPECT_EQ(loaded.screenHeight, 15u);
  ASSERT_EQ(loaded.frames.size(), 22u);

  WindowDc screen(nullptr);
  ASSERT_NE(screen.Dc(), nullptr);
  for (std::size_t i = 0; i < loaded.frames.size(); ++i) {
    SCOPED_TRACE(i);
    const FrameInfo& frame = loaded.frames[i];
    ASSERT_TRUE(frame.picture);
    const bool rest = i == 0 || i == 10 || i == 11 || i == 21;
    EXPECT_EQ(frame.delay, rest ? 20u : 0u);
    EXPECT_EQ(frame.disposal, 1);
    LONG width = 0;
    LONG height = 0;
    ASSERT_TRUE(PicturePixelSize(frame.picture.Get(), screen.Dc(), width, height));
    EXPECT_EQ(width, frame.width);
    EXPECT_EQ(height, frame.height);
    EXPECT_LE(frame.left + frame.width, 120);
    EXPECT_LE(frame.top + frame.height, 15);
  }
}

TEST(GifFrames, FirstFrameShowsTheLeadDotOnTheDialogBlue) {
  // The decoder's own reading of our encoder's output: the corner is the
  // background, the first dot's centre is white.
  const Resource gif = DownloadAnimation();
  ASSERT_NE(gif.data, nullptr);
  Loaded loaded = Load(gif.data, gif.size);
  ASSERT_GE(loaded.frames.size(), 1u);
  const FrameInfo& first = loaded.frames[0];
  ASSERT_EQ(first.width, 120);
  ASSERT_EQ(first.height, 15);
  const std::vector<std::uint32_t> pixels = RenderPixels(first.picture.Get(), 120, 15);
  ASSERT_EQ(pixels.size(), 120u * 15u);
  EXPECT_EQ(pixels[0] & 0xFFFFFF, kDialogBlue);
  EXPECT_EQ(pixels[119 + 14 * 120] & 0xFFFFFF, kDialogBlue);
  EXPECT_EQ(pixels[10 + 7 * 120] & 0xFFFFFF, kWhite);
  EXPECT_NE(pixels[20 + 7 * 120] & 0xFFFFFF, kDialogBlue);  // a resting dot
}

TEST(GifFrames, OneFrameIsDecodedWholeAsASinglePicture) {
  const Resource gif = DownloadAnimation();
  ASSERT_NE(gif.data, nullptr);
  CGifSplitter walk;
  walk.Attach(gif.data, gif.size);
  std::uint32_t length = 0;
  FrameLayout layout;
  auto* stream = walk.NextFrameStream(AllocateWithGlobal, length, layout);
  ASSERT_NE(stream, nullptr);
  UniqueGlobal owned(static_cast<HGLOBAL>(stream));

  Loaded loaded = Load(stream, length);
  EXPECT_EQ(loaded.result, 1);
  EXPECT_TRUE(loaded.frames.empty());
  ASSERT_TRUE(loaded.singlePicture);
  WindowDc screen(nullptr);
  LONG width = 0;
  LONG height = 0;
  ASSERT_TRUE(PicturePixelSize(loaded.singlePicture.Get(), screen.Dc(), width, height));
  EXPECT_EQ(width, 120);
  EXPECT_EQ(height, 15);
}

TEST(GifFrames, FramesTheDecoderRefusesAreDropped) {
  // Our first two frames with a plain text extension between them: three
  // frames counted, and the one without an image fails to decode.
  const Resource gif = DownloadAnimation();
  ASSERT_NE(gif.data, nullptr);
  CGifSplitter walk;
  walk.Attach(gif.data, gif.size);
  const std::uint32_t prefix = 13 + walk.GctSize();
  std::vector<std::uint8_t> bytes(gif.data, gif.data + prefix);
  for (int i = 0; i < 2; ++i) {
    std::uint32_t length = 0;
    FrameLayout layout;
    auto* stream = walk.NextFrameStream(AllocateWithGlobal, length, layout);
    ASSERT_NE(stream, nullptr);
    bytes.insert(bytes.end(), stream + prefix, stream + length - 1);
    GlobalFree(static_cast<HGLOBAL>(stream));
    if (i == 0) {
      const std::uint8_t plainText[] = {0x21, 0x01, 12, 0, 0, 0, 0,   40,  0, 10,
                                        0,    8,    8,  1, 0, 2, 'h', 'i', 0};
      bytes.insert(bytes.end(), std::begin(plainText), std::end(plainText));
    }
  }
  bytes.push_back(0x3B);

  Loaded loaded = Load(bytes.data(), static_cast<DWORD>(bytes.size()));
  EXPECT_EQ(loaded.result, 1);
  ASSERT_EQ(loaded.frames.size(), 2u);
  EXPECT_EQ(loaded.frames[0].delay, 20u);
  EXPECT_EQ(loaded.frames[1].delay, 0u);
}

TEST(GifFrames, NoFrameFailsTheLoad) {
  const std::uint8_t bytes[] = {'G', 'I', 'F', '8', '7', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B};
  Loaded loaded = Load(bytes, sizeof(bytes));
  EXPECT_EQ(loaded.result, 0);
  EXPECT_TRUE(loaded.frames.empty());
  EXPECT_FALSE(loaded.singlePicture);
}
