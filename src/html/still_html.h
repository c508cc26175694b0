// The pictures of the tape in the HTML report: the contact sheet of the
// recordings, and the pictures of each damaged run kept (the frame before it,
// its worst frame, and for DV25 the same picture with its damaged blocks
// outlined). Pictures are JPEGs embedded as data: URIs, so that the page
// stays one file; one that could not be made is a grey box saying why.
#pragma once

#include <cstdint>

#include "output/output_stream.h"
#include "picture/still_picker.h"
#include "texts/time_texts.h"

namespace dvlog {

// The id of the timeline's mark of a frame pictured: "still-123".
constexpr const char* STILL_MARK_ID = "still-%d";

// The section of pictures: one a recording, and those along each recording.
void write_contact_sheet(output_stream& out, const still_picker& stills, year_source year);

// The pictures of the damaged run whose first frame is `first_frame`, as a
// row of the damaged-runs table of `columns`; nothing when none was kept.
void write_run_stills(output_stream& out, const still_picker& stills, int32_t first_frame, int columns);

// The rules for the pictures, for the page's style sheet.
void write_still_style(output_stream& out);

}  // namespace dvlog
