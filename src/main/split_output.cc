// --split DIR: the input cut into parts in DIR as it is read, told after the
// summary (text) or as each is named (JSON, report); with --wrap, parts
// packed into a container.
#include <iterator>
#include <memory>

#include "ffmpeg/dv_muxer.h"
#include "main/outputs.h"
#include "main/run.h"
#include "split/splitter.h"
#include "wrap/wrap_packer.h"

#ifndef DVLOG_VERSION
#define DVLOG_VERSION "unknown"
#endif

namespace dvlog {

namespace {

class split_output final : public run_output {
 public:
  // The directory, made before any input is read, and what the splits of
  // all inputs share: the packer of the parts, the buffers for copies the
  // kernel will not make and for the frame being read, and the parts kept
  // for the lines after the summary. With --wrap, FFmpeg's libraries are
  // loaded first: a run that cannot wrap reads nothing.
  int start_run(run_context& run) override {
    const run_setup& setup = run.setup;
    if (setup.opts.wrap != wrap_format::dv) {
      const bool mkv = setup.opts.wrap == wrap_format::mkv;
      if (!muxer_.load()) {
        const char* const parts[] = {"dvlog: cannot wrap the parts as ", mkv ? "MKV" : "MOV", ": ", muxer_.failure(),
                                     "\n"};
        write_message(setup.err_fd, parts, std::size(parts));
        return 1;
      }
      packer_.reset(new wrap_packer(muxer_, mkv ? mux_container::mkv : mux_container::mov, setup.year(),
                                    "dvlog " DVLOG_VERSION));
    } else {
      packer_.reset(new dv_frame_packer);
    }
    if (!make_output_dir(setup.opts.split, "parts", setup.err_fd)) return 1;
    copy_buffer_.reset(new uint8_t[COPY_SIZE]);
    frame_buffer_.reset(new uint8_t[FRAME_BUFFER_SIZE]);
    parts_.reset(new part_facts[PARTS_KEPT]);
    return 0;
  }

  preflight begin(input_context& c) override {
    const run_setup& setup = c.run.setup;
    const split_setup s{setup.opts.split, setup.opts.split_at, c.base_name, c.in.fd, c.in.is_regular, c.in.start,
                        setup.year(), setup.err_fd, &c.run.out, &c.parts, parts_.get(), PARTS_KEPT,
                        copy_buffer_.get(), COPY_SIZE, packer_.get(), frame_buffer_.get(), FRAME_BUFFER_SIZE};
    splitter_.reset(new splitter(s));
    return preflight::ok;
  }

  event_sink* sink() override { return splitter_.get(); }
  unsigned needs() const override { return NEEDS_FRAMES | NEEDS_BYTES | NEEDS_SEQUENCES; }
  // The last part is named, and told, before the logs' summary.
  bool tells_files() const override { return true; }
  void bytes(const uint8_t* data, size_t size) override { splitter_->bytes(data, size); }
  void frame_sequence(const uint8_t* s, int32_t frame) override { splitter_->frame_sequence(s, frame); }
  void input_ended(const input_end& e) override { splitter_->set_input_end(e.bytes, e.stop_signal != 0); }

  int commit(input_context& c, const input_end&) override {
    const options& opts = c.run.setup.opts;
    if (!opts.json && !opts.table) {
      splitter_->write_lines(c.run.out);
      c.run.out.flush();
    }
    return splitter_->ok() ? 0 : 1;
  }

 private:
  static constexpr size_t COPY_SIZE = 1 << 20;
  static constexpr int PARTS_KEPT = 4096;
  dv_muxer muxer_;
  std::unique_ptr<part_packer> packer_;
  std::unique_ptr<uint8_t[]> copy_buffer_;
  std::unique_ptr<uint8_t[]> frame_buffer_;  // the frame being read, for parts of the frames alone
  std::unique_ptr<part_facts[]> parts_;
  std::unique_ptr<splitter> splitter_;
};

}  // namespace

std::unique_ptr<run_output> make_split_output() { return std::unique_ptr<run_output>(new split_output); }

}  // namespace dvlog
