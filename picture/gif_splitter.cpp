#include "picture/gif_splitter.h"

#include <cstring>
#include <limits>

namespace {

constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kTrailer = 0x3B;

// Fixed parts of the blocks, before their sub-block chains. The application
// and plain text extensions' own size bytes are not trusted: their headers
// are always taken as 11 and 12 bytes.
constexpr std::uint32_t kApplicationHead = 14;
constexpr std::uint32_t kCommentHead = 2;
constexpr std::uint32_t kGraphicControlLength = 8;
constexpr std::uint32_t kPlainTextHead = 15;
// Ten descriptor bytes and the LZW minimum code size.
constexpr std::uint32_t kImageHead = 11;

// 3 x 2^(n+1) when the top bit of a packed byte flags a colour table.
std::uint32_t ColourTableSize(std::uint8_t packed) {
  return (packed & 0x80) ? 3u * (2u << (packed & 7)) : 0u;
}

}  // namespace

bool IsGifData(const std::uint8_t* data, std::size_t size) {
  return data != nullptr && size >= 6 && std::memcmp(data, "GIF", 3) == 0 &&
         (std::memcmp(data + 3, "87a", 3) == 0 || std::memcmp(data + 3, "89a", 3) == 0);
}

void CGifSplitter::Attach(const std::uint8_t* data, std::size_t size) {
  Detach();
  m_data = data;
  m_dataSize = static_cast<std::uint32_t>(size > std::numeric_limits<std::uint32_t>::max()
                                              ? std::numeric_limits<std::uint32_t>::max()
                                              : size);
  if (m_data != nullptr && m_dataSize >= kScreenHeaderSize) {
    m_screenWidth = ReadU16(6);
    m_screenHeight = ReadU16(8);
    m_gctSize = ColourTableSize(m_data[10]);
  }
  Rewind();
}

void CGifSplitter::Detach() {
  m_data = nullptr;
  m_dataSize = 0;
  m_gctSize = 0;
  m_offset = 0;
  m_screenWidth = 0;
  m_screenHeight = 0;
}

void CGifSplitter::Rewind() {
  // At most 13 + 768, so no overflow; with a short descriptor this lies at
  // or beyond the end and nothing is found.
  m_offset = kScreenHeaderSize + m_gctSize;
}

std::uint32_t CGifSplitter::ReadU16(std::uint32_t offset) const {
  return static_cast<std::uint32_t>(m_data[offset]) |
         (static_cast<std::uint32_t>(m_data[offset + 1]) << 8);
}

BlockKind CGifSplitter::ClassifyBlock() const {
  if (m_data == nullptr || m_offset >= m_dataSize) return BlockKind::Unrecognised;
  switch (m_data[m_offset]) {
    case kImageSeparator:
      return BlockKind::ImageDescriptor;
    case kTrailer:
      return BlockKind::Trailer;
    case kExtensionIntroducer:
      break;
    default:
      return BlockKind::Unrecognised;
  }
  // An introducer in the last byte has no label to read.
  if (m_offset + 1 >= m_dataSize) return BlockKind::Unrecognised;
  switch (m_data[m_offset + 1]) {
    case 0xFF:
      return BlockKind::ApplicationExtension;
    case 0xFE:
      return BlockKind::CommentExtension;
    case 0xF9:
      return BlockKind::GraphicControl;
    case 0x01:
      return BlockKind::PlainTextExtension;
    default:
      return BlockKind::Unrecognised;
  }
}

std::int64_t CGifSplitter::SubBlockChainLength(std::uint64_t offset) const {
  std::uint64_t position = offset;
  while (position < m_dataSize) {
    const std::uint8_t size = m_data[position];
    if (size == 0) return static_cast<std::int64_t>(position + 1 - offset);
    position += size + 1u;
  }
  // Not terminated within the data: count a terminator past the last byte
  // looked at, so that the block ends beyond the data.
  return static_cast<std::int64_t>(position + 1 - offset);
}

