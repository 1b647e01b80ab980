// The splitter's throughput in bytes of GIF read per second, beside memcpy of
// the same bytes in the same run: the copy is the ceiling that a walk which
// copies every frame out can approach. After the usual table, each walk is
// given in MB/s and as a share of that copy.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "picture/gif_splitter.h"
#include "tests/picture/gif_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes& DownloadAnimation() {
  static const Bytes bytes = [] {
    std::ifstream file(TAVRIN_DOWNLOAD_GIF, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  }();
  return bytes;
}

// About 8 MiB: a 256-colour table, a looping extension and 4000 frames of
// 64 x 64 pixels, each with about 2 KiB of image data in full sub-blocks.
const Bytes& LargeGif() {
  static const Bytes bytes = [] {
    std::vector<std::uint8_t> chain;
    for (int block = 0; block < 8; ++block) {
      chain.push_back(255);
      for (int i = 0; i < 255; ++i) chain.push_back(static_cast<std::uint8_t>(i * 7 + block));
    }
    chain.push_back(0);
    GifBuilder gif("89a", 640, 480, 7);
    gif.Application();
    for (int frame = 0; frame < 4000; ++frame) {
      gif.GraphicControl(static_cast<std::uint16_t>(frame % 3 == 0 ? 20 : 0), 1)
          .Image(static_cast<std::uint16_t>(frame % 9 * 64),
                 static_cast<std::uint16_t>(frame % 7 * 64), 64, 64, -1, chain);
    }
    gif.Trailer();
    return gif.Data();
  }();
  return bytes;
}

// The loader's work: count the frames, then build every single-frame stream.
void Split(benchmark::State& state, const Bytes& bytes) {
  if (bytes.empty()) {
    state.SkipWithError("no data");
    return;
  }
  std::uint32_t frames = 0;
  for (auto _ : state) {
    CGifSplitter walk;
    walk.Attach(bytes.data(), bytes.size());
    frames = walk.CountFrames();
    walk.Rewind();
    std::uint32_t length = 0;
    FrameLayout layout;
    while (std::uint8_t* stream = walk.NextFrameStream(AllocateWithMalloc, length, layout)) {
      benchmark::DoNotOptimize(stream);
      std::free(stream);
    }
  }
  state.counters["frames"] = frames;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes.size()));
}

// The frame count alone: the block walk without any copying.
void Count(benchmark::State& state, const Bytes& bytes) {
  for (auto _ : state) {
    CGifSplitter walk;
    walk.Attach(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(walk.CountFrames());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes.size()));
}

void Copy(benchmark::State& state, const Bytes& bytes) {
  Bytes target(bytes.size());
  for (auto _ : state) {
    std::memcpy(target.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes.size()));
}

BENCHMARK_CAPTURE(Split, download_animation, DownloadAnimation());
BENCHMARK_CAPTURE(Count, download_animation, DownloadAnimation());
BENCHMARK_CAPTURE(Copy, download_animation, DownloadAnimation());
BENCHMARK_CAPTURE(Split, large_gif, LargeGif());
BENCHMARK_CAPTURE(Count, large_gif, LargeGif());
BENCHMARK_CAPTURE(Copy, large_gif, LargeGif());

// The console table, then every walk's rate beside the copy of the same data
// ("Split/large_gif" beside "Copy/large_gif"), measured in this run, so that
// the ratio holds on whatever machine and load the run had.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto rate = run.counters.find("bytes_per_second");
      if (run.error_occurred || run.run_type != Run::RT_Iteration || rate == run.counters.end()) {
        continue;
      }
      m_rates[run.benchmark_name()] = rate->second.value;
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-28s %12s %12s %8s\n", "walk", "MB/s", "copy MB/s", "of copy");
    for (const auto& [name, rate] : m_rates) {
      const std::size_t slash = name.find('/');
      if (slash == std::string::npos || name.compare(0, slash, "Copy") == 0) continue;
      const auto copy = m_rates.find("Copy" + name.substr(slash));
      if (copy == m_rates.end() || copy->second <= 0) continue;
      std::printf("%-28s %12.0f %12.0f %7.1f%%\n", name.c_str(), rate / 1e6, copy->second / 1e6,
                  100 * rate / copy->second);
    }
  }

 private:
  std::map<std::string, double> m_rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // Colour only on a terminal, as the library's own reporter does.
  RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Color
                                               : benchmark::ConsoleReporter::OO_None);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
