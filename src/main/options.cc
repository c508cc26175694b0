#include "main/options.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "input/source.h"
#include "output/output_stream.h"

#ifndef DVLOG_VERSION
#define DVLOG_VERSION "unknown"
#endif

namespace dvlog {

const char USAGE_TEXT[] =
    "Usage: dvlog [OPTION]... [FILE]...\n"
    "Log the camera, picture and audio settings, the recording starts and the\n"
    "audio sync of raw DV streams, each FILE in turn. With no FILE, or when\n"
    "FILE is -, read standard input.\n"
    "\n"
    "  --json            write the log as JSON Lines, one event a line\n"
    "  --damage          also tell what the tape lost: damaged frames (video\n"
    "                    blocks concealed or in error, audio error samples,\n"
    "                    missing DIF sequences, skipped bytes) and jumps of the\n"
    "                    timecode and recording time\n"
    "  --table           instead of logs, one CSV row a FILE: its frames,\n"
    "                    formats, recordings, audio sync and damage\n"
    "  --report FILE     also write an HTML report of the tape to FILE: a\n"
    "                    timeline of recordings, damage, audio offset and\n"
    "                    events, and tables, with pictures of the tape\n"
    "  --no-pictures     the report without pictures\n"
    "  --frames FILE     also write one CSV row a frame to FILE: its place,\n"
    "                    timecode, recording, format, deck speed and damage\n"
    "  --split DIR       also cut the input into parts in DIR, one a recording\n"
    "  --split-at RULES  where to cut, from start, format, time-jump and\n"
    "                    timecode-jump, comma-separated (default start,format)\n"
    "  --wrap FORMAT     the parts as dv (the default), or as mkv or mov files:\n"
    "                    the DV frames with their sound, the recording date\n"
    "                    and timecode as tags and as a subtitle track\n"
    "  --merge OUT       the FILEs are transfers of one tape (or one capture with\n"
    "                    retakes): write to OUT the tape rebuilt from what each\n"
    "                    pass read right, and log it\n"
    "  --stills DIR      also write pictures of the tape into DIR as JPEG: the\n"
    "                    first frame of each recording, frames along long ones,\n"
    "                    and the frames before and at the worst damage\n"
    "  --progress        show progress on standard error (the default when\n"
    "                    standard error is a terminal and standard output is not)\n"
    "  --no-progress     never show progress\n"
    "  -h, --help        show this help and exit\n"
    "  -V, --version     show the version and exit\n"
    "\n"
    "Exit status: 0 when every input was read whole and the log written; 1 when\n"
    "an input could not be opened or read, or an output not written; 2 for a\n"
    "wrong command line; 130 or 143 when stopped by SIGINT or SIGTERM, after\n"
    "the summary of what was read.\n";

const char VERSION_TEXT[] = "dvlog " DVLOG_VERSION "\n";

namespace {

enum class option_id { help, version, json, damage, table, report, frames, split, split_at, wrap, merge, stills,
                       no_pictures, progress, no_progress };

struct option_entry {
  const char* name;
  option_id id;
  bool takes_value = false;
};

constexpr option_entry OPTIONS[] = {
    {"--help", option_id::help},         {"-h", option_id::help},
    {"--version", option_id::version},   {"-V", option_id::version},
    {"--json", option_id::json},         {"--damage", option_id::damage},
    {"--table", option_id::table},       {"--report", option_id::report, true},
    {"--frames", option_id::frames, true}, {"--split", option_id::split, true},
    {"--split-at", option_id::split_at, true}, {"--wrap", option_id::wrap, true},
    {"--merge", option_id::merge, true},  {"--stills", option_id::stills, true},
    {"--no-pictures", option_id::no_pictures},
    {"--progress", option_id::progress},
    {"--no-progress", option_id::no_progress},
};

bool is_option(const char* arg) {
  return std::strncmp(arg, "--", 2) == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-V") == 0;
}

parse_result usage_error(int err_fd, const char* format, const char* arg = "", size_t length = 0) {
  char message[1024];
  int n = std::snprintf(message, sizeof message, format, static_cast<int>(std::min<size_t>(length, 200)), arg);
  if (n < 0) n = 0;
  n += std::snprintf(message + n, sizeof message - static_cast<size_t>(n), "Try 'dvlog --help'.\n");
  (void)write_all(err_fd, message, std::min(static_cast<size_t>(n), sizeof message - 1));
  return parse_result::usage_error;
}

struct split_rule_name {
  const char* name;
  split_rule rule;
};
constexpr split_rule_name SPLIT_RULES[] = {
    {"start", SPLIT_AT_START},
    {"format", SPLIT_AT_FORMAT},
    {"time-jump", SPLIT_AT_TIME_JUMP},
    {"timecode-jump", SPLIT_AT_TIMECODE_JUMP},
};

// "start,format" and the like, into rule bits; false at a word that is no rule.
bool parse_split_rules(const char* text, unsigned& rules, int err_fd) {
  rules = 0;
  for (const char* word = text;;) {
    const char* comma = std::strchr(word, ',');
    const size_t length = comma ? static_cast<size_t>(comma - word) : std::strlen(word);
    const split_rule_name* known = nullptr;
    for (const split_rule_name& r : SPLIT_RULES)
      if (std::strlen(r.name) == length && std::strncmp(r.name, word, length) == 0) known = &r;
    if (known == nullptr) {
      usage_error(err_fd, "dvlog: unknown split rule '%.*s' (start, format, time-jump, timecode-jump)\n", word,
                  length);
      return false;
    }
    rules |= known->rule;
    if (comma == nullptr) return true;
    word = comma + 1;
  }
}

struct wrap_format_name {
  const char* name;
  wrap_format format;
};
constexpr wrap_format_name WRAP_FORMATS[] = {
    {"dv", wrap_format::dv},
    {"mkv", wrap_format::mkv},
    {"mov", wrap_format::mov},
};

// Options that do not go together, or not with the inputs given.
parse_result check_combination(const options& o, int err_fd) {
  const size_t inputs = o.paths.size();
  char count[24];
  std::snprintf(count, sizeof count, "%zu", inputs);
  if (o.table && o.json) return usage_error(err_fd, "dvlog: --table and --json do not go together\n");
  if (o.report && inputs > 1 && !o.merge)
    return usage_error(err_fd, "dvlog: --report is the report of one input, not of %.*s\n", count, std::strlen(count));
  if (o.frames && inputs > 1 && !o.merge)
    return usage_error(err_fd, "dvlog: --frames is the frames of one input, not of %.*s\n", count, std::strlen(count));
  // Standard output holds the log (or the table).
  if (o.frames && std::strcmp(o.frames, "-") == 0)
    return usage_error(err_fd, "dvlog: --frames needs a file: standard output holds the log\n");
  // ("-" names standard output, never a file of that name.)
  if (o.report && std::strcmp(o.report, "-") == 0)
    return usage_error(err_fd, "dvlog: --report needs a file: standard output holds the log\n");
  if (o.merge) {
    if (o.table || o.split || o.stills)
      return usage_error(err_fd, "dvlog: --merge goes with none of --table, --split and --stills\n");
    bool from_stdin = false;
    for (const char* p : o.paths) from_stdin |= names_standard_input(p);
    if (inputs < 1 || from_stdin)
      return usage_error(err_fd, "dvlog: --merge needs transfers as files, not standard input\n");
  }
  return parse_result::run;
}

// Where a path leads: the file there, or, when there is none yet, the
// directory it would be made in and its name there.
struct path_place {
  bool exists;
  struct stat st;
  std::string name;  // the last component, when it does not exist
};
path_place place_of(const char* path) {
  path_place p{};
  p.exists = stat(path, &p.st) == 0;
  if (p.exists) return p;
  const char* slash = std::strrchr(path, '/');
  const std::string dir = slash ? std::string(path, static_cast<size_t>(slash - path) + 1) : ".";
  p.name = slash ? slash + 1 : path;
  if (stat(dir.c_str(), &p.st) != 0) p.st = {};
  return p;
}
bool same_place(const path_place& a, const path_place& b) {
  return a.exists == b.exists && a.st.st_dev == b.st.st_dev && a.st.st_ino == b.st.st_ino && a.name == b.name;
}
bool is_fd(const path_place& p, int fd) {
  struct stat st;
  return p.exists && fstat(fd, &st) == 0 && st.st_dev == p.st.st_dev && st.st_ino == p.st.st_ino;
}

// Writes to it vanish, whoever makes them.
bool is_null_device(const path_place& p) {
  struct stat null;
  return p.exists && S_ISCHR(p.st.st_mode) && stat("/dev/null", &null) == 0 && p.st.st_rdev == null.st_rdev;
}

}  // namespace

parse_result check_output_files(const options& o, int out_fd, int err_fd) {
  // The table of frames is written as the frames pass: on the log's own
  // file, by whatever name (/dev/stdout, /proc/self/fd/1, the file the log
  // is redirected to), the two would overwrite each other.
  if (o.frames) {
    const path_place frames = place_of(o.frames);
    if (is_fd(frames, out_fd) && !is_null_device(frames))
      return usage_error(err_fd, "dvlog: --frames needs a file: standard output holds the log\n");
  }
  return parse_result::run;
}

parse_result check_merge_files(const options& o, int out_fd, int err_fd) {
  const path_place out = place_of(o.merge);
  const size_t length = std::strlen(o.merge);
  if (is_fd(out, out_fd) || is_fd(out, err_fd))
    return usage_error(err_fd, "dvlog: --merge %.*s names the log's own output\n", o.merge, length);
  if (out.exists && !S_ISREG(out.st.st_mode))
    return usage_error(err_fd, "dvlog: --merge %.*s is no regular file (OUT is read back for its log)\n", o.merge,
                       length);
  if (o.report && same_place(place_of(o.report), out))
    return usage_error(err_fd, "dvlog: --report and --merge name one file, %.*s\n", o.merge, length);
  // A merge writes a new file: one that holds anything (a capture, an
  // earlier merge) is refused, as the parts of a split and the stills
  // refuse theirs. An input named as OUT is refused as such.
  bool names_input = false;
  for (const char* path : o.paths) names_input |= out.exists && same_place(place_of(path), out);
  if (out.exists && out.st.st_size > 0 && !names_input)
    return usage_error(err_fd, "dvlog: --merge %.*s exists: a merge writes a new file\n", o.merge, length);
  for (size_t i = 0; i < o.paths.size(); ++i) {
    const path_place a = place_of(o.paths[i]);
    for (size_t j = 0; j < i && a.exists; ++j) {
      if (!same_place(a, place_of(o.paths[j]))) continue;
      char both[208];
      std::snprintf(both, sizeof both, "%.98s and %.98s", o.paths[j], o.paths[i]);
      return usage_error(err_fd, "dvlog: %.*s are one file, given twice\n", both, std::strlen(both));
    }
  }
  return parse_result::run;
}

parse_result parse_options(int argc, char** argv, options& out, int err_fd) {
  bool options_ended = false;
  bool split_rules_given = false;
  bool wrap_given = false;
  parse_result wanted = parse_result::run;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (options_ended || !is_option(arg)) {
      out.paths.push_back(arg);
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
        return usage_error(err_fd,
                           known->id == option_id::split_at ? "dvlog: option '%.*s' needs rules\n"
                           : known->id == option_id::wrap   ? "dvlog: option '%.*s' needs a format\n"
                           : known->id == option_id::split || known->id == option_id::stills
                               ? "dvlog: option '%.*s' needs a directory\n"
                                                            : "dvlog: option '%.*s' needs a file name\n",
                           arg, name_length);
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
      case option_id::table:
        out.table = true;
        break;
      case option_id::report:
        out.report = value;
        break;
      case option_id::frames:
        out.frames = value;
        break;
      case option_id::split:
        out.split = value;
        break;
      case option_id::split_at:
        if (!parse_split_rules(value, out.split_at, err_fd)) return parse_result::usage_error;
        split_rules_given = true;
        break;
      case option_id::wrap: {
        const wrap_format_name* format = nullptr;
        for (const wrap_format_name& w : WRAP_FORMATS)
          if (std::strcmp(w.name, value) == 0) format = &w;
        if (!format)
          return usage_error(err_fd, "dvlog: unknown wrap format '%.*s' (dv, mkv, mov)\n", value, std::strlen(value));
        out.wrap = format->format;
        wrap_given = true;
        break;
      }
      case option_id::merge:
        out.merge = value;
        break;
      case option_id::stills:
        out.stills = value;
        break;
      case option_id::no_pictures:
        out.pictures = false;
        break;
      case option_id::progress:
        out.progress = progress_mode::on;
        break;
      case option_id::no_progress:
        out.progress = progress_mode::off;
        break;
    }
  }
  if (wanted != parse_result::run) return wanted;
  if (split_rules_given && !out.split) return usage_error(err_fd, "dvlog: --split-at goes with --split\n");
  if (wrap_given && !out.split) return usage_error(err_fd, "dvlog: --wrap goes with --split\n");
  return check_combination(out, err_fd);
}

}  // namespace dvlog
