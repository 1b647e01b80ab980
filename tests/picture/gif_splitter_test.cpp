#include "picture/gif_splitter.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <fstream>
#include <iterator>

#include "tests/picture/gif_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to) {
  return Bytes(bytes.begin() + from, bytes.begin() + to);
}

// What a single-frame stream must hold: the source's first 13 + gct bytes,
// the frame's range, a trailer.
Bytes ExpectedStream(const Bytes& source, std::uint32_t prefix, std::uint32_t start,
                     std::uint32_t end) {
  Bytes expected = Slice(source, 0, prefix);
  expected.insert(expected.end(), source.begin() + start, source.begin() + end);
  expected.push_back(0x3B);
  return expected;
}

// The walk with its cursor movable by hand.
struct MovableWalk : CGifSplitter {
  void MoveTo(std::uint32_t offset) { m_offset = offset; }
};

struct Walk {
  explicit Walk(const Bytes& bytes) : data(bytes) { splitter.Attach(data.Data(), data.Size()); }
  ExactBytes data;
  MovableWalk splitter;
};

}  // namespace

TEST(GifRecognition, TakesOnlyTheTwoKnownVersions) {
  const auto recognised = [](const std::string& text) {
    return IsGifData(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  };
  EXPECT_TRUE(recognised("GIF87a"));
  EXPECT_TRUE(recognised("GIF89a and more"));
  EXPECT_FALSE(recognised("GIF88a"));
  EXPECT_FALSE(recognised("gif89a"));
  EXPECT_FALSE(recognised("GIF89"));
  EXPECT_FALSE(IsGifData(nullptr, 6));
}

TEST(GifBlocks, ClassifiesByIntroducerAndLabel) {
  GifBuilder gif;
  const std::uint32_t application = gif.Mark();
  gif.Application();
  const std::uint32_t comment = gif.Mark();
  gif.Comment("made by hand");
  const std::uint32_t control = gif.Mark();
  gif.GraphicControl(20, 1);
  const std::uint32_t plain = gif.Mark();
  gif.PlainText();
  const std::uint32_t image = gif.Mark();
  gif.Image(0, 0, 4, 4);
  const std::uint32_t trailer = gif.Mark();
  gif.Trailer();
  const std::uint32_t unknownLabel = gif.Mark();
  gif.Bytes({0x21, 0x00, 0x21, 0x02, 0x00});
  Walk walk(gif.Data());

  const std::pair<std::uint32_t, BlockKind> expected[] = {
      {application, BlockKind::ApplicationExtension},
      {comment, BlockKind::CommentExtension},
      {control, BlockKind::GraphicControl},
      {plain, BlockKind::PlainTextExtension},
      {image, BlockKind::ImageDescriptor},
      {trailer, BlockKind::Trailer},
      {unknownLabel, BlockKind::Unrecognised},
      {unknownLabel + 2, BlockKind::Unrecognised},
      {unknownLabel + 4, BlockKind::Unrecognised},
  };
  for (const auto& [offset, kind] : expected) {
    SCOPED_TRACE(offset);
    walk.splitter.MoveTo(offset);
    EXPECT_EQ(walk.splitter.ClassifyBlock(), kind);
  }
}

TEST(GifBlocks, LengthsFollowTheFixedHeadsNotTheSizeBytes) {
  // The application and graphic control extensions carry wrong size bytes;
  // the walk takes their heads as 11 and 4 bytes all the same.
  GifBuilder gif;
  gif.Application(/*sizeByte=*/5).GraphicControl(7, 2, /*sizeByte=*/9).Comment("abc");
  gif.PlainText().Image(1, 2, 3, 4, /*localBits=*/7).Trailer();
  Walk walk(gif.Data());
  CGifSplitter& s = walk.splitter;

  const std::int64_t expected[] = {
      14 + 4 + 1,            // application: head, one sub-block of 3, terminator
      8,                     // graphic control
      2 + 4 + 1,             // comment "abc"
      15 + 3 + 1,            // plain text: head, "hi" sub-block, terminator
      11 + 768 + 4 + 2 + 1,  // image: local table of 256 entries, two sub-blocks
      1,                     // trailer
  };
  for (std::int64_t length : expected) {
    EXPECT_EQ(s.BlockLength(), length);
    const std::uint32_t before = s.Offset();
    ASSERT_EQ(s.SkipBlock(), 1);
    EXPECT_EQ(s.Offset(), before + length);
  }
  EXPECT_EQ(s.Offset(), gif.Mark());
  EXPECT_EQ(s.BlockLength(), -1);
  EXPECT_EQ(s.SkipBlock(), 0);
}

TEST(GifSplit, TwentyTwoFramesAfterALoopingExtension) {
  GifBuilder gif;
  gif.Application();
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
  for (int i = 0; i < 22; ++i) {
    const std::uint32_t start = gif.Mark();
    gif.GraphicControl(i % 3 == 0 ? 20 : 0, 1 + i % 3).Image(i, i % 5, 10 + i, 3 + i % 4);
    ranges.emplace_back(start, gif.Mark());
  }
  gif.Trailer();
  Walk walk(gif.Data());
  const std::uint32_t prefix = 13 + 12;
  ASSERT_EQ(walk.splitter.GctSize(), 12u);
  EXPECT_EQ(walk.splitter.CountFrames(), 22u);

  const auto frames = SplitAll(walk.splitter);
  ASSERT_EQ(frames.size(), 22u);
  for (int i = 0; i < 22; ++i) {
    SCOPED_TRACE(i);
    const auto [start, end] = ranges[i];
    EXPECT_EQ(end - start, 8u + 18u);
    EXPECT_EQ(frames[i].stream, ExpectedStream(gif.Data(), prefix, start, end));
    const FrameLayout& layout = frames[i].layout;
    EXPECT_EQ(layout.delay, i % 3 == 0 ? 20u : 0u);
    EXPECT_EQ(layout.disposal, 1 + i % 3);
    EXPECT_EQ(layout.left, i);
    EXPECT_EQ(layout.top, i % 5);
    EXPECT_EQ(layout.width, 10 + i);
    EXPECT_EQ(layout.height, 3 + i % 4);
  }
}

TEST(GifSplit, ExtensionsBetweenControlAndImageBelongToTheFrame) {
  GifBuilder gif;
  gif.Comment("before, in no frame");
  const std::uint32_t start = gif.Mark();
  // A second graphic control extension joins the frame; the first one rules.
  gif.GraphicControl(0x1234, 3).Comment("inside").GraphicControl(5, 1).Application();
  gif.Image(5, 6, 7, 8);
  const std::uint32_t end = gif.Mark();
  gif.Trailer();
  Walk walk(gif.Data());

  const auto frames = SplitAll(walk.splitter);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].stream, ExpectedStream(gif.Data(), 25, start, end));
  EXPECT_EQ(frames[0].layout.delay, 0x1234u);
  EXPECT_EQ(frames[0].layout.disposal, 3);
}

