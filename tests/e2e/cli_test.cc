// The dvlog executable as a command: where it reads from, what it does with
// failures, and how its two output streams meet.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "support/dif_builder.h"
#include "support/run_tool.h"

namespace dvtest {
namespace {

constexpr size_t AUDIO_BLOCK_4 = (6 + 16 * 4) * 80;
constexpr size_t JUNK = 7;

// Four NTSC frames of ten sequences behind 7 bytes of junk, so that reads of
// the input never line up with the sequences. Every sequence carries its
// frame's timecode, an NTSC video source pack and camera packs (f/1.6, 1/60 s);
// the gain steps from 0 dB to 3 dB in the fourth frame. In sequences 5, 25 and
// 35 a video block ID stands where audio block 4 belongs, and sequence 35 has
// no timecode.
bytes sample_stream() {
  bytes s = make_stream(40);
  for (size_t i = 0; i < 40; ++i) {
    uint8_t* seq = &s[i * SEQ];
    const int frame = static_cast<int>(i / 10);
    if (i != 34) put_subcode_pack(seq, 0, 0, timecode_pack(0, 0, 0, frame));
    put_vaux_pack(seq, 0, 0, video_source_pack(false));
    put_vaux_pack(seq, 0, 1, camera1_pack(0xC6, frame < 3 ? 1 : 2));
    put_vaux_pack(seq, 0, 2, shutter_pack(260));
  }
  for (size_t i : {4, 24, 34}) s[i * SEQ + AUDIO_BLOCK_4] = 0x9A;
  s.insert(s.begin(), {0x00, 0x3F, 0x07, 0x01, 0x56, 0x07, 0x02});
  return s;
}

// Without date, time or audio packs the first status line waits for the third
// frame. No recording date or time gives an empty text between " / " and " - ".
const std::string LINE_FRAME_3 =
    "00h 00m 00s 02f /  - AP=1.6, GAIN= 0 db, SHUTTER=1/60  , 4:3, NTSC, DV25, Interlaced\n";
const std::string LINE_FRAME_4 =
    "00h 00m 00s 03f /  - AP=1.6, GAIN= 3 db, SHUTTER=1/60  , 4:3, NTSC, DV25, Interlaced\n";
// Sequence 35 lacks a timecode: from there frames are counted from sequences,
// which still makes four.
const std::string NOTICE = "Timecode is broken, switch to diff blocks for audio/frame count\n";
const std::string WARNING = "Warning: got 9a instead of audio block\n";
// The sequence after the junk is found by the search and the others follow it
// back to back; the last one has no byte after it and is never examined.
const std::string SUMMARY = "============\nTotal frames: 4\nDIF Blocks analysed: 39\n";
const std::string EMPTY_SUMMARY = "============\nTotal frames: 0\nDIF Blocks analysed: 0\n";

class Cli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new temp_dir;
    stream = new bytes(sample_stream());
    stream_path = new std::string(dir->write("sample.dv", *stream));
  }
  static void TearDownTestSuite() {
    delete stream_path;
    delete stream;
    delete dir;
  }
  static temp_dir* dir;
  static bytes* stream;
  static std::string* stream_path;
};
temp_dir* Cli::dir;
bytes* Cli::stream;
std::string* Cli::stream_path;

TEST_F(Cli, ReportsFileOnSeparateStreams) {
  const tool_run r = run_tool({*stream_path});
  EXPECT_EQ(r.out, LINE_FRAME_3 + LINE_FRAME_4 + NOTICE + SUMMARY);
  EXPECT_EQ(r.err, WARNING + WARNING + WARNING);
  EXPECT_EQ(r.status, 0);
}

