// Runs the dvlog executable (or a shell command) as a child process, feeds it
// input through a pipe and captures what it writes.
#pragma once

#include <string>
#include <vector>

#include "support/dif_builder.h"

namespace dvtest {

struct tool_run {
  std::string out;  // empty when out_fd redirected it
  std::string err;  // empty when err_fd redirected it
  int status;       // exit status, or 128 + the signal that ended the child
};

struct tool_io {
  // Standard input: these bytes through a pipe, or /dev/null when null.
  const bytes* input = nullptr;
  // The input goes into the pipe in pieces of this size, each one only once
  // the pipe has been emptied, so that no read of the child returns more than
  // one piece.
  size_t piece = 65536;
  // When >= 0, the child's standard output (error) goes to this descriptor
  // instead of being captured.
  int out_fd = -1;
  int err_fd = -1;
};

// Runs DVLOG_BINARY with args (argv[1] onwards) and waits for it.
tool_run run_tool(const std::vector<std::string>& args, const tool_io& io = {});

// Runs command through /bin/sh; returns its standard output and stores its
// exit status in *status when given.
std::string shell_output(const std::string& command, int* status = nullptr);

// Quotes text for /bin/sh.
std::string shell_quote(const std::string& text);

// A new, empty directory, removed with everything in it when destroyed.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Writes data to a file in the directory; returns its path.
  std::string write(const std::string& name, const bytes& data) const;

 private:
  std::string path_;
};

bytes read_file(const std::string& path);

// The frames of a DV file as ffprobe counts its video packets; -1 on failure.
int ffprobe_frames(const std::string& path);

// A file of the source tree, such as "samples/sample.dv".
std::string source_file(const std::string& relative);

// `dvlog --json` on a file, turned back into the text log by
// tests/tools/json-to-log and checked against the JSON Schema of the events
// by tests/tools/validate-events.
struct json_check {
  std::string rebuilt_log;    // what json-to-log printed
  std::string schema_report;  // what the validator printed; empty when valid
  int schema_status;          // 0 when every line is a valid event
};
json_check check_json_log(const std::string& path);

}  // namespace dvtest
