#pragma once

// Helpers for tests that watch other threads and servers.

#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>

namespace vornel::test {

// Polls `condition` until it holds or `limit` passes; true when it held.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// A KEY=VALUE file, such as the one the Icecast fixture writes.
inline std::map<std::string, std::string> ReadKeyValues(const std::string& path) {
  std::map<std::string, std::string> values;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

}  // namespace vornel::test
