#include "main/outputs.h"

#include <cerrno>
#include <cstring>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "main/run.h"
#include "split/part_names.h"

namespace dvlog {

output_list make_outputs(const run_setup& setup) {
  output_list list;
  if (setup.opts.merge) list.push_back(make_merge_output());
  list.push_back(make_log_output(setup));
  // Those whose file may refuse the input before those that write files as
  // the stream is read (a part's file is made at once).
  if (setup.opts.frames) list.push_back(make_frames_output());
  if (setup.opts.report) list.push_back(make_report_output(setup.opts.pictures));
  if (setup.opts.split) list.push_back(make_split_output());
  if (setup.opts.stills) list.push_back(make_stills_output());
  return list;
}

input_context::input_context(run_context& r, const input_source& i, const char* p, int n)
    : run(r), in(i), path(p), number(n), never_written{}, never_written_count(0), base_name{} {
  for (const int fd : {in.fd, 0})
    if (id_of_fd(fd, never_written[never_written_count])) ++never_written_count;
  input_base_name(in.is_stdin ? nullptr : in.name, base_name, sizeof base_name);
}

bool make_input_file(input_context& c, const char* path, safe_file_options o, safe_file& file) {
  o.follow_fd = c.run.setup.out_fd;
  o.inputs = c.never_written;
  o.input_count = c.never_written_count;
  o.wait = &c.run.setup.wait;
  return file.open(path, o, c.run.setup.err_fd);
}

bool make_output_dir(const char* dir, const char* what, int err_fd) {
  int error = mkdir(dir, 0777) == 0 ? 0 : errno;
  struct stat st;
  if (error == EEXIST) error = stat(dir, &st) == 0 && S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (error == 0 && access(dir, W_OK | X_OK) != 0) error = errno;
  if (error == 0) return true;
  const char* const parts[] = {"Could not write ", what, " to ", dir, ": ", std::strerror(error), "\n"};
  write_message(err_fd, parts, std::size(parts));
  return false;
}

}  // namespace dvlog
