// Runs the analyser in process on test bytes and captures what it prints.
#pragma once

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

}  // namespace dvtest
