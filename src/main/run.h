// The run of the tool: scan the input, then print the summary.
#pragma once

#include "input/source.h"

namespace dvlog {

// Runs dvlog on the input named by path (nullptr, "" or "-": standard input)
// and returns the exit status.
int run_dvlog(const char* path);

// Runs dvlog on an input already open; closes it. Returns the exit status.
int run_on_input(const input_source& in);

}  // namespace dvlog
