// The GIF block walk: finds the frames of a GIF stream and copies each one into
// a small GIF stream of its own (header, logical screen descriptor and global
// colour table of the source, the frame's blocks, a trailer), which the
// platform's picture decoder then turns into a picture. Pure logic, no Windows:
// the caller supplies the memory for each new stream.
//
// The walk never reads outside [m_data, m_data + m_dataSize): a block whose
// bytes would lie partly beyond the data is refused like one whose end lies
// beyond it, and the walk ends there with the frames found so far.
#pragma once

#include <cstddef>
#include <cstdint>

enum class BlockKind : int {
  Unrecognised = 0,
  ApplicationExtension = 1,
  CommentExtension = 2,
  GraphicControl = 3,
  PlainTextExtension = 4,
  ImageDescriptor = 5,
  Trailer = 6,
};

// True when the data begins with "GIF87a" or "GIF89a"; anything else is
// loaded as one picture.
bool IsGifData(const std::uint8_t* data, std::size_t size);

// Memory for one single-frame stream of `size` bytes, or nullptr. On Windows
// fixed global memory that the stream over it will own; natively malloc.
using FrameAllocator = void* (*)(std::uint32_t size);

// What NextFrameStream learns about the frame besides its stream.
struct FrameLayout {
  // Delay in hundredths of a second, 0xFFFFFFFF without a graphic control
  // extension.
  std::uint32_t delay = 0;
  // (packed >> 2) & 7 of the graphic control extension, 0 without one.
  std::int32_t disposal = 0;
  // From the image descriptor; a frame that ends with a plain text extension
  // leaves them as they were.
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t left = 0;
  std::int32_t top = 0;
};

// The cursor over one GIF stream. The animated picture window holds it as a
// base and uses these operations while it loads; the data belongs to the
// caller and must stay valid and unchanged until Detach.
class CGifSplitter {
 public:
  // Size of the header and the logical screen descriptor.
  static constexpr std::uint32_t kScreenHeaderSize = 13;
  static constexpr std::uint32_t kNoDelay = 0xFFFFFFFFu;

  // Points the cursor at `data` and reads the logical screen descriptor:
  // m_gctSize and the first block's offset. Data longer than 4 GiB - 1 is
  // taken only up to that length. Data too short for the descriptor gives a
  // screen of 0 x 0 and a cursor beyond the data, so the walk finds nothing.
  void Attach(const std::uint8_t* data, std::size_t size);
  // Forgets the data; the fields return to their empty values.
  void Detach();

  // Puts the cursor on the first block after the global colour table.
  void Rewind();

  BlockKind ClassifyBlock() const;
  // Introducer through the terminating zero-length sub-block, or -1 for an
  // unrecognised block. It may end beyond the data; SkipBlock refuses it then.
  std::int64_t BlockLength() const;
  // Sum of (size byte + 1) over the sub-blocks from `offset`, plus 1 for the
  // terminator. A chain not terminated within the data ends past it.
  std::int64_t SubBlockChainLength(std::uint64_t offset) const;
  // 1 and the cursor past the block, or 0 and the cursor unmoved.
  int SkipBlock();
  // 1 and the cursor past one frame, or 0 when there is no further frame.
  int SkipFrame();
  // Counts the frames from the first block: SkipFrame until it returns 0.
  std::uint32_t CountFrames();
  // A new single-frame stream for the next frame, from `allocate`, with its
  // length in `streamLength`; the cursor moves past the frame. nullptr when
  // there is no further frame or the allocation fails.
  std::uint8_t* NextFrameStream(FrameAllocator allocate, std::uint32_t& streamLength,
                                FrameLayout& layout);

  std::uint32_t ScreenWidth() const { return m_screenWidth; }
  std::uint32_t ScreenHeight() const { return m_screenHeight; }
  std::uint32_t GctSize() const { return m_gctSize; }
  std::uint32_t Offset() const { return m_offset; }
  std::uint32_t DataSize() const { return m_dataSize; }

 protected:
  const std::uint8_t* m_data = nullptr;
  std::uint32_t m_dataSize = 0;
  std::uint32_t m_gctSize = 0;
  std::uint32_t m_offset = 0;
  std::uint32_t m_screenWidth = 0;
  std::uint32_t m_screenHeight = 0;

 private:
  // Groups the next frame as SkipFrame does; on success the cursor is past
  // it, `start` is its first block and `last` its image descriptor or plain
  // text extension. On failure the cursor may have moved.
  bool GroupFrame(std::uint32_t& start, std::uint32_t& last);
  std::uint32_t ReadU16(std::uint32_t offset) const;
};
