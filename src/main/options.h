// The command line.
#pragma once

#include <vector>

#include "split/split_rules.h"

namespace dvlog {

enum class progress_mode { automatic, on, off };

struct options {
  // The inputs, as given; none means standard input, as does "" or "-".
  std::vector<const char*> paths;
  bool json = false;
  bool damage = false;
  bool table = false;            // one CSV row an input instead of logs
  const char* report = nullptr;  // where to write the HTML report
  const char* frames = nullptr;  // where to write the table of frames
  const char* split = nullptr;   // the directory to cut the input into
  unsigned split_at = SPLIT_AT_START | SPLIT_AT_FORMAT;  // split_rule bits
  const char* merge = nullptr;   // where to write the tape rebuilt from the inputs
  const char* stills = nullptr;  // the directory to write pictures of the tape into
  bool pictures = true;          // the report shows pictures of the tape
  progress_mode progress = progress_mode::automatic;
};

enum class parse_result { run, help, version, usage_error };

// Options are words that start with "--", before or after the paths, and the
// short forms -h and -V; "--" ends them. Every other word is an input. On a
// usage error, writes the message to err_fd.
parse_result parse_options(int argc, char** argv, options& out, int err_fd);

// Before anything is opened: no output that is written while the stream is
// read may name the log's own output, by any path. Tells a usage error on
// err_fd.
parse_result check_output_files(const options& o, int out_fd, int err_fd);

// With --merge, before anything is opened: OUT must be a new or a regular
// file, neither the log's output (out_fd, err_fd) nor the report, and no
// transfer may be given twice. Tells a usage error on err_fd.
parse_result check_merge_files(const options& o, int out_fd, int err_fd);

// The text of --help and --version.
extern const char USAGE_TEXT[];
extern const char VERSION_TEXT[];

}  // namespace dvlog
