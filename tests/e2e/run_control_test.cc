// dvlog at the end of a live capture: stopped by a signal, writing to a full
// disk, reading and writing descriptors left non-blocking, and showing its
// progress on a terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/dif_builder.h"
#include "support/run_tool.h"

extern char** environ;

namespace dvtest {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Frames of NTSC, each with its timecode, a video source pack and camera
// packs whose gain changes every frame, so that every frame prints a status
// line (the first once all of frame 3's packs are known).
bytes changing_frames(int frames, int first = 0) {
  bytes s = make_stream(static_cast<size_t>(frames) * 10);
  for (size_t i = 0; i * SEQ < s.size(); ++i) {
    uint8_t* seq = &s[i * SEQ];
    const int frame = first + static_cast<int>(i / 10);
    put_subcode_pack(seq, 0, 0, timecode_pack(0, frame / 1500, frame / 25 % 60, frame % 25));
    put_vaux_pack(seq, 0, 0, video_source_pack(false));
    put_vaux_pack(seq, 0, 1, camera1_pack(0xC6, static_cast<uint8_t>(1 + frame % 2)));
    put_vaux_pack(seq, 0, 2, shutter_pack(260));
  }
  return s;
}

// A child dvlog with the given descriptors as its standard streams.
pid_t start(const std::vector<std::string>& args, int in, int out, int err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  std::vector<std::string> text{DVLOG_BINARY};
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : text) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, DVLOG_BINARY, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits until the child has read `at_least` bytes (its /proc io count; the
// loader's reads are a few kB): then it reads its input, whatever the
// machine's speed. False if it ended first.
bool reading(pid_t pid, long long at_least) {
  for (;;) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/io", static_cast<int>(pid));
    long long read_bytes = -1;
    if (FILE* io = std::fopen(path, "r")) {
      if (std::fscanf(io, "rchar: %lld", &read_bytes) != 1) read_bytes = -1;
      std::fclose(io);
    }
    if (read_bytes >= at_least) return true;
    if (waitpid(pid, nullptr, WNOHANG) != 0) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
}

int exit_status(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads fd until `text` has come or `limit` has passed; returns all read.
std::string read_until(int fd, const std::string& text, milliseconds limit) {
  std::string got;
  const auto deadline = steady_clock::now() + limit;
  while (got.find(text) == std::string::npos) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

void write_all(int fd, const bytes& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ASSERT_GT(n, 0) << "write failed: " << std::strerror(errno);
    done += static_cast<size_t>(n);
  }
}

std::string drain(int fd) { return read_until(fd, std::string(1, '\0'), milliseconds(20000)); }

// Ctrl-C on a capture pipe: a FIFO gets 5 frames and stays open. dvlog stops
// reading at the signal and writes the summary of what it analysed (49
// sequences: the last one is not examined, nothing follows it yet), then
// exits as a shell reports a run ended by that signal. A second signal while
// it finishes changes nothing. The report says where the reading stopped.
TEST(RunControl, SignalStopsWithTheSummary) {
  temp_dir dir;
  const std::string fifo = dir.file("capture");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig == SIGINT ? "SIGINT" : "SIGTERM");
    int out[2], err[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
    const int null_in = open("/dev/null", O_RDONLY);
    const std::string page = dir.file("capture.html");
    const pid_t pid = start({"--report", page, fifo}, null_in, out[1], err[1]);
    close(null_in);
    close(out[1]);
    close(err[1]);
    const int writer = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    write_all(writer, changing_frames(5));
    // The frame-5 line shows that dvlog has read all it was given.
    std::string log = read_until(out[0], "00h 00m 00s 04f", milliseconds(20000));
    ASSERT_NE(log.find("00h 00m 00s 04f"), std::string::npos) << log;
    kill(pid, sig);
    kill(pid, sig);
    log += drain(out[0]);
    const int status = exit_status(pid);
    close(writer);
    EXPECT_EQ(log.substr(log.find("============")), "============\nTotal frames: 5\nDIF Blocks analysed: 49\n");
    EXPECT_EQ(status, 128 + sig);
    // Told on standard error, with the bytes read so far (the pipe may not
    // have given all 600000 yet).
    const std::string told = drain(err[0]);
    const std::string before = std::string("dvlog: stopped by ") + (sig == SIGINT ? "SIGINT" : "SIGTERM") + " after ";
    EXPECT_EQ(told.substr(0, before.size()), before) << told;
    const size_t bytes_end = told.find(" bytes; the log covers what was read\n");
    EXPECT_NE(bytes_end, std::string::npos) << told;
    const bytes html = read_file(page);
    const std::string stopped =
        "Stopped by " + told.substr(18, bytes_end - 18) + " bytes: this report covers what was read";
    EXPECT_NE(std::string(html.begin(), html.end()).find(stopped), std::string::npos) << stopped;
    close(out[0]);
    close(err[0]);
  }
}

// An input that is never empty (a busy capture pipe, or here /dev/zero, which
// has no sequence in it): the signal still ends the reading, and the summary
// of what was read follows. A dvlog that does not stop is killed after 20 s.
TEST(RunControl, SignalStopsAnInputThatIsNeverEmpty) {
  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig == SIGINT ? "SIGINT" : "SIGTERM");
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const int zero = open("/dev/zero", O_RDONLY | O_CLOEXEC);
    const int null_err = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = start({}, zero, out[1], null_err);
    close(zero);
    close(null_err);
    close(out[1]);
    ASSERT_TRUE(reading(pid, 1 << 20));
    kill(pid, sig);
    int status = -1;
    for (int waited = 0; waited < 2000 && waitpid(pid, &status, WNOHANG) == 0; ++waited)
      std::this_thread::sleep_for(milliseconds(10));
    if (!WIFEXITED(status)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "still reading 20 s after the signal";
    }
    EXPECT_EQ(drain(out[0]), "============\nTotal frames: 0\nDIF Blocks analysed: 0\n");
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 128 + sig);
    close(out[0]);
  }
}