TEST(GifSplit, ImageWithoutControlHasNoDelayAndNoDisposal) {
  GifBuilder gif(/*version=*/"87a", 40, 30, /*gctBits=*/-1);
  gif.GraphicControl(50, 2).Image(0, 0, 40, 30);
  const std::uint32_t start = gif.Mark();
  gif.Image(2, 3, 4, 5);
  const std::uint32_t end = gif.Mark();
  Walk walk(gif.Data());  // no trailer: the walk ends with the data
  EXPECT_EQ(walk.splitter.GctSize(), 0u);

  const auto frames = SplitAll(walk.splitter);
  ASSERT_EQ(frames.size(), 2u);
  // The second frame must not inherit the first one's disposal.
  EXPECT_EQ(frames[0].layout.disposal, 2);
  EXPECT_EQ(frames[1].layout.delay, 0xFFFFFFFFu);
  EXPECT_EQ(frames[1].layout.disposal, 0);
  EXPECT_EQ(frames[1].stream, ExpectedStream(gif.Data(), 13, start, end));
  EXPECT_EQ(frames[1].stream.size(), 13u + (end - start) + 1u);
}

TEST(GifSplit, StreamsWithoutAFrame) {
  // Trailer first; a graphic control extension with no image after it;
  // extensions only; an unknown block first.
  const Bytes cases[] = {
      GifBuilder("87a").Trailer().Image(0, 0, 1, 1).Data(),
      GifBuilder().GraphicControl(0, 0).Trailer().Data(),
      GifBuilder().GraphicControl(0, 0).Bytes({0x2A}).Data(),
      GifBuilder().Application().Comment("x").Data(),
      GifBuilder().Bytes({0x00}).Image(0, 0, 1, 1).Data(),
  };
  for (const Bytes& bytes : cases) {
    Walk walk(bytes);
    EXPECT_EQ(walk.splitter.CountFrames(), 0u);
    EXPECT_TRUE(SplitAll(walk.splitter).empty());
  }
}

