// Plays one stream for a while through the library's own parts and prints what it cost:
// processor time, time from the connect call to the first sample the output took, and the
// library's peak heap use. Used by bench/stream_bench.py, which runs the reference players.
// Usage: stream_bench URL SECONDS

#include <malloc.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "library.h"
#include "stream.h"

namespace {

double Seconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Processor time of the library's threads: the whole process less this (measuring) thread.
double CpuSeconds() {
  rusage process{};
  rusage self{};
  getrusage(RUSAGE_SELF, &process);
  getrusage(RUSAGE_THREAD, &self);
  return Seconds(process) - Seconds(self);
}

// Heap in use, large (mmapped) blocks included.
std::size_t HeapBytes() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: stream_bench URL SECONDS\n");
    return 2;
  }
  using Clock = std::chrono::steady_clock;
  auto& library = vornel::audio::Library::instance();
  if (!library.init(44100)) return 1;

  const std::size_t heapBefore = HeapBytes();
  const double cpuBefore = CpuSeconds();
  const auto connectAt = Clock::now();
  const DWORD handle = library.createStream(argv[1], nullptr, nullptr);
  if (handle == 0) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  const double connectMs = std::chrono::duration<double, std::milli>(Clock::now() - connectAt).count();
  auto stream = library.find(handle);
  library.play(handle);

  std::size_t heapPeak = 0;
  const auto end = Clock::now() + std::chrono::seconds(std::atoi(argv[2]));
  while (Clock::now() < end) {
    heapPeak = std::max(heapPeak, HeapBytes());
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  const double cpu = CpuSeconds() - cpuBefore;
  const double firstSoundMs =
      std::chrono::duration<double, std::milli>(stream->firstSoundAt() - connectAt).count();
  stream.reset();
  library.freeStream(handle);
  library.free();

  std::printf("cpu_seconds %.3f\nconnect_ms %.1f\nfirst_sound_ms %.1f\nheap_peak_bytes %zu\n", cpu, connectMs,
              firstSoundMs,
              heapPeak > heapBefore ? heapPeak - heapBefore : 0);
  return 0;
}
