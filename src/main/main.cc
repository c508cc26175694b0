// dvlog: logs the settings, recording starts and audio sync of a DV stream.
//
// Usage: dvlog [FILE]   (no FILE, an empty one or "-" reads standard input;
// further arguments are ignored)

#include "main/run.h"
#include "report/output.h"

int main(int argc, char** argv) {
  dvlog::output_reset();
  return dvlog::run_dvlog(argc > 1 ? argv[1] : nullptr);
}
