#include "main/options.h"

#include <cstdio>
#include <algorithm>
#include <cstring>

#include "report/output_stream.h"

#ifndef DVLOG_VERSION
#define DVLOG_VERSION "unknown"
#endif

namespace dvlog {

const char USAGE_TEXT[] =
    "Usage: dvlog [OPTION]... [FILE]\n"
    "Log the camera, picture and audio settings, the recording starts and the\n"
    "audio sync of a raw DV stream. With no FILE, or when FILE is -, read\n"
    "standard input.\n"
    "\n"
    "  --json         write the log as JSON Lines, one event a line\n"
    "  --damage       also tell what the tape lost: damaged frames (video blocks\n"
    "                 concealed or in error, audio error samples, missing DIF\n"
    "                 sequences) and jumps of the timecode and recording time\n"
    "  --report FILE  also write an HTML report of the tape to FILE: a timeline\n"
    "                 of recordings, damage, audio offset and events, and tables\n"
    "  --progress     show progress on standard error (the default when standard\n"
    "                 error is a terminal and standard output is not)\n"
    "  --no-progress  never show progress\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Exit status: 0 when the whole input was read and the log written; 1 when\n"
    "the input could not be opened or read or the log not written; 2 for a\n"
    "wrong command line; 130 or 143 when stopped by SIGINT or SIGTERM, after\n"
    "the summary of what was read.\n";

const char VERSION_TEXT[] = "dvlog " DVLOG_VERSION "\n";

namespace {

enum class option_id { help, version, json, damage, report, progress, no_progress };

struct option_entry {
  const char* name;
  option_id id;
  bool takes_value = false;
};

constexpr option_entry OPTIONS[] = {
    {"--help", option_id::help},         {"-h", option_id::help},
    {"--version", option_id::version},   {"-V", option_id::version},
    {"--json", option_id::json},         {"--damage", option_id::damage},
    {"--report", option_id::report, true},
    {"--progress", option_id::progress},
    {"--no-progress", option_id::no_progress},
};

bool is_option(const char* arg) {
  return std::strncmp(arg, "--", 2) == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-V") == 0;
}

parse_result usage_error(int err_fd, const char* format, const char* arg, size_t length) {
  char message[1024];
  int n = std::snprintf(message, sizeof message, format, static_cast<int>(std::min<size_t>(length, 200)), arg);
  if (n < 0) n = 0;
  n += std::snprintf(message + n, sizeof message - static_cast<size_t>(n), "Try 'dvlog --help'.\n");
  (void)write_all(err_fd, message, std::min(static_cast<size_t>(n), sizeof message - 1));
  return parse_result::usage_error;
}

}  // namespace

parse_result parse_options(int argc, char** argv, options& out, int err_fd) {
  bool options_ended = false;
  bool have_path = false;
  parse_result wanted = parse_result::run;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (options_ended || !is_option(arg)) {
      if (!have_path) out.path = arg;
      have_path = true;
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      options_ended = true;
      continue;
    }
    // --name=value: the name is what comes before '='.
    const char* equals = std::strchr(arg, '=');
    const size_t name_length = equals ? static_cast<size_t>(equals - arg) : std::strlen(arg);
    const option_entry* known = nullptr;
    for (const option_entry& o : OPTIONS)
      if (std::strlen(o.name) == name_length && std::strncmp(o.name, arg, name_length) == 0) known = &o;
    if (known == nullptr) return usage_error(err_fd, "dvlog: unknown option '%.*s'\n", arg, name_length);
    const char* value = nullptr;
    if (known->takes_value) {
      // --name=VALUE or --name VALUE
      value = equals ? equals + 1 : i + 1 < argc ? argv[++i] : nullptr;
      if (value == nullptr || value[0] == '\0')
        return usage_error(err_fd, "dvlog: option '%.*s' needs a file name\n", arg, name_length);
    } else if (equals) {
      return usage_error(err_fd, "dvlog: option '%.*s' takes no value\n", arg, name_length);
    }
    switch (known->id) {
      case option_id::help:
        if (wanted == parse_result::run) wanted = parse_result::help;
        break;
      case option_id::version:
        if (wanted == parse_result::run) wanted = parse_result::version;
        break;
      case option_id::json:
        out.json = true;
        break;
      case option_id::damage:
        out.damage = true;
        break;
      case option_id::report:
        out.report = value;
        break;
      case option_id::progress:
        out.progress = progress_mode::on;
        break;
      case option_id::no_progress:
        out.progress = progress_mode::off;
        break;
    }
  }
  return wanted;
}

}  // namespace dvlog
