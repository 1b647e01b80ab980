// Hand-made GIF streams for the splitter's tests: the blocks are laid down
// one after the other, and Mark() tells where the next one begins. The image
// data is not real LZW; the walk never looks inside it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "picture/gif_splitter.h"

class GifBuilder {
 public:
  // gctBits < 0: no global colour table; otherwise 2^(gctBits+1) entries.
  explicit GifBuilder(const char* version = "89a", std::uint16_t width = 120,
                      std::uint16_t height = 15, int gctBits = 1) {
    Put("GIF");
    Put(version);
    U16(width);
    U16(height);
    m_bytes.push_back(gctBits < 0 ? 0x00 : static_cast<std::uint8_t>(0x80 | gctBits));
    m_bytes.push_back(0);
    m_bytes.push_back(0);
    if (gctBits >= 0) Fill(3u * (2u << gctBits), 0x11);
  }

  GifBuilder& Application(std::uint8_t sizeByte = 11) {
    Bytes({0x21, 0xFF, sizeByte});
    Put("NETSCAPE2.0");
    return Bytes({3, 1, 0, 0, 0});
  }
  GifBuilder& Comment(const std::string& text) {
    Bytes({0x21, 0xFE, static_cast<std::uint8_t>(text.size())});
    Put(text.c_str());
    return Bytes({0});
  }
  GifBuilder& GraphicControl(std::uint16_t delay, int disposal, std::uint8_t sizeByte = 4) {
    Bytes({0x21, 0xF9, sizeByte, static_cast<std::uint8_t>((disposal << 2) | 1)});
    U16(delay);
    return Bytes({7, 0});
  }
  // localBits < 0: no local colour table. `chain` is the sub-blocks after the
  // LZW minimum code size, terminator included.
  GifBuilder& Image(std::uint16_t left, std::uint16_t top, std::uint16_t width,
                    std::uint16_t height, int localBits = -1,
                    const std::vector<std::uint8_t>& chain = {3, 0x8C, 0x2D, 0x99, 1, 0x05, 0}) {
    m_bytes.push_back(0x2C);
    U16(left);
    U16(top);
    U16(width);
    U16(height);
    m_bytes.push_back(localBits < 0 ? 0x40 : static_cast<std::uint8_t>(0x80 | localBits));
    if (localBits >= 0) Fill(3u * (2u << localBits), 0x22);
    m_bytes.push_back(2);
    m_bytes.insert(m_bytes.end(), chain.begin(), chain.end());
    return *this;
  }
  GifBuilder& PlainText() {
    Bytes({0x21, 0x01, 12, 0, 0, 0, 0, 40, 0, 10, 0, 8, 8, 1, 0});
    return Bytes({2, 'h', 'i', 0});
  }
  GifBuilder& Trailer() { return Bytes({0x3B}); }
  GifBuilder& Bytes(std::initializer_list<std::uint8_t> bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
  }

  std::uint32_t Mark() const { return static_cast<std::uint32_t>(m_bytes.size()); }
  const std::vector<std::uint8_t>& Data() const { return m_bytes; }

 private:
  void Put(const char* text) { m_bytes.insert(m_bytes.end(), text, text + std::strlen(text)); }
  void U16(std::uint16_t value) {
    m_bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    m_bytes.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  void Fill(std::size_t count, std::uint8_t value) { m_bytes.insert(m_bytes.end(), count, value); }

  std::vector<std::uint8_t> m_bytes;
};

// A copy in a heap block of exactly its size, so that the sanitizer reports
// the first read past the end.
class ExactBytes {
 public:
  explicit ExactBytes(const std::vector<std::uint8_t>& bytes)
      : m_data(new std::uint8_t[bytes.size()]), m_size(bytes.size()) {
    if (!bytes.empty()) std::memcpy(m_data.get(), bytes.data(), bytes.size());
  }
  const std::uint8_t* Data() const { return m_data.get(); }
  std::size_t Size() const { return m_size; }

 private:
  std::unique_ptr<std::uint8_t[]> m_data;
  std::size_t m_size;
};

inline void* AllocateWithMalloc(std::uint32_t size) { return std::malloc(size); }

struct SplitFrame {
  std::vector<std::uint8_t> stream;
  FrameLayout layout;
};

// Every single-frame stream from the first block on.
inline std::vector<SplitFrame> SplitAll(CGifSplitter& walk) {
  std::vector<SplitFrame> frames;
  walk.Rewind();
  for (;;) {
    SplitFrame frame;
    std::uint32_t length = 0;
    std::uint8_t* stream = walk.NextFrameStream(AllocateWithMalloc, length, frame.layout);
    if (stream == nullptr) break;
    frame.stream.assign(stream, stream + length);
    std::free(stream);
    frames.push_back(std::move(frame));
  }
  return frames;
}