// A pipe hands over the bytes in pieces much smaller than the reads dvlog asks
// for; sequences straddle reads and must still be found at the same offsets.
TEST_F(Cli, PipeInPiecesMatchesFile) {
  struct row {
    size_t piece;
    size_t length;  // bytes of the sample stream used
  };
  const row rows[] = {
      {1000, stream->size()},
      {4097, stream->size()},
      {12000, stream->size()},
      {1, JUNK + 2 * SEQ + 4000},  // byte by byte: short, or it takes too long
  };
  for (const row& r : rows) {
    SCOPED_TRACE("pieces of " + std::to_string(r.piece));
    const bytes part(stream->begin(), stream->begin() + static_cast<long>(r.length));
    const tool_run from_file = run_tool({dir->write("part.dv", part)});
    tool_io io;
    io.input = &part;
    io.piece = r.piece;
    const tool_run from_pipe = run_tool({"-"}, io);
    EXPECT_NE(from_file.out.find("Total frames: "), std::string::npos);
    EXPECT_EQ(from_pipe.out, from_file.out);
    EXPECT_EQ(from_pipe.err, from_file.err);
    EXPECT_EQ(from_pipe.status, from_file.status);
  }
}

TEST_F(Cli, ArgumentsThatReadStandardInput) {
  struct row {
    std::vector<std::string> args;
    const bytes* input;
  };
  const row rows[] = {
      {{}, stream},
      {{"-"}, stream},
      {{""}, stream},
  };
  for (const row& r : rows) {
    std::string trace;
    for (const std::string& a : r.args) trace += "[" + a + "] ";
    SCOPED_TRACE(trace);
    tool_io io;
    io.input = r.input;
    io.piece = 5000;
    const tool_run run = run_tool(r.args, io);
    EXPECT_EQ(run.out, LINE_FRAME_3 + LINE_FRAME_4 + NOTICE + SUMMARY);
    EXPECT_EQ(run.err, WARNING + WARNING + WARNING);
    EXPECT_EQ(run.status, 0);
  }
}

// Several inputs: each log under its name, set off by an empty line, as
// head(1) does; one that cannot be opened has its message and no header, and
// makes the status 1 once all were read. In JSON every event names its input.
TEST_F(Cli, SeveralInputs) {
  const std::string empty = dir->write("empty.dv", {}), missing = dir->file("missing.dv");
  const tool_run r = run_tool({*stream_path, missing, empty});
  EXPECT_EQ(r.out, "==> " + *stream_path + " <==\n" + LINE_FRAME_3 + LINE_FRAME_4 + NOTICE + SUMMARY + "\n==> " + empty +
                       " <==\n" + EMPTY_SUMMARY);
  EXPECT_EQ(r.err, WARNING + WARNING + WARNING + "Could not open file " + missing + ": No such file or directory\n");
  EXPECT_EQ(r.status, 1);

  int status = -1;
  const std::string inputs = shell_output(shell_quote(DVLOG_BINARY) + " --json " + shell_quote(*stream_path) + " " +
                                              shell_quote(empty) + " - </dev/null | jq -r .input | uniq -c | sed 's/^ *//'",
                                          &status);
  EXPECT_EQ(inputs, "7 " + *stream_path + "\n1 " + empty + "\n1 -\n");
  EXPECT_EQ(status, 0);
}

