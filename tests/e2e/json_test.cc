// The JSON Lines log: valid events that hold everything the text log holds,
// values that a JSON tool reads as the log shows them, and names escaped.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/dif_builder.h"
#include "support/run_tool.h"

namespace dvtest {
namespace {

const char* const SAMPLE = "samples/sample.dv";

// The included sample and every fuzz seed: ffmpeg streams and built ones with
// camera packs, broken timecodes, cut sequences and blocks out of place.
TEST(Json, RebuildsTheTextLogOfSeedsAndSample) {
  std::vector<std::string> inputs{source_file(SAMPLE)};
  for (const auto& entry : std::filesystem::directory_iterator(source_file("fuzz/seeds")))
    inputs.push_back(entry.path());
  // The sample with recording dates whose year digits are not decimal: the
  // JSON's year is null, and the text log's year comes from the raw date code.
  temp_dir dir;
  bytes odd_year = read_file(source_file(SAMPLE));
  for (size_t s = 0; s + SEQ <= odd_year.size(); s += SEQ)
    for (size_t p = s + 3 * 80 + 3; p < s + 6 * 80; p += p % 80 == 73 ? 10 : 5)
      if (odd_year[p] == 0x62) odd_year[p + 4] = 0xA7;  // VAUX recording date: YY
  inputs.push_back(dir.write("odd-year.dv", odd_year));
  ASSERT_GE(inputs.size(), 9u);
  for (const std::string& path : inputs) {
    const tool_run text = run_tool({path});
    const json_check json = check_json_log(path);
    EXPECT_NE(text.out.find("Total frames"), std::string::npos) << path;
    EXPECT_EQ(json.rebuilt_log, text.out) << path;
    EXPECT_EQ(json.schema_status, 0) << path << "\n" << json.schema_report;
    // And with the damage report in both logs.
    EXPECT_EQ(shell_output(shell_quote(DVLOG_BINARY) + " --json --damage " + shell_quote(path) + " 2>/dev/null | " +
                           shell_quote(source_file("tests/tools/json-to-log"))),
              run_tool({"--damage", path}).out)
        << path;
  }
}

// jq reads the sample's three recordings, its status lines and its summary as
// the text log shows them.
TEST(Json, ValuesAsJqReadsThem) {
  const std::string dvlog = shell_quote(DVLOG_BINARY) + " --json " + shell_quote(source_file(SAMPLE));
  const struct {
    const char* filter;
    const char* expected;
  } rows[] = {
      {"select(.event==\"recording_start\") | \"\\(.frame) \\(.timecode) \\(.recorded.date) \\(.recorded.time)\"",
       "1 00:00:00:00 2024-06-16 09:30:00\n6 00:00:00:05 2024-06-16 11:02:40\n11 00:00:00:10 2024-06-23 16:45:12\n"},
      {"select(.event==\"status\") | \"\\(.sequence) \\(.offset) \\(.aspect) \\(.system) \\(.audio.rate_hz) "
       "\\(.audio.locked) \\(.audio.offset) \\(.aperture)\"",
       "21 240000 4:3 NTSC 48000 false -1 null\n51 600000 16:9 NTSC 48000 false 0 null\n"
       "101 1200000 4:3 NTSC 48000 false 0 null\n"},
      {"select(.event==\"summary\") | [.frames, .sequences, .audio.locked, .audio.max_offset, .bytes] | @csv",
       "15,149,false,1,1800000\n"},
      // Every event but the summary says where it happened.
      {"select(.event!=\"summary\") | select(.frame==null or .sequence==null or .offset==null) | .event", ""},
  };
  for (const auto& r : rows) {
    int status = -1;
    EXPECT_EQ(shell_output(dvlog + " | jq -r " + shell_quote(r.filter), &status), r.expected) << r.filter;
    EXPECT_EQ(status, 0) << r.filter;
  }
}

// In the JSON log the audio-block warning is an event on standard output;
// failures to open or read stay messages on standard error.
TEST(Json, WarningsAreEventsFailuresStayMessages) {
  temp_dir dir;
  bytes stream = make_stream(12);
  stream[3 * SEQ + (6 + 16 * 4) * 80] = 0x9A;  // audio block 4 of sequence 4 is no audio block
  const std::string path = dir.write("warned.dv", stream);
  const tool_run warned = run_tool({"--json", path});
  EXPECT_EQ(warned.err, "");
  EXPECT_NE(warned.out.find("{\"event\":\"warning\",\"frame\":0,\"sequence\":4,\"offset\":36000,"
                            "\"message\":\"got 9a instead of audio block\",\"audio_block\":4,\"id0\":154}\n"),
            std::string::npos)
      << warned.out;

  const tool_run missing = run_tool({"--json", dir.file("none.dv")});
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "Could not open file " + dir.file("none.dv") + ": No such file or directory\n");
  EXPECT_EQ(missing.status, 1);
  const tool_run directory = run_tool({"--json", dir.path()});
  EXPECT_EQ(directory.err, "Could not read " + dir.path() + ": Is a directory\n");
  EXPECT_EQ(directory.status, 1);
}

// A path is written as JSON escapes it, and each byte that is not UTF-8
// becomes U+FFFD. Standard input has no name.
TEST(Json, NamesInTheSummary) {
  temp_dir dir;
  const bytes empty;
  const struct {
    std::string name;
    std::string shown;
  } rows[] = {
      {"tape \"1\"\\a.dv", "tape \\\"1\\\"\\\\a.dv"},
      {"caf\xc3\xa9\t.dv", "caf\xc3\xa9\\t.dv"},
      {"bad\xff\xc3(.dv", "bad\xef\xbf\xbd\xef\xbf\xbd(.dv"},
      {"cut\xe2\x82.dv", "cut\xef\xbf\xbd\xef\xbf\xbd.dv"},
  };
  for (const auto& r : rows) {
    const std::string path = dir.write(r.name, empty);
    const tool_run run = run_tool({"--json", path});
    EXPECT_EQ(run.out, "{\"event\":\"summary\",\"frames\":0,\"sequences\":0,\"audio\":null,\"damage\":null,\"input\":\"" +
                           dir.path() + "/" + r.shown + "\",\"bytes\":0,\"stopped_by\":null}\n");
    int status = -1;
    shell_output("printf '%s' " + shell_quote(run.out) + " | jq -e .input >/dev/null", &status);
    EXPECT_EQ(status, 0) << "jq could not read " << run.out;
  }
  tool_io io;
  io.input = &empty;
  EXPECT_EQ(run_tool({"--json"}, io).out,
            "{\"event\":\"summary\",\"frames\":0,\"sequences\":0,\"audio\":null,\"damage\":null,\"input\":null,\"bytes\":0,"
            "\"stopped_by\":null}\n");
}

}  // namespace
}  // namespace dvtest
