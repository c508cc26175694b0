// Text for an HTML page.
#pragma once

#include "output/output_stream.h"

namespace dvlog {

// Writes text for HTML: markup characters escaped, controls shown by their
// codes, each byte that is no UTF-8 as U+FFFD.
void html_text(output_stream& out, const char* text);

}  // namespace dvlog
