// Runs the analyser in process on test bytes and captures what it prints.
#pragma once

#include <functional>
#include <string>

#include "support/dif_builder.h"

namespace dvtest {

struct captured {
  std::string out;
  std::string err;
  int status;
};

// The whole tool, as `dvlog FILE` on a file holding data.
captured run_in_process(const bytes& data);

// Feeds the stream's sequences to the analyser one by one, as the scan does
// (all of them, the last one too), with output discarded, and calls after(i)
// after sequence i.
void drive(const bytes& stream, const std::function<void(size_t)>& after);

}  // namespace dvtest
