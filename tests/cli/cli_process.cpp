#include "tests/cli/cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace quillmar::testing {
namespace {

std::vector<char*> Argv(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(QUILLMAR_CLI_BINARY));
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

[[noreturn]] void ExecChild(const std::vector<std::string>& args, const std::string& cwd) {
  if (::chdir(cwd.c_str()) != 0)
    ::_exit(127);
  std::vector<char*> argv = Argv(args);
  ::execv(QUILLMAR_CLI_BINARY, argv.data());
  ::_exit(127);
}

int ExitStatus(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  if (WIFSIGNALED(status))
    return 128 + WTERMSIG(status);
  return -1;
}

// Appends what fd has to offer; false at its end.
bool Drain(int fd, std::string* into) {
  char buffer[4096];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n < 0 && errno == EINTR)
    return true;
  if (n <= 0)
    return false;
  into->append(buffer, static_cast<size_t>(n));
  return true;
}

}  // namespace

int RunCliUntil(const std::vector<std::string>& args, const std::string& cwd,
                const std::function<bool()>& kill_when) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDWR);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0)
      ::_exit(127);
    ExecChild(args, cwd);
  }
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (kill_when()) {
      ::kill(pid, SIGKILL);
      return ExitStatus(pid);
    }
    ::usleep(200);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

CliRun RunCliBinary(const std::vector<std::string>& args, const std::string& cwd,
                    const OutputWatcher& on_output) {
  int out_pipe[2];
  int err_pipe[2];
  CliRun run;
  if (::pipe2(out_pipe, O_CLOEXEC) != 0)
    return run;
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    return run;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDONLY);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(out_pipe[1], 1) < 0 ||
        ::dup2(err_pipe[1], 2) < 0) {
      ::_exit(127);
    }
    ExecChild(args, cwd);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_count = 2;
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
          !Drain(fds[i].fd, i == 0 ? &run.out : &run.err)) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
    if (on_output)
      on_output(pid, run);
  }
  for (pollfd& p : fds) {
    if (p.fd >= 0)
      ::close(p.fd);
  }
  run.status = pid > 0 ? ExitStatus(pid) : -1;
  return run;
}

CliRun RunCliOnTerminal(const std::vector<std::string>& args, const std::string& cwd,
                        const std::vector<std::string>& answers) {
  CliRun run;
  int master = -1;
  pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0)
    return run;
  if (pid == 0)
    ExecChild(args, cwd);
  size_t answered = 0;
  size_t searched = 0;
  // The pseudo-terminal reports EIO once the child has gone and its side is closed.
  while (Drain(master, &run.err)) {
    size_t prompt;
    while ((prompt = run.err.find("[y/N]", searched)) != std::string::npos) {
      searched = prompt + 5;
      std::string answer = answered < answers.size() ? answers[answered] : "";
      ++answered;
      if (answer.rfind("\x03", 0) == 0) {  // Ctrl-C alone, the rest only if still asked after it
        if (::write(master, "\x03", 1) < 0)
          break;
        ::usleep(300000);
        answer.erase(0, 1);
      }
      answer += "\n";
      if (::write(master, answer.data(), answer.size()) < 0)
        break;
    }
  }
  ::close(master);
  run.status = ExitStatus(pid);
  return run;
}

std::string ImageFingerprint(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return "missing";
  std::string fingerprint;
  off_t end = ::lseek(fd, 0, SEEK_END);
  off_t at = 0;
  std::vector<unsigned char> buffer(1 << 20);
  while (at < end) {
    off_t data = ::lseek(fd, at, SEEK_DATA);
    if (data < 0)
      break;
    off_t hole = ::lseek(fd, data, SEEK_HOLE);
    if (hole < 0)
      hole = end;
    uint64_t hash = 1469598103934665603ull;  // FNV-1a over the extent's bytes
    for (off_t pos = data; pos < hole;) {
      size_t want =
          static_cast<size_t>(std::min<off_t>(hole - pos, static_cast<off_t>(buffer.size())));
      ssize_t got = ::pread(fd, buffer.data(), want, pos);
      if (got <= 0)
        break;
      for (ssize_t i = 0; i < got; ++i) {
        hash = (hash ^ buffer[static_cast<size_t>(i)]) * 1099511628211ull;
      }
      pos += got;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%lld+%lld:%016llx;", static_cast<long long>(data),
                  static_cast<long long>(hole - data), static_cast<unsigned long long>(hash));
    fingerprint += text;
    at = hole;
  }
  char size[32];
  std::snprintf(size, sizeof size, "size %lld", static_cast<long long>(end));
  ::close(fd);
  return fingerprint + size;
}

CliRun RunTool(const std::string& command_line) {
  CliRun run;
  std::FILE* pipe = ::popen(command_line.c_str(), "r");
  if (pipe == nullptr)
    return run;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    run.out.append(buffer, n);
  int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Contains(const std::string& text, const std::string& fragment) {
  return text.find(fragment) != std::string::npos;
}

std::string ListRow(const std::string& list_output, int index) {
  const std::string prefix = "\n" + std::to_string(index) + " ";
  size_t at = list_output.find("Index  Device");
  if (at == std::string::npos)
    return "";
  at = list_output.find(prefix, at);
  if (at == std::string::npos)
    return "";
  const size_t end = list_output.find('\n', at + 1);
  return list_output.substr(at + 1, end == std::string::npos ? end : end - at - 1);
}

bool RowEndsWith(const std::string& list_output, int index, const std::string& status) {
  const std::string row = ListRow(list_output, index);
  const std::string tail = "  " + status;
  return row.size() >= tail.size() && row.compare(row.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace quillmar::testing
