// The command line.
#pragma once

namespace dvlog {

enum class progress_mode { automatic, on, off };

struct options {
  const char* path = nullptr;  // nullptr, "" or "-": standard input
  bool json = false;
  bool damage = false;
  const char* report = nullptr;  // where to write the HTML report
  progress_mode progress = progress_mode::automatic;
};

enum class parse_result { run, help, version, usage_error };

// Options are words that start with "--", before or after the path, and the
// short forms -h and -V; "--" ends them. The first other word is the path;
// later ones are ignored. On a usage error, writes the message to err_fd.
parse_result parse_options(int argc, char** argv, options& out, int err_fd);

// The text of --help and --version.
extern const char USAGE_TEXT[];
extern const char VERSION_TEXT[];

}  // namespace dvlog