TEST(GifSplit, PlainTextIsAFrameWithoutGeometry) {
  GifBuilder gif;
  const std::uint32_t start = gif.Mark();
  gif.GraphicControl(9, 2).PlainText();
  const std::uint32_t end = gif.Mark();
  gif.Trailer();
  Walk walk(gif.Data());
  EXPECT_EQ(walk.splitter.CountFrames(), 1u);

  walk.splitter.Rewind();
  FrameLayout layout;
  layout.width = 77;
  std::uint32_t length = 0;
  std::uint8_t* stream = walk.splitter.NextFrameStream(AllocateWithMalloc, length, layout);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(Bytes(stream, stream + length), ExpectedStream(gif.Data(), 25, start, end));
  std::free(stream);
  EXPECT_EQ(layout.delay, 9u);
  EXPECT_EQ(layout.width, 77);
}

TEST(GifSplit, FailedAllocationGivesNoStream) {
  GifBuilder gif;
  gif.GraphicControl(0, 1).Image(0, 0, 1, 1).Trailer();
  Walk walk(gif.Data());
  std::uint32_t length = 0;
  FrameLayout layout;
  EXPECT_EQ(
      walk.splitter.NextFrameStream([](std::uint32_t) -> void* { return nullptr; }, length, layout),
      nullptr);
}

// Data that stops inside a block: the block is refused, the cursor stays on
// it, and the frame before it is still found and split. Every buffer has
// exactly its size, so a read past the end fails the test under ASan.
TEST(GifBounds, BlockCutShortEndsTheWalkAfterEarlierFrames) {
  GifBuilder good;
  good.GraphicControl(20, 1).Image(0, 0, 2, 2);
  const Bytes complete = GifBuilder(good).GraphicControl(3, 1).Image(0, 0, 8, 8, 7).Data();
  const Bytes application = GifBuilder(good).Application().Data();
  const Bytes comment = GifBuilder(good).Comment("cut").Data();
  const std::uint32_t cut = good.Mark();

  // Each case: the data, and the offset of the block that it cuts short.
  struct Case {
    const char* name;
    Bytes bytes;
    std::uint32_t block;
  };
  const std::uint32_t image = cut + 8;
  const Case cases[] = {
      {"introducer in the last byte", Slice(complete, 0, cut + 1), cut},
      {"graphic control cut short", Slice(complete, 0, cut + 5), cut},
      {"image descriptor before its packed byte", Slice(complete, 0, image + 5), image},
      {"image descriptor ending with its packed byte", Slice(complete, 0, image + 10), image},
      {"local colour table cut short", Slice(complete, 0, image + 11 + 300), image},
      {"no size byte after the code size", Slice(complete, 0, image + 11 + 768), image},
      {"sub-block longer than the data", Slice(complete, 0, image + 11 + 768 + 3), image},
      {"chain without terminator", Slice(complete, 0, complete.size() - 1), image},
      {"application head cut short", Slice(application, 0, cut + 7), cut},
      {"comment without terminator", Slice(comment, 0, comment.size() - 1), cut},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Walk walk(c.bytes);
    EXPECT_EQ(walk.splitter.CountFrames(), 1u);
    const auto frames = SplitAll(walk.splitter);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].stream, ExpectedStream(c.bytes, 25, 25, cut));

    walk.splitter.MoveTo(c.block);
    EXPECT_EQ(walk.splitter.SkipBlock(), 0);
    EXPECT_EQ(walk.splitter.Offset(), c.block);
  }
  Walk whole(complete);
  EXPECT_EQ(whole.splitter.CountFrames(), 2u);
}

TEST(GifBounds, ScreenDescriptorOrGlobalTableCutShortHasNoFrame) {
  const Bytes full = GifBuilder("89a", 300, 200, 7).GraphicControl(0, 1).Image(0, 0, 1, 1).Data();
  for (std::size_t size : {6u, 10u, 11u, 12u, 13u, 13u + 767u, 13u + 768u}) {
    SCOPED_TRACE(size);
    Walk walk(Slice(full, 0, size));
    EXPECT_EQ(walk.splitter.CountFrames(), 0u);
    EXPECT_TRUE(SplitAll(walk.splitter).empty());
  }
  Walk walk(full);
  EXPECT_EQ(walk.splitter.ScreenWidth(), 300u);
  EXPECT_EQ(walk.splitter.ScreenHeight(), 200u);
  EXPECT_EQ(walk.splitter.GctSize(), 768u);
  EXPECT_EQ(walk.splitter.CountFrames(), 1u);
}

