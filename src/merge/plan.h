// Which reads of the transfers are one tape frame, and in which order the
// tape holds them.
//
// A read is a frame of a transfer that the deck played forward at normal
// speed; frames it sent while shuttling, pausing or searching are never taken.
// The plan follows three rules.
//
// A tape frame is known by its content. Two reads are one tape frame only if
// everything both read right is equal (the video and audio blocks, and the
// timecode, recording date and time, and the mark of a recording's first
// frame, where both read them) and enough blocks
// were read right by both to tell frames apart (read_comparer). Keys (the
// timecode, the content hashes) only propose which reads to compare (for a
// read that lost its own timecode, those the frames around it leave, a few
// at most; one inferred so never keeps apart two reads of a picture that is
// not black or a still); so do
// the frames near a read in its transfer, as far as a retake goes back (all
// of them for a read with nothing read whole where a pass begins). Reads
// next to one another in a transfer that are one frame this way are a run: a
// frame the capture repeated, or frames of the tape that nothing read tells
// apart. A run is one read of one tape frame, with these exceptions, whose
// reads are placed by position instead:
//   - a read with too little read right to be told one with anything (a
//     deck's stand-in, a frame damaged through and through), or with
//     nothing read whole to look it up by and no timecode;
//   - a read, without timecode, equal to reads of two frames that differ (a
//     black frame of a leader whose timecode was lost);
//   - content the tape holds more than once (black, a still), when no
//     timecode tells its frames apart: a run of three reads or more,
//     silent (the tape's sound runs on from frame to frame: a run of equal
//     reads with sound heard in it is one frame the capture repeated), or
//     content that comes again in a transfer with nothing but such content
//     between, showing its picture (the sound of black comes again every
//     few frames; another picture come again is the deck gone back).
// The other runs read identified frames, and every identified frame once in
// each pass.
//
// Tape order comes from every pass. A transfer is one or more passes: a new
// pass begins where the transfer reads an identified frame its pass read
// already (the deck was rewound), where the timecode goes back within a
// recording or leaps on further than a few dropped frames, at a recording
// start, and after frames not at playback speed. Each pass says that each of
// its identified frames follows the one before: a link. A link into a new
// recording, across frames not at playback speed or where the timecode
// leaps, stands only where the other links leave room for it (the surest
// first: timecodes that follow on, then a recording start played on into
// (not one recorded before the frame left, by their dates: as likely the deck
// went back to it), then the others; of equal ones, those
// that ask no jump of another pass, where that pass's timecodes leave no
// room for the frame; of equal ones that contradict each other, refused).
// Refused too: a frame no timecode following on joins to others, whose
// timecode lies between two of another recording that holds no frame of
// it, with no date to tell them apart (it may be that recording's missing
// frame); a pass that played on into a recording start whose timecode
// is a little lower, within the same dates, where that recording runs on
// past the frame's timecode without it (the deck may have gone back to the
// start); and a transfer that read, from its first frame, only content the
// tape holds more than once and a frame or two before it played on into a
// recording start, with that content just after it, and no timecodes (a
// capture begun within the recording's leader may have gone back). Where
// the deck was rewound, the pass it began:
//   - begins at the frames read just before, new to the pass, that come
//     shortly before the frame read again by their timecodes, or without
//     timecodes that a pass reads ahead of it (the deck went back to them);
//   - where the pass played on into a recording start and a frame of the
//     pass before comes again with no timecode to tell, begins at that start
//     (the deck went back to it), unless the start is read again before the
//     transfer stops or shuttles (the deck went back past it);
//   - where nothing of the above tells and the transfer read on again
//     without the pass's last frames, and they or the frame read again have
//     no timecode to order them, refused: nothing tells how many of them
//     end the pass (the re-read dropped them) and how many lie before the
//     frame the deck went back to.
// Frames read again in their order, four or more, are the deck gone back,
// not content the tape holds twice, unless they begin a recording (one
// source recorded twice); so are fewer, then frames new to the pass, unless
// the first shows the picture of a frame next to it (black, a still).
// Where a pass's timecode goes back with no frame off speed and no
// recording start read between, to no place within the pass or just before
// it, the deck went back or a recording whose start it lost began: the
// passes must read the frame it went to before the one it came from, or
// after it; else refused.
// A frame read again just before the transfer stops or shuttles, with
// nothing else read again, is content the tape holds twice (black whose
// sound comes again every few frames) unless its timecode was read, it
// begins a recording, a pass reads the frame before it ahead of it, or
// that frame shows another picture.
// The identified frames are put in the order all links agree on (a
// topological order), frames that links whose timecodes follow on join into
// one recording in the order of their timecodes; where nothing else orders
// two frames, their keys do: the recording date and time, then the
// timecode, and for a frame whose timecode was not read, the timecodes that
// the frames around it in its pass leave free. Where links disagree (a
// cycle), or nothing orders two frames, the merge is refused, naming the
// place.
//
// Runs of identical frames (black, a still) and the other reads placed by
// position lie between two identified frames in each pass (or before the
// first, or after the last). Between two identified frames next to one
// another on the tape, the tape holds the longest run of such reads any pass
// read there, and every other pass's run must fit into it in order, each read
// where nothing both read right differs (before the first identified frame,
// runs fit to its end: a transfer that began late began within it; after the
// last, to its start). A pass that read two identified frames with others
// between that it missed fits its run into all of that; where it fits no
// other way, equal reads next to one another in it are one frame, and,
// where no timecodes count the frames there, a read may make a new place
// next to one its content equals. Where the timecodes around a run leave
// room for fewer frames, equal reads of it are one frame. So a run of
// identical frames with no timecode to count them is as long on the tape as
// the longest run one pass read of it: a frame that a capture repeated or
// dropped there, or a retake that went back within it, cannot be told from
// a longer or shorter still. Where the longest run reads some content in two
// stretches and another pass's run there reads it in one, nothing tells a
// retake within the run from frames dropped: refused; so where it reads one
// content alone, three times or more, and a pass that read the frames on
// both sides reads it once (a still the other dropped, or one frame read
// again). Reads that tell
// nothing of their own, and content the tape holds more than once read just
// before a recording start, are never made a frame where a pass begins (the
// deck may have gone back just after them): they go where they fit, or are
// left out. Reads where a pass went back with nothing to say which side
// they belong to, and content the tape holds more than once (or a read
// equal to two frames that differ), never take the place of a read that
// tells nothing (a deck's stand-in) among frames further off. Equal reads next to one another before the tape's first
// frame or after its last, where that frame has a timecode they lost, are
// refused: a repeat or frames alike, nothing tells. Reads with frames off
// speed on both sides (or before them and the transfer's end after) and no
// identified frame of their pass between go where their content is. A read
// that fits no place is refused.
//
// Different tapes are refused: transfers that share no identified frame, and
// two identified frames whose keys put them at one place, with nothing to
// order them, while what both read right differs.
//
// Last, the rows are checked against every transfer as a whole, and the
// merge refused where they do not explain it as a deck plays a tape: a pass
// that skips more than a couple of frames where neither its timecodes count
// them nor other passes read them through (frames identified by content, in
// one recording); more frames between two reads of a pass than their
// timecodes count in one recording (of two with a timecode, whatever the
// pass read between without), or fewer where reads between were left out; a pass that goes back where its
// timecode went a few frames on; a recording start that no pass played
// into, nor dates or timecodes order (one pass suffices unless a deck also
// went back to that start, or the timecode went back there and the frames
// before it, counted back to where their timecode begins counting, would
// follow on from a frame of the new recording that its next frame does not,
// or, without timecodes, the frames before it were read only by that pass,
// from where it began or landed, not at a recording start (or at one, where
// they are silent and a leader's length at most): the pass may have
// gone back from them to the start, and dropped them or read them as reads
// that say not which frame they are); a pass that went back from the end of a
// recording to a recording start, or to the tape's first frame, or a couple
// of frames after either (the deck may have dropped them), where
// nothing else orders the two (the timecode counting on frame by frame
// from that start to where it went back from does; to the first frame, so
// do passes that read every frame between twice; another transfer that
// played on into a recording start between does, unless with a deck's
// stand-in, which tells not which frame it is); a pass that went back
// from within a recording to the tape's first frame, a recording start with
// another just after it, where the start may as well lie just after the
// frame left (no timecodes leave no room there, nor did two passes read on
// from that frame); a pass that went back to the tape's first frame a
// leader's length after a recording start without timecode (another
// recording opening alike may lie before that frame); a read without
// timecode taken for a repeat of a timed frame where the timed reads around
// it leave room for another, and two equal reads one after the other
// without timecode made two frames where the tape's timecodes run around
// them, or a read without timecode equal to the timed one just before made a
// frame of its own that no timecode after counts; a pass that skips content the tape holds more than once unlike the
// content on either side, or a deck's stand-in next to a frame without
// timecode or just before a recording start (no timecode counts the frames
// across: it may be a frame read again); a deck's stand-in read between two reads of such content,
// placed as a frame between them, where no other pass read on through
// its place (the deck may have gone back there, the stand-in its first
// frame back); content the tape holds more than once that alternates without
// a run of it, or comes again after other frames where no pass reads on
// from it; frames that open the five-frame cycle of 525/60 sound at 48 kHz
// locked to the picture (1,600 samples, the others 1,602), within a
// recording, two of such content not five frames apart or a multiple, or
// two more than five apart, not a multiple, with such content between (a
// retake within black, or frames dropped there); a row recorded earlier
// than one before it in its recording (the camera's clock runs on: a frame
// of another recording put within it); a row of reads placed by position
// alone that a pass stepped over, equal to a frame a few rows off (as
// likely that frame, read where the pass dropped the one it stepped over);
// a read without timecode
// that a deck went back to just before it stopped or shuttled (the next
// frame may hold the same content); and reads a transfer began with left
// out.
#pragma once

