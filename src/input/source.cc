#include "input/source.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "report/output.h"

namespace dvlog {

bool open_input(const char* path, input_source& in) {
  if (path == nullptr || path[0] == '\0' || std::strcmp(path, "-") == 0) {
    in = {0, "standard input", true};
    return true;
  }
  int fd = open(path, O_RDONLY);
  if (fd < 0) {
    err_printf("Could not open file %s: %s\n", path, std::strerror(errno));
    return false;
  }
  in = {fd, path, false};
  return true;
}

void close_input(const input_source& in) {
  if (!in.is_stdin) close(in.fd);
}

void report_read_error(const input_source& in, int error_number) {
  err_printf("Could not read %s: %s\n", in.name, std::strerror(error_number));
}

}  // namespace dvlog