// Blocks near the end of a 4 GiB - 1 stream: lengths that would carry past
// 32 bits must not wrap around to an offset inside the data. The mapping is
// sparse; only the pages written and read are ever touched.
TEST(GifBounds, OffsetsNearTheTop32BitsDoNotWrap) {
  const std::size_t size = 0xFFFFFFFFu;
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) GTEST_SKIP() << "no 4 GiB address range";
  auto* data = static_cast<std::uint8_t*>(memory);
  const Bytes head = GifBuilder().Data();
  std::copy(head.begin(), head.end(), data);

  MovableWalk walk;
  walk.Attach(data, size);
  ASSERT_EQ(walk.DataSize(), 0xFFFFFFFFu);

  // An image whose chain claims 255 bytes from 4 bytes before the end.
  const std::uint32_t image = 0xFFFFFFFFu - 16;
  const std::uint8_t wrapping[] = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x00, 2, 8, 1, 1, 1, 1};
  std::copy(std::begin(wrapping), std::end(wrapping), data + image);
  data[0xFFFFFFFFu - 5] = 0xFF;
  walk.MoveTo(image);
  EXPECT_EQ(walk.ClassifyBlock(), BlockKind::ImageDescriptor);
  EXPECT_EQ(walk.SkipBlock(), 0);
  EXPECT_EQ(walk.Offset(), image);

  // The same image ending exactly at the last byte is taken.
  data[0xFFFFFFFFu - 5] = 3;
  data[0xFFFFFFFFu - 1] = 0;
  EXPECT_EQ(walk.SkipBlock(), 1);
  EXPECT_EQ(walk.Offset(), 0xFFFFFFFFu);
  EXPECT_EQ(walk.ClassifyBlock(), BlockKind::Unrecognised);
  munmap(memory, size);
}

TEST(DownloadAnimation, HasTheFramesItWasMadeWith) {
  std::ifstream file(TAVRIN_DOWNLOAD_GIF, std::ios::binary);
  ASSERT_TRUE(file) << TAVRIN_DOWNLOAD_GIF;
  const Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_TRUE(IsGifData(bytes.data(), bytes.size()));
  Walk walk(bytes);
  EXPECT_EQ(walk.splitter.ScreenWidth(), 120u);
  EXPECT_EQ(walk.splitter.ScreenHeight(), 15u);
  EXPECT_GT(walk.splitter.GctSize(), 0u);
  EXPECT_EQ(walk.splitter.CountFrames(), 22u);

  const auto frames = SplitAll(walk.splitter);
  ASSERT_EQ(frames.size(), 22u);
  const std::uint32_t prefix = 13 + walk.splitter.GctSize();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    const FrameLayout& layout = frames[i].layout;
    // The sweep rests at both ends: frames 1, 11, 12 and 22 wait 20.
    const bool rest = i == 0 || i == 10 || i == 11 || i == 21;
    EXPECT_EQ(layout.delay, rest ? 20u : 0u);
    EXPECT_EQ(layout.disposal, 1);
    EXPECT_GT(layout.width, 0);
    EXPECT_GT(layout.height, 0);
    EXPECT_LE(layout.left + layout.width, 120);
    EXPECT_LE(layout.top + layout.height, 15);
    // Each stream is the prefix, a graphic control extension leading the
    // frame (the looping extension stays out), and the trailer.
    ASSERT_GT(frames[i].stream.size(), prefix + 8u + 1u);
    EXPECT_EQ(Slice(frames[i].stream, 0, prefix), Slice(bytes, 0, prefix));
    EXPECT_EQ(frames[i].stream[prefix], 0x21);
    EXPECT_EQ(frames[i].stream[prefix + 1], 0xF9);
    EXPECT_EQ(frames[i].stream.back(), 0x3B);
  }
  // The first frame paints the whole screen; later frames only what changed.
  EXPECT_EQ(frames[0].layout.width, 120);
  EXPECT_EQ(frames[0].layout.height, 15);
}
