/* The least any reader of a file in 12000-byte reads can take: the same reads
 * as dvlog's scan, into a window of two halves, with nothing done to the bytes.
 * bench/run times it beside dvlog to show what the analysis itself costs. */
#include <fcntl.h>
#include <unistd.h>

#define SEQUENCE 12000

static char window[2 * SEQUENCE];

int main(int argc, char** argv) {
  int fd = argc > 1 ? open(argv[1], O_RDONLY) : 0;
  if (fd < 0) return 1;
  for (unsigned half = 0; read(fd, window + (half & 1) * SEQUENCE, SEQUENCE) > 0; ++half) {
  }
  return 0;
}
