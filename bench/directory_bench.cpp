#include <benchmark/benchmark.h>

#include <string>

#include "core/directory.h"

namespace {

// A directory of `groups` groups with `perGroup` stations of three streams each, Cyrillic names.
std::string MakeDirectory(int groups, int perGroup) {
  std::string text = "bench\r\nhttp://example.org/b.gif\r\nhttp://example.org/\r\n" + std::to_string(groups) + "\r\n";
  for (int g = 0; g < groups; ++g) text += "\xC3\xF0\xF3\xEF\xEF\xE0 " + std::to_string(g) + "\r\n";
  int id = 0;
  for (int g = 0; g < groups; ++g) {
    for (int s = 0; s < perGroup; ++s) {
      text += std::to_string(++id) + "|" + std::to_string(g) + "|\xD0\xE0\xE4\xE8\xEE " + std::to_string(s) +
              "|32|http://stream.example.org:8000/a32|64|http://stream.example.org:8000/a64|128|"
              "http://stream.example.org:8000/a128\r\n";
    }
  }
  return text;
}

void BM_ReadDirectory(benchmark::State& state) {
  const std::string text = MakeDirectory(20, static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(vornel::core::ReadDirectory(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["stations"] = static_cast<double>(20 * state.range(0));
}
BENCHMARK(BM_ReadDirectory)->Arg(10)->Arg(100)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
