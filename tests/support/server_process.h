#pragma once

// A helper server run as a child process for the length of a test: it prints "PORT <n>" when it
// listens and exits when its standard input closes, so a crashed test never leaves it behind.

#include <sys/types.h>

#include <string>
#include <vector>

namespace vornel::test {

class ServerProcess {
 public:
  // Starts `argv` (argv[0] is looked up on PATH) and waits up to 10 s for its port.
  explicit ServerProcess(const std::vector<std::string>& argv);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path) const;

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
};

}  // namespace vornel::test
