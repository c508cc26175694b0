// Whether two reads are of one tape frame. Two transfers of a tape read the
// same frames, but each may have lost the subcode (timecode), the VAUX
// (recording date and time) or blocks of content that the other read. So two
// reads are compared only in what both read right: any difference there
// tells two frames apart; they are one frame only when nothing differs and
// enough blocks were read right by both to tell frames apart.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "merge/frame_index.h"
#include "merge/frame_source.h"

namespace dvlog {

enum class likeness {
  different,  // something both read right differs
  unknown,    // nothing both read right differs, but too little was read right by both
  same,       // nothing both read right differs, and enough was
};

// A read: a frame of a transfer.
struct read_ref {
  int32_t transfer;
  int32_t frame;
};

// Whether the timecode, recording date or recording time differ where both
// reads have them.
bool keys_differ(const frame_entry& a, const frame_entry& b);

class read_comparer {
 public:
  // `source` reads frames again to compare them block by block where their
  // sequences read whole do not settle it; without one (nullptr), reads are
  // compared in those sequences alone.
  read_comparer(const std::vector<transfer_index>& transfers, frame_source* source);

  likeness compare(read_ref a, read_ref b);
  // The same by the keys and the sequences both read whole alone: never
  // reads a frame again, and `unknown` where those do not settle it
  // (`common_blocks`: the blocks of those sequences, all equal).
  likeness compare_whole(read_ref a, read_ref b, int* common_blocks = nullptr) const;
  // Whether the pictures of two reads are alike, whatever their sound: the
  // video blocks both read right, read again.
  likeness pictures(read_ref a, read_ref b);
  // Audio and video blocks both reads must have read right, at least, to be
  // one frame: a quarter of a frame's.
  int enough() const { return enough_; }
  // True when a read has too little read right ever to be told one frame
  // with another: a deck's stand-in, a frame damaged through and through.
  bool too_little(read_ref r) const { return entry(r).right_blocks < enough_; }
  // 0, or the errno of a read of a transfer that failed.
  int error() const { return error_; }

  const frame_entry& entry(read_ref r) const {
    return transfers_[static_cast<size_t>(r.transfer)].frames[static_cast<size_t>(r.frame)];
  }

 private:
  const frame_bytes& loaded(read_ref r, int keep);
  // Both frames read again: every block both read right (of the pictures
  // alone, `video_only`), one by one.
  likeness compare_blocks(read_ref a, read_ref b, bool video_only);

  const std::vector<transfer_index>& transfers_;
  frame_source* source_;
  int lanes_ = 1;
  int enough_ = 1;
  int error_ = 0;
  // The two frames read last, kept: a read is compared with several others in turn.
  std::unique_ptr<uint8_t[]> buffers_;
  frame_bytes frames_[2];
  read_ref held_[2] = {{-1, -1}, {-1, -1}};
};

}  // namespace dvlog
