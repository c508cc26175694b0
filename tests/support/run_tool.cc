#include "support/run_tool.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace dvtest {

namespace {

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Reads what is available on fd into text; closes fd at end of file.
void drain(int& fd, std::string& text) {
  char buffer[65536];
  ssize_t got = read(fd, buffer, sizeof buffer);
  if (got > 0) {
    text.append(buffer, static_cast<size_t>(got));
  } else if (got == 0 || errno != EINTR) {
    close_fd(fd);
  }
}

int pipe_pending(int fd) {
  int pending = 0;
  return ioctl(fd, FIONREAD, &pending) == 0 ? pending : 0;
}

}  // namespace

tool_run run_tool(const std::vector<std::string>& args, const tool_io& io) {
  // A child that exits before it has read all its input must not take the
  // test process down with SIGPIPE; the write then fails with EPIPE instead.
  std::signal(SIGPIPE, SIG_IGN);

  int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
  if (io.input != nullptr && pipe2(in_pipe, O_CLOEXEC) != 0) return {"", "pipe failed", -1};
  if (io.out_fd < 0 && pipe2(out_pipe, O_CLOEXEC) != 0) return {"", "pipe failed", -1};
  if (io.err_fd < 0 && pipe2(err_pipe, O_CLOEXEC) != 0) return {"", "pipe failed", -1};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (io.input != nullptr) {
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, io.out_fd >= 0 ? io.out_fd : out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, io.err_fd >= 0 ? io.err_fd : err_pipe[1], 2);

  std::vector<std::string> argv_text{DVLOG_BINARY};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int spawn_error = posix_spawn(&pid, DVLOG_BINARY, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close_fd(in_pipe[0]);
  close_fd(out_pipe[1]);
  close_fd(err_pipe[1]);

  tool_run result{"", "", -1};
  int in = in_pipe[1], out = out_pipe[0], err = err_pipe[0];
  if (spawn_error != 0) {
    close_fd(in);
    close_fd(out);
    close_fd(err);
    result.err = "could not start " DVLOG_BINARY;
    return result;
  }

  // Feed the input while collecting both outputs, so that a child blocked on
  // a full output pipe never waits for us while we wait for it to read.
  if (in >= 0) fcntl(in, F_SETFL, O_NONBLOCK);
  const bytes empty;
  const bytes& input = io.input != nullptr ? *io.input : empty;
  const size_t piece = std::max<size_t>(io.piece, 1);
  size_t written = 0, piece_left = 0;
  if (in >= 0 && input.empty()) close_fd(in);
  // A child that hangs is killed, so that the test fails instead of stalling.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  bool killed = false;

  while (in >= 0 || out >= 0 || err >= 0) {
    pollfd fds[3];
    int count = 0, in_at = -1, out_at = -1, err_at = -1;
    bool waiting = false;  // for the child to empty the pipe
    if (in >= 0) {
      if (piece_left == 0 && pipe_pending(in) == 0) piece_left = std::min(piece, input.size() - written);
      waiting = piece_left == 0;
      in_at = count;
      fds[count++] = {in, static_cast<short>(waiting ? 0 : POLLOUT), 0};  // POLLERR comes anyway
    }
    if (out >= 0) {
      out_at = count;
      fds[count++] = {out, POLLIN, 0};
    }
    if (err >= 0) {
      err_at = count;
      fds[count++] = {err, POLLIN, 0};
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 && !killed) {
      kill(pid, SIGKILL);
      killed = true;
      result.err += "[killed after 120 s]";
    }
    const int timeout = waiting ? 0 : killed ? -1 : static_cast<int>(std::max<long>(left.count(), 1));
    const int ready = poll(fds, static_cast<nfds_t>(count), timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready == 0 && waiting) sched_yield();

    if (in_at >= 0 && fds[in_at].revents != 0) {
      if (fds[in_at].revents & POLLOUT) {
        ssize_t done = write(in, input.data() + written, piece_left);
        if (done > 0) {
          written += static_cast<size_t>(done);
          piece_left -= static_cast<size_t>(done);
          if (written == input.size()) close_fd(in);
        } else if (done < 0 && errno != EAGAIN && errno != EINTR) {
          close_fd(in);  // the child stopped reading
        }
      } else {
        close_fd(in);
      }
    }
    if (out_at >= 0 && fds[out_at].revents != 0) drain(out, result.out);
    if (err_at >= 0 && fds[err_at].revents != 0) drain(err, result.err);
  }
  close_fd(in);
  close_fd(out);
  close_fd(err);

  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) return result;
  }
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) result.status = 128 + WTERMSIG(wait_status);
  return result;
}

std::string shell_output(const std::string& command, int* status) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status != nullptr) *status = -1;
    return text;
  }
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
  const int wait_status = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return text;
}

std::string shell_quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

temp_dir::temp_dir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/dvlog-e2e-XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

temp_dir::~temp_dir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string temp_dir::write(const std::string& name, const bytes& data) const {
  const std::string path = file(name);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f != nullptr) {
    if (!data.empty()) std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
  return path;
}

bytes read_file(const std::string& path) {
  bytes data;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return data;
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + got);
  std::fclose(f);
  return data;
}

int ffprobe_frames(const std::string& path) {
  int status = -1;
  const std::string out = shell_output(
      "ffprobe -v error -count_packets -select_streams v -show_entries stream=nb_read_packets -of csv=p=0 " +
          shell_quote(path),
      &status);
  return status == 0 ? std::atoi(out.c_str()) : -1;
}

std::string source_file(const std::string& relative) { return std::string(DVLOG_SOURCE_DIR) + "/" + relative; }

json_check check_json_log(const std::string& path) {
  const std::string json = shell_quote(DVLOG_BINARY) + " --json " + shell_quote(path) + " 2>/dev/null";
  json_check c;
  c.rebuilt_log = shell_output(json + " | " + shell_quote(source_file("tests/tools/json-to-log")));
  c.schema_report =
      shell_output(json + " | " + shell_quote(source_file("tests/tools/validate-events")) + " 2>&1", &c.schema_status);
  return c;
}

}  // namespace dvtest