std::int64_t CGifSplitter::BlockLength() const {
  const std::uint64_t offset = m_offset;
  switch (ClassifyBlock()) {
    case BlockKind::ApplicationExtension:
      return kApplicationHead + SubBlockChainLength(offset + kApplicationHead);
    case BlockKind::CommentExtension:
      return kCommentHead + SubBlockChainLength(offset + kCommentHead);
    case BlockKind::GraphicControl:
      return kGraphicControlLength;
    case BlockKind::PlainTextExtension:
      return kPlainTextHead + SubBlockChainLength(offset + kPlainTextHead);
    case BlockKind::ImageDescriptor: {
      // The packed byte decides the local colour table; a descriptor cut
      // short before it is given its fixed length, which ends beyond the data.
      if (offset + 9 >= m_dataSize) return kImageHead;
      const std::uint32_t localTable = ColourTableSize(m_data[offset + 9]);
      return kImageHead + localTable + SubBlockChainLength(offset + kImageHead + localTable);
    }
    case BlockKind::Trailer:
      return 1;
    case BlockKind::Unrecognised:
      break;
  }
  return -1;
}

int CGifSplitter::SkipBlock() {
  if (m_data == nullptr || m_dataSize == 0) return 0;
  const std::int64_t length = BlockLength();
  if (length <= 0) return 0;
  const std::uint64_t end =
      static_cast<std::uint64_t>(m_offset) + static_cast<std::uint64_t>(length);
  if (end > m_dataSize) return 0;
  m_offset = static_cast<std::uint32_t>(end);
  return 1;
}

bool CGifSplitter::GroupFrame(std::uint32_t& start, std::uint32_t& last) {
  BlockKind kind = ClassifyBlock();
  // Extensions before a graphic control extension belong to no frame.
  while (kind == BlockKind::ApplicationExtension || kind == BlockKind::CommentExtension) {
    if (!SkipBlock()) return false;
    kind = ClassifyBlock();
  }
  if (kind == BlockKind::Trailer || kind == BlockKind::Unrecognised) return false;
  start = m_offset;
  if (kind == BlockKind::GraphicControl) {
    do {
      if (!SkipBlock()) return false;
      kind = ClassifyBlock();
    } while (kind == BlockKind::ApplicationExtension || kind == BlockKind::CommentExtension ||
             kind == BlockKind::GraphicControl);
    if (kind != BlockKind::ImageDescriptor && kind != BlockKind::PlainTextExtension) return false;
  }
  last = m_offset;
  return SkipBlock() != 0;
}

int CGifSplitter::SkipFrame() {
  std::uint32_t start = 0;
  std::uint32_t last = 0;
  return GroupFrame(start, last) ? 1 : 0;
}

std::uint32_t CGifSplitter::CountFrames() {
  Rewind();
  std::uint32_t count = 0;
  while (SkipFrame()) ++count;
  return count;
}

std::uint8_t* CGifSplitter::NextFrameStream(FrameAllocator allocate, std::uint32_t& streamLength,
                                            FrameLayout& layout) {
  layout.disposal = 0;
  std::uint32_t start = 0;
  std::uint32_t last = 0;
  if (!GroupFrame(start, last)) return nullptr;
  const std::uint32_t end = m_offset;
  const std::uint32_t range = end - start;

  if (m_data[start] == kExtensionIntroducer && m_data[start + 1] == 0xF9) {
    layout.delay = ReadU16(start + 4);
    layout.disposal = (m_data[start + 3] >> 2) & 7;
  } else {
    layout.delay = kNoDelay;
  }
  if (m_data[last] == kImageSeparator) {
    layout.left = static_cast<std::int32_t>(ReadU16(last + 1));
    layout.top = static_cast<std::int32_t>(ReadU16(last + 3));
    layout.width = static_cast<std::int32_t>(ReadU16(last + 5));
    layout.height = static_cast<std::int32_t>(ReadU16(last + 7));
  }

  // The frame lies within the data, after the prefix, so this cannot exceed
  // m_dataSize + 1; computed wide all the same for data near 4 GiB.
  const std::uint32_t prefix = kScreenHeaderSize + m_gctSize;
  const std::uint64_t length = std::uint64_t{prefix} + range + 1;
  if (allocate == nullptr || prefix > m_dataSize ||
      length > std::numeric_limits<std::uint32_t>::max()) {
    return nullptr;
  }
  auto* stream = static_cast<std::uint8_t*>(allocate(static_cast<std::uint32_t>(length)));
  if (stream == nullptr) return nullptr;
  std::memcpy(stream, m_data, prefix);
  std::memcpy(stream + prefix, m_data + start, range);
  stream[prefix + range] = kTrailer;
  streamLength = static_cast<std::uint32_t>(length);
  return stream;
}
