// Runs the analyser in process on test bytes and captures what it prints.
#pragma once

#include <functional>
#include <string>

#include "analysis/analyser.h"
#include "support/dif_builder.h"
#include "texts/time_texts.h"

namespace dvtest {

struct captured {
  std::string out;
  std::string err;
  int status;
};

// Where runs in process take the current year from.
extern dvlog::year_source year_for_runs;

// The whole tool, as `dvlog [ARGS] FILE` on a file holding data.
captured run_in_process(const bytes& data, const std::vector<std::string>& args = {});

// Feeds the stream's sequences to an analyser one by one (all of them, the
// last one too), with its events discarded, and calls after(i, analyser)
// after sequence i.
void drive(const bytes& stream, const std::function<void(size_t, const dvlog::analyser&)>& after);

}  // namespace dvtest
