// Arbitrary bytes through the frame count and the building of every
// single-frame stream. Besides what the sanitizers see, it stops on a stream
// that is not what the walk promised: the counted number of frames, each the
// source's prefix, a range of the source and a trailer.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "picture/gif_splitter.h"
#include "tests/fuzz_check.h"

namespace {

void* Allocate(std::uint32_t size) { return std::malloc(size); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CGifSplitter walk;
  walk.Attach(data, size);
  const std::uint32_t count = walk.CountFrames();
  Check(walk.Offset() >= 13 + walk.GctSize() && (count == 0 || walk.Offset() <= size));

  walk.Rewind();
  const std::uint32_t prefix = 13 + walk.GctSize();
  std::uint32_t built = 0;
  for (;;) {
    const std::uint32_t before = walk.Offset();
    std::uint32_t length = 0;
    FrameLayout layout;
    std::uint8_t* stream = walk.NextFrameStream(Allocate, length, layout);
    if (stream == nullptr) break;
    ++built;
    const std::uint32_t after = walk.Offset();
    Check(after > before && after <= size);
    const std::uint32_t range = length - prefix - 1;
    Check(length > prefix + 1 && range <= after - before);
    Check(std::memcmp(stream, data, prefix) == 0);
    Check(std::memcmp(stream + prefix, data + after - range, range) == 0);
    Check(stream[length - 1] == 0x3B);
    Check(layout.delay == CGifSplitter::kNoDelay ? layout.disposal == 0 : layout.delay <= 0xFFFF);
    Check(layout.disposal >= 0 && layout.disposal <= 7);
    std::free(stream);
  }
  Check(built == count);
  return 0;
}
