/* The least any reader of a file can take: reads of the size dvlog makes
 * (600,000 bytes, fifty DIF sequences) into one buffer, with nothing done
 * to the bytes. bench/run times it beside dvlog and ffprobe to show what the
 * reading alone costs on the machine. */
#include <fcntl.h>
#include <unistd.h>

#define READ_SIZE 600000

static char buffer[READ_SIZE];

int main(int argc, char** argv) {
  int fd = argc > 1 ? open(argv[1], O_RDONLY) : 0;
  if (fd < 0) return 1;
  while (read(fd, buffer, READ_SIZE) > 0) {
  }
  return 0;
}
