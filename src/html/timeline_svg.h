// The report's timeline: lanes of inline SVG that share one axis, the
// position in the tape (recordings, video and audio damage, audio offset, a
// row of marks for each kind of event, and for a merged stream where each
// stretch came from), with its legend.
#pragma once

#include "html/report_content.h"
#include "output/output_stream.h"

namespace dvlog {

// The style sheet's rules for the drawing and its legend.
void write_timeline_style(output_stream& out);

// The timeline's section of the page.
void write_timeline(output_stream& out, const report_content& content);

}  // namespace dvlog
