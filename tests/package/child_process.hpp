// Runs a program as a child process and collects what it wrote and how it ended, for tests that
// drive the build tools and the installed programs as a user would.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace vtn::testing_support {

struct ChildResult {
  int exit_code = -1;  // the exit status, or 128 + the signal that ended the child
  std::string out;
  std::string err;
};

struct ChildOptions {
  std::string directory = {};                                         // empty: the current one
  std::vector<std::pair<std::string, std::string>> environment = {};  // set for the child
  std::string input = {};  // written to its standard input
};

inline ChildResult run_child(const std::vector<std::string>& argv,
                             const ChildOptions& options = {}) {
  ChildResult result;
  signal(SIGPIPE, SIG_IGN);  // a child that exits without reading its input is no test failure
  int in[2], out[2], err[2];
  if (argv.empty() || pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 ||
      pipe2(err, O_CLOEXEC) != 0) {
    result.err = "cannot start the child";
    return result;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // Feed the input and drain both outputs together, so that a child that writes much before it
  // reads everything never blocks on a full pipe.
  size_t written = 0;
  int input_fd = in[1];
  if (options.input.empty()) {
    close(input_fd);
    input_fd = -1;
  } else {
    fcntl(input_fd, F_SETFL, O_NONBLOCK);
  }
  pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {input_fd, POLLOUT, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    fds[2].fd = input_fd;
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
    if (input_fd >= 0 && fds[2].revents != 0) {
      const ssize_t n =
          write(input_fd, options.input.data() + written, options.input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == options.input.size()) {
        close(input_fd);
        input_fd = -1;
      }
    }
  }
  if (input_fd >= 0) close(input_fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace vtn::testing_support