#include <cstdint>
#include <vector>

#include "dv/dv_meta.h"
#include "input/source.h"
#include "merge/frame_index.h"
#include "merge/frame_match.h"

namespace dvlog {

// One read of a tape frame in the plan: the pass that read it and its frame
// in that pass's transfer.
struct plan_read {
  int32_t pass;
  int32_t frame;
};

// The tape as the transfers show it: each tape frame in order, with its reads,
// one a pass at most, in the order of the passes. Passes are numbered in the
// order of the transfers, and of the passes within each.
struct merge_plan {
  std::vector<int32_t> pass_transfer;  // the transfer each pass reads
  std::vector<int64_t> row_begin;      // frames() + 1 entries into `reads`
  std::vector<plan_read> reads;
  std::vector<int64_t> repeated;       // by transfer: reads left out, repeating a frame taken

  int64_t frames() const { return row_begin.empty() ? 0 : static_cast<int64_t>(row_begin.size()) - 1; }
  const plan_read* row(int64_t p) const { return reads.data() + row_begin[static_cast<size_t>(p)]; }
  int32_t row_size(int64_t p) const {
    return static_cast<int32_t>(row_begin[static_cast<size_t>(p) + 1] - row_begin[static_cast<size_t>(p)]);
  }
};

// Why the transfers were not merged, and where: two reads named by their
// transfer and frame (-1 where none is named).
struct merge_refusal {
  enum class reason {
    none,
    stopped,         // a stop signal came
    failed,          // reading a transfer again failed (errno in `error`)
    shares_nothing,  // `transfer` shares no identified frame with `other`
    differs,         // keys put the two reads at one place; their content differs
    unordered,       // nothing orders the two reads
    disagree,        // the passes order frames around the two reads in different ways
    unplaced,        // the read fits no place between the frames around it
  };
  reason why = reason::none;
  read_ref at{-1, -1};
  read_ref other{-1, -1};
  int error = 0;
};

// Plans the merge of all transfers (of one system and signal type), comparing
// reads with `compare`. Watches for a stop.
merge_refusal plan_merge(const std::vector<transfer_index>& transfers, read_comparer& compare,
                         const stop_request& stop, merge_plan& plan);

}  // namespace dvlog
