// Every file dvlog writes (the HTML report, the parts of a split, a merged
// stream) is written whole or not at all, and never onto an input: it is
// made beside its target under no name (or a short hidden one), synced, and
// only then given the target's name. A killed run leaves nothing behind, a
// failed one leaves the old file, and the temporary name always fits, however
// long the target's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <vector>

#include "output/output_stream.h"

namespace dvlog {

// A file as the kernel knows it, whatever its names.
struct file_id {
  dev_t device;
  ino_t inode;
};

// The identity of the file open on fd; false when it has none (fstat fails).
bool id_of_fd(int fd, file_id& out);

struct safe_file_options {
  // In messages: "Could not write KIND PATH: ERROR".
  const char* kind = "report";
  // An existing file of the target's name is replaced; otherwise the file is
  // not written ("File exists").
  bool replace = true;
  // Only an empty file or an HTML page is replaced: a report written over a
  // capture (even one that another program, tee, is still writing), over a
  // container that holds DV far from its start, or over anything else the
  // user did not mean, would destroy it.
  bool replace_only_html = false;
  // Likewise, only an empty file or one that begins with this text (a table
  // of the same kind, written before) is replaced.
  const char* replace_only_prefix = nullptr;
  // Under a hidden name in the target's directory while it is written (a part
  // of a live split may be looked at), rather than under none.
  bool hidden_while_written = false;
  // Open for reading too: what is written can be copied out again.
  bool readable = false;
  // When the target is the file open on this descriptor (the log's standard
  // output), it is written there, after what is written there already.
  int follow_fd = -1;
  // The files that must never be written: the inputs, standard input's file.
  // Copied: the array need not outlive the call.
  const file_id* inputs = nullptr;
  size_t input_count = 0;
  // Lets a stop signal end a wait for a reader of a FIFO.
  const wait_control* wait = nullptr;
  // A stop signal (through `wait`) that came before the file takes its name,
  // while it was synced included, leaves no file: commit() then removes it
  // and returns false, telling nothing.
  bool unnamed_when_stopped = false;
};

class safe_file {
 public:
  safe_file() = default;
  // Checks the target and makes the file: see open().
  safe_file(const char* path, const safe_file_options& options, int err_fd) { open(path, options, err_fd); }
  ~safe_file();  // removes what it made unless committed

  // Checks the target and makes the file. On failure tells "Could not write
  // KIND PATH: ERROR" on err_fd and returns false; ok() is then false too.
  // `path` must stay valid while the file is open.
  bool open(const char* path, const safe_file_options& options, int err_fd);
  // Makes the file in a directory without a target yet; `shown` stands for it
  // in messages until retarget() names it.
  bool open_unnamed(const char* directory, const char* shown, const safe_file_options& options, int err_fd);
  // Gives the file another target in the same directory, before commit: the
  // name of a part is known only once its first frame is. False, told, when
  // that name may not be written.
  bool retarget(const char* path);
  safe_file(const safe_file&) = delete;
  safe_file& operator=(const safe_file&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const char* path() const { return path_; }
  // Written straight to the target (a terminal, a pipe, the log's file):
  // nothing to rename, and nothing to take back.
  bool direct() const { return direct_; }

  // Syncs the file and gives it the target's name, checking the target once
  // more. Tells and returns false on failure; the file is then removed.
  bool commit();
  // Removes the file, unwritten.
  void abandon();

 private:
  void start(const char* shown, const safe_file_options& options, int err_fd);
  bool fail(int error, const char* reason = nullptr);
  bool make_file();
  bool target_refused(const char* name_in_dir, int* error, const char** reason) const;
  bool open_direct(const char* resolved);

  const char* path_ = "";
  safe_file_options options_;
  std::vector<file_id> inputs_;
  int err_fd_ = 2;
  int fd_ = -1;
  int dir_fd_ = -1;             // the target's directory
  bool direct_ = false;
  bool unnamed_ = false;        // no name until commit
  char name_[256] = {};         // the target's name in its directory
  char temp_[32] = {};          // the hidden name while written
};

// True when the bytes hold the start of a DIF sequence somewhere.
bool holds_dv(const uint8_t* data, size_t size);
// True when the bytes begin an HTML page.
bool is_html(const uint8_t* data, size_t size);

}  // namespace dvlog