TEST_F(Cli, EmptyInputGivesTheBareSummary) {
  const bytes nothing;
  tool_io io;
  io.input = &nothing;
  for (const tool_run& r : {run_tool({dir->write("empty.dv", {})}), run_tool({}, io)}) {
    EXPECT_EQ(r.out, EMPTY_SUMMARY);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST_F(Cli, MissingFile) {
  const std::string path = dir->file("no such.dv");
  const tool_run r = run_tool({path});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Could not open file " + path + ": No such file or directory\n");
  EXPECT_EQ(r.status, 1);
}

// A directory opens but cannot be read: the run ends as if the input were
// empty, and the failure is told and shows in the status.
TEST_F(Cli, DirectoryAsInput) {
  const tool_run r = run_tool({dir->path()});
  EXPECT_EQ(r.out, EMPTY_SUMMARY);
  EXPECT_EQ(r.err, "Could not read " + dir->path() + ": Is a directory\n");
  EXPECT_EQ(r.status, 1);
}

// The failure of standard output is told as soon as it happens, in the
// first frame to print a line; reading goes on to the end, and warnings still
// reach standard error.
TEST_F(Cli, FullOutputDevice) {
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0) << "/dev/full is missing";
  tool_io io;
  io.out_fd = full;
  const tool_run r = run_tool({*stream_path}, io);
  close(full);
  EXPECT_EQ(r.err, WARNING + "Could not write output: No space left on device\n" + WARNING + WARNING);
  EXPECT_EQ(r.status, 1);
}

// With both streams on one file, each warning lands after the report lines
// printed before it: the first before any line, the second between the lines
// of the third and the fourth frame, the third after the notice that its own
// sequence printed before it.
TEST_F(Cli, WarningsInterleaveInStreamOrder) {
  const std::string log = dir->file("log.txt");
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  tool_io io;
  io.out_fd = fd;
  io.err_fd = fd;
  const tool_run r = run_tool({*stream_path}, io);
  close(fd);
  const bytes written = read_file(log);
  EXPECT_EQ(std::string(written.begin(), written.end()),
            WARNING + LINE_FRAME_3 + WARNING + LINE_FRAME_4 + NOTICE + WARNING + SUMMARY);
  EXPECT_EQ(r.status, 0);
}

// Options come before or after the path; "--" ends them; a single dash alone
// or before other words is no option but a path, as before options existed.
TEST_F(Cli, CommandLine) {
  const std::string TRY = "Try 'dvlog --help'.\n";
  struct row {
    std::vector<std::string> args;
    std::string out_starts;  // "": nothing on standard output
    std::string err;
    int status;
  };
  const row rows[] = {
      {{"--help"}, "Usage: dvlog [OPTION]... [FILE]...\n", "", 0},
      {{"-h", "no such file"}, "Usage: dvlog [OPTION]... [FILE]...\n", "", 0},  // nothing is read
      {{"--version"}, "dvlog " DVLOG_VERSION "\n", "", 0},
      {{*stream_path, "-V"}, "dvlog " DVLOG_VERSION "\n", "", 0},
      {{"--x"}, "", "dvlog: unknown option '--x'\n" + TRY, 2},
      {{*stream_path, "--frame=3"}, "", "dvlog: unknown option '--frame'\n" + TRY, 2},
      {{"--frames", "-", *stream_path}, "", "dvlog: --frames needs a file: standard output holds the log\n" + TRY, 2},
      {{"--frames", "f.csv", "a", "b"}, "", "dvlog: --frames is the frames of one input, not of 2\n" + TRY, 2},
      {{"--json=yes", *stream_path}, "", "dvlog: option '--json' takes no value\n" + TRY, 2},
      {{"--help", "--bogus"}, "", "dvlog: unknown option '--bogus'\n" + TRY, 2},
      {{"--no-progress", *stream_path}, LINE_FRAME_3, WARNING + WARNING + WARNING, 0},
      {{*stream_path, "--json"}, "{\"event\":\"warning\"", "", 0},
      {{"-x.dv"}, "", "Could not open file -x.dv: No such file or directory\n", 1},
      {{"--table", "--json"}, "", "dvlog: --table and --json do not go together\n" + TRY, 2},
      {{"--report", "r.html", "a", "b"}, "", "dvlog: --report is the report of one input, not of 2\n" + TRY, 2},
      {{"--report", "-", *stream_path}, "", "dvlog: --report needs a file: standard output holds the log\n" + TRY, 2},
      {{"--merge", "out.dv"}, "", "dvlog: --merge needs transfers as files, not standard input\n" + TRY, 2},
      {{"--merge", "out.dv", "a", "-"}, "", "dvlog: --merge needs transfers as files, not standard input\n" + TRY, 2},
      {{"--merge", "out.dv", "a", "b", "--stills", "d"}, "", "dvlog: --merge goes with none of --table, --split and --stills\n" + TRY, 2},
      {{*stream_path, "--stills"}, "", "dvlog: option '--stills' needs a directory\n" + TRY, 2},
      {{"--version"}, "dvlog " DVLOG_VERSION "\nPictures by libavcodec ", "", 0},
      {{"--split", "d", "--split-at", "start,cuts"}, "", "dvlog: unknown split rule 'cuts' (start, format, time-jump, timecode-jump)\n" + TRY, 2},
      {{"--split-at", "start"}, "", "dvlog: --split-at goes with --split\n" + TRY, 2},
      {{"--", "--help"}, "", "Could not open file --help: No such file or directory\n", 1},
  };
  for (const row& r : rows) {
    std::string trace;
    for (const std::string& a : r.args) trace += "[" + a + "] ";
    SCOPED_TRACE(trace);
    const tool_run run = run_tool(r.args);
    EXPECT_EQ(run.out.substr(0, r.out_starts.size()), r.out_starts);
    if (r.out_starts.empty()) {
      EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(run.err, r.err);
    EXPECT_EQ(run.status, r.status);
  }
  // After "--", a name that looks like an option is opened as a file.
  const std::string copy = dir->file("--odd-name.dv");
  ASSERT_EQ(std::system(("cp " + shell_quote(*stream_path) + " " + shell_quote(copy)).c_str()), 0);
  int status = -1;
  EXPECT_EQ(shell_output("cd " + shell_quote(dir->path()) + " && " + shell_quote(DVLOG_BINARY) +
                             " -- --odd-name.dv 2>/dev/null", &status),
            LINE_FRAME_3 + LINE_FRAME_4 + NOTICE + SUMMARY);
  EXPECT_EQ(status, 0);
  // The man page is of the version the program says it is.
  const bytes page = read_file(source_file("doc/dvlog.1"));
  EXPECT_NE(std::string(page.begin(), page.end()).find("\"dvlog " DVLOG_VERSION "\""), std::string::npos);
}

// The report is made before anything is read: one that cannot be made costs
// no reading. An existing one is replaced whole, and nothing else is left
// beside it; a failing log does not keep it from being written.
TEST_F(Cli, ReportFile) {
  const std::string nowhere = dir->file("no dir/tape.html");
  const tool_run failed = run_tool({"--report", nowhere, *stream_path});
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err, "Could not write report " + nowhere + ": No such file or directory\n");
  EXPECT_EQ(failed.status, 1);

  temp_dir pages;
  const std::string old_page = "<!DOCTYPE html>\n<p>an older report";
  const std::string page = pages.write("tape.html", bytes(old_page.begin(), old_page.end()));
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  tool_io io;
  io.out_fd = full;
  const tool_run r = run_tool({"--report=" + page, *stream_path}, io);
  close(full);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.find("Could not write report"), std::string::npos) << r.err;
  const bytes written = read_file(page);
  const std::string text(written.begin(), written.end());
  EXPECT_EQ(text.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 8), "</html>\n");
  EXPECT_EQ(shell_output("ls " + shell_quote(pages.path())), "tape.html\n");

  // Sent to standard output, the report follows the log there.
  const std::string both = pages.file("both.txt");
  shell_output(shell_quote(DVLOG_BINARY) + " --report /dev/stdout " + shell_quote(*stream_path) + " >" +
               shell_quote(both) + " 2>/dev/null");
  const bytes log_and_page = read_file(both);
  const std::string text2(log_and_page.begin(), log_and_page.end());
  EXPECT_EQ(text2.find(LINE_FRAME_3), 0u);
  EXPECT_NE(text2.find(SUMMARY + "<!DOCTYPE html>"), std::string::npos);
}

}  // namespace
}  // namespace dvtest
