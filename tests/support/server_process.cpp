#include "support/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace vornel::test {

ServerProcess::ServerProcess(const std::vector<std::string>& argv) {
  int in[2];
  int out[2];
  // Close-on-exec, so that a server started later holds no end of this one's pipes: its stdin
  // would otherwise never reach end-of-file while that other server lives.
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  stdin_ = in[1];

  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c[256];
    const ssize_t n = read(out[0], c, sizeof c);
    if (n <= 0) break;
    line.append(c, static_cast<std::size_t>(n));
  }
  close(out[0]);
  if (line.rfind("PORT ", 0) != 0) throw std::runtime_error("server did not start: " + line);
  port_ = std::stoi(line.substr(5));
}

ServerProcess::~ServerProcess() {
  if (stdin_ >= 0) close(stdin_);
  if (pid_ <= 0) return;
  for (int i = 0; i < 50; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

std::string ServerProcess::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace vornel::test
