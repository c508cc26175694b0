// --split DIR: the input cut into parts in DIR as it is read, told after the
// summary (text) or as each is named (JSON, report).
#include <memory>

#include "main/outputs.h"
#include "main/run.h"
#include "split/splitter.h"

namespace dvlog {

namespace {

class split_output final : public run_output {
 public:
  // The directory, made before any input is read, and what the splits of
  // all inputs share: the buffer for copies the kernel will not make, and
  // the parts kept for the lines after the summary.
  int start_run(run_context& run) override {
    if (!make_output_dir(run.setup.opts.split, "parts", run.setup.err_fd)) return 1;
    copy_buffer_.reset(new uint8_t[COPY_SIZE]);
    parts_.reset(new part_facts[PARTS_KEPT]);
    return 0;
  }

  preflight begin(input_context& c) override {
    const run_setup& setup = c.run.setup;
    const split_setup s{setup.opts.split, setup.opts.split_at, c.base_name, c.in.fd, c.in.is_regular, c.in.start,
                        setup.year(), setup.err_fd, &c.run.out, &c.parts, parts_.get(), PARTS_KEPT,
                        copy_buffer_.get(), COPY_SIZE};
    splitter_.reset(new splitter(s));
    return preflight::ok;
  }

  event_sink* sink() override { return splitter_.get(); }
  unsigned needs() const override { return NEEDS_FRAMES | NEEDS_BYTES; }
  // The last part is named, and told, before the logs' summary.
  bool tells_files() const override { return true; }
  void bytes(const uint8_t* data, size_t size) override { splitter_->bytes(data, size); }
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
  std::unique_ptr<uint8_t[]> copy_buffer_;
  std::unique_ptr<part_facts[]> parts_;
  std::unique_ptr<splitter> splitter_;
};

}  // namespace

std::unique_ptr<run_output> make_split_output() { return std::unique_ptr<run_output>(new split_output); }

}  // namespace dvlog
