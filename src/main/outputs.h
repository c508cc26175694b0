// The outputs of a run, as a list: the log (text, JSON or a row of the table
// of tapes), the parts of a split, the stills, the table of frames, the
// report, and the merged stream a merge reads back. Each owns
//
// - its preflight: what it checks and makes before anything is read (a
//   directory for the whole run; for each input, its file, through the safe
//   writer, so that one that cannot be written wastes no reading);
// - its sink: what it hears of the analyses while the stream is read, and
//   what it needs of the reading (the frame model, the pictures, the bytes);
// - its commit: what it writes and names once the input has been read;
//
// so that running an input is one loop over the list. A new output is one
// more class behind run_output and one line in make_outputs().
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "events/event_fanout.h"
#include "events/still_facts.h"
#include "input/source.h"
#include "output/output_stream.h"
#include "output/safe_file.h"
#include "picture/still_picker.h"
#include "tables/tape_table.h"

namespace dvlog {

struct run_setup;

// What the whole run shares.
struct run_context {
  const run_setup& setup;
  output_stream& out;                  // standard output: the log
  std::vector<const char*> inputs;     // read in turn; "-" is standard input
  const merge_event* merged = nullptr;  // the input is the stream a merge made of these
};

// What the outputs of one input share.
struct input_context {
  run_context& run;
  const input_source& in;
  const char* path;                 // as given
  int number;                       // from 1, of run.inputs.size()
  file_id never_written[2];         // the input, and standard input's file
  size_t never_written_count;
  char base_name[256];              // the input's name without directory and extension; "stdin"
  part_fanout parts;                // told of each part a split writes
  still_listener* still_log = nullptr;     // the log's word of each still, when it has one
  const still_picker* pictures = nullptr;  // once read, the pictures chosen, when wanted

  input_context(run_context& r, const input_source& i, const char* p, int n);
  bool several() const { return run.inputs.size() > 1; }
};

// How the reading of an input ended.
struct input_end {
  uint64_t bytes;    // read
  int stop_signal;   // that ended the reading, 0 if none
  int read_error;    // the errno that ended it, 0 if none
};

// What an output asks of the reading besides its events.
enum output_need : unsigned {
  NEEDS_FRAMES = 1,    // the frame model: damage, jumps, recordings, capture checks
  NEEDS_PICTURES = 2,  // pictures of chosen frames
  NEEDS_BYTES = 4,     // the input's bytes as read (bytes())
};

// An output's preflight for an input.
enum class preflight {
  ok,
  read_without,  // read the input without this output; the run ends with status 1
  skip_input,    // leave the input unread (status 1, or 128 + a stop signal that came)
};

class run_output {
 public:
  virtual ~run_output() = default;

  // Before the first input is opened. 0, or the exit status that ends the
  // run (and was told).
  virtual int start_run(run_context&) { return 0; }
  // The input is open and nothing of it read: checks and makes its files.
  virtual preflight begin(input_context& c) = 0;

  // While the input is read: told the analyses' events (nullptr: none).
  virtual event_sink* sink() { return nullptr; }
  // Told the damage events and totals too.
  virtual bool takes_damage() const { return true; }
  // output_need bits.
  virtual unsigned needs() const { return 0; }
  // Tells others of files it ends (parts): hears the summary before them.
  virtual bool tells_files() const { return false; }
  // The input's bytes as read, before they are analysed.
  virtual void bytes(const uint8_t*, size_t) {}

  // The reading ended; the summary is told next.
  virtual void input_ended(const input_end&) {}
  // After the summary: lines after it, files written and named. 0, or 1
  // when something could not be written (and that was told).
  virtual int commit(input_context&, const input_end&) { return 0; }
  // Last, whatever became of the input: how its reading ended.
  virtual void input_done(const char* /*path*/, tape_status, uint64_t /*bytes*/) {}
  // After the last input, with the run's status: its exit status.
  virtual int end_run(run_context&, int status) { return status; }
};

using output_list = std::vector<std::unique_ptr<run_output>>;

// The outputs the options ask for, in the order they are checked, told and
// committed: the merge, the log, the table of frames, the report, the parts,
// the stills.
output_list make_outputs(const run_setup& setup);

std::unique_ptr<run_output> make_merge_output();
std::unique_ptr<run_output> make_log_output(const run_setup& setup);
std::unique_ptr<run_output> make_split_output();
std::unique_ptr<run_output> make_stills_output();
std::unique_ptr<run_output> make_frames_output();
std::unique_ptr<run_output> make_report_output(bool pictures);

// For the outputs' preflights. A file of the input's (the report, the table
// of frames), checked and made before anything is read; never the input,
// nor standard input's file. False when it cannot be (told).
bool make_input_file(input_context& c, const char* path, safe_file_options o, safe_file& file);
// The directory of the parts or stills, made before anything is read (one
// level, as mkdir(1) makes it). One that is there must be a directory, and
// one that takes new files; else "Could not write WHAT to DIR: ERROR".
bool make_output_dir(const char* dir, const char* what, int err_fd);

}  // namespace dvlog