// The report is made as a file without a name until it is complete: a dvlog
// killed while reading leaves nothing beside the report.
TEST(RunControl, KilledRunLeavesNoReportBehind) {
  temp_dir dir;
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t pid = start({"--report", dir.file("tape.html"), "/dev/zero"}, null_fd, null_fd, null_fd);
  close(null_fd);
  ASSERT_TRUE(reading(pid, 1 << 20));
  kill(pid, SIGKILL);
  EXPECT_EQ(exit_status(pid), 128 + SIGKILL);
  EXPECT_EQ(shell_output("ls -A " + shell_quote(dir.path())), "");
}

// With standard output on a full disk, the failure is told as soon as the
// first line cannot be written, although the input goes on. dvlog goes on
// reading, so that a capture upstream is not cut off, and ends with status 1.
TEST(RunControl, FullDiskIsToldAtOnce) {
  int in[2], err[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  const pid_t pid = start({}, in[0], full, err[1]);
  close(in[0]);
  close(err[1]);
  close(full);
  const std::string message = "Could not write output: No space left on device\n";
  // Five frames make the first status line; the message must follow while
  // the input is still open.
  const auto written = steady_clock::now();
  write_all(in[1], changing_frames(5));
  std::string said = read_until(err[0], message, milliseconds(1000));
  EXPECT_EQ(said, message) << "within a second, with the input still open";
  std::printf("told after %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<milliseconds>(steady_clock::now() - written).count()));
  // Still reading: 200 more frames go in without a broken pipe.
  for (int k = 1; k <= 40; ++k) write_all(in[1], changing_frames(5, 5 * k));
  close(in[1]);
  EXPECT_EQ(exit_status(pid), 1);
  EXPECT_EQ(said + drain(err[0]), message);  // told once
  close(err[0]);
}

// Descriptors that another program left non-blocking: reads that find the
// pipe empty and writes that find it full are waited out, and the log is the
// one of a file run.
TEST(RunControl, NonBlockingDescriptors) {
  temp_dir dir;
  const bytes stream = changing_frames(60);
  const std::string path = dir.write("frames.dv", stream);
  const tool_run from_file = run_tool({path});
  ASSERT_EQ(from_file.status, 0);
  ASSERT_GT(from_file.out.size(), 4096u);  // more than the pipe holds

  for (const bool input_side : {true, false}) {
    SCOPED_TRACE(input_side ? "standard input" : "standard output");
    int in[2], out[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    // The flag belongs to the open pipe, so the child's end carries it.
    const int child_end = input_side ? in[0] : out[1];
    fcntl(child_end, F_SETFL, fcntl(child_end, F_GETFL) | O_NONBLOCK);
    fcntl(out[1], F_SETPIPE_SZ, 4096);  // fills after a few lines
    const int null_err = open("/dev/null", O_WRONLY);
    const pid_t pid = start({}, in[0], out[1], null_err);
    close(null_err);
    close(in[0]);
    close(out[1]);
    std::string log;
    std::thread feeder([&] {
      // In pieces, with pauses, so that the child finds the pipe empty.
      for (size_t at = 0; at < stream.size(); at += 50000) {
        write_all(in[1], bytes(stream.begin() + static_cast<long>(at),
                               stream.begin() + static_cast<long>(std::min(stream.size(), at + 50000))));
        std::this_thread::sleep_for(milliseconds(input_side ? 2 : 0));
      }
      close(in[1]);
    });
    // Slowly, so that the child finds the pipe full.
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      ASSERT_GT(n, 0);
      log.append(buffer, static_cast<size_t>(n));
      if (!input_side) std::this_thread::sleep_for(milliseconds(1));
    }
    feeder.join();
    close(out[0]);
    EXPECT_EQ(log, from_file.out);
    EXPECT_EQ(exit_status(pid), 0);
  }
}

// The progress line, seen through a pseudo-terminal made by script(1). The
// input comes through a pipe in two parts with a pause between, so that the
// line is drawn; it is erased at the end and never reaches the log.
TEST(RunControl, ProgressOnATerminalOnly) {
  temp_dir dir;
  const std::string part1 = dir.write("part1.dv", changing_frames(30));
  const std::string part2 = dir.write("part2.dv", changing_frames(30, 30));
  const std::string log = dir.file("log.txt");
  const std::string whole = dir.write("whole.dv", [&] {
    bytes b = read_file(part1), c = read_file(part2);
    b.insert(b.end(), c.begin(), c.end());
    return b;
  }());
  const std::string feed =
      "{ cat " + shell_quote(part1) + "; sleep 0.6; cat " + shell_quote(part2) + "; } | " + shell_quote(DVLOG_BINARY);
  auto on_terminal = [&](const std::string& command) {
    int status = -1;
    const std::string screen = shell_output("script -qec " + shell_quote(command) + " /dev/null", &status);
    EXPECT_EQ(status, 0) << command;
    return screen;
  };
  const std::string expected_log = run_tool({whole}).out;

  // Standard error on the terminal, the log in a file: the line is shown,
  // then erased (spaces over it, back to the start of the line).
  const std::string screen = on_terminal(feed + " > " + shell_quote(log));
  const size_t shown = screen.find("\rdvlog: ");
  ASSERT_NE(shown, std::string::npos) << screen;
  EXPECT_NE(screen.find(" MB read, ", shown), std::string::npos) << screen;
  EXPECT_NE(screen.find(" frames", shown), std::string::npos) << screen;
  EXPECT_EQ(screen.back(), '\r') << screen;
  const bytes written = read_file(log);
  EXPECT_EQ(std::string(written.begin(), written.end()), expected_log);

  // Not when turned off, nor when the log itself goes to the terminal.
  EXPECT_EQ(on_terminal(feed + " --no-progress > " + shell_quote(log)), "");
  EXPECT_EQ(on_terminal(feed + " 2>&1 | cat").find("\rdvlog: "), std::string::npos);
  // Without a terminal, standard error holds nothing but messages.
  int status = -1;
  EXPECT_EQ(shell_output(feed + " 2>&1 >/dev/null", &status), "");
  // With several inputs it says which is read, of how many.
  const std::string several = shell_output(feed + " --progress " + shell_quote(part1) + " - 2>&1 >/dev/null", &status);
  EXPECT_NE(several.find("\rdvlog: file 2 of 2, "), std::string::npos) << several;
}

}  // namespace
}  // namespace dvtest
