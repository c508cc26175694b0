#include "ffmpeg/dv_muxer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "ffmpeg/ffmpeg_libraries.h"

namespace dvlog {

namespace {

// By mux_container: libavformat's muxer, and its name in messages.
constexpr const char* MUXER_NAMES[] = {"matroska", "mov"};
constexpr const char* CONTAINER_TEXTS[] = {"MKV", "MOV"};

// The buffers libavformat reads and writes through, in bytes.
constexpr int READ_BUFFER_SIZE = 32768;
constexpr int WRITE_BUFFER_SIZE = 1 << 16;

// A DV frame holds two stereo pairs at most (DV50, DVCPRO HD: four).
constexpr int MAX_AUDIO_TRACKS = 4;
// The DV reader gives 16-bit samples, whatever the tape holds.
constexpr int BYTES_PER_SAMPLE = 2;

// The sample description of a QuickTime text track (3GPP timed text): no
// display flags, centred at the bottom, a transparent background, the whole
// text box, one style (font 1, 18 points, white), and a font table naming
// font 1. Players draw the samples' text with it.
constexpr uint8_t TEXT_SAMPLE_ENTRY[] = {
    0x00, 0x00, 0x00, 0x00,                               // display flags
    0x01, 0xFF,                                           // justification: centred, bottom
    0x00, 0x00, 0x00, 0x00,                               // background colour, RGBA
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,       // text box: top, left, bottom, right
    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x12,       // style: characters 0-0, font 1, plain, 18 points
    0xFF, 0xFF, 0xFF, 0xFF,                               //   colour, RGBA
    0x00, 0x00, 0x00, 0x12, 'f', 't', 'a', 'b',           // font table, 18 bytes
    0x00, 0x01, 0x00, 0x01, 0x05, 'S', 'e', 'r', 'i', 'f'  //   one font: 1, "Serif"
};

// Silence, for a frame whose sound could not be read: more than a frame of
// 16-bit stereo holds at any DV rate (48 kHz at 25 frames a second: 1,920).
constexpr size_t SILENCE_SAMPLES = 2000;
constexpr uint8_t SILENCE[SILENCE_SAMPLES * 2 * BYTES_PER_SAMPLE] = {};

// A subtitle's text, as either container holds it.
constexpr size_t MAX_TEXT = 240;

// A part whose first frame lost its sound packs waits for a frame that has
// them to know its tracks, holding the frames before it (and their
// subtitles): up to this many bytes, made when the libraries are loaded.
constexpr size_t HOLD_BYTES = size_t{4} << 20;
constexpr int HOLD_TEXTS = 64;

}  // namespace

struct dv_muxer::state {
  ffmpeg_libraries lib;
  bool loaded = false;
  char failure_text[320] = {};
  char muxer_text[64] = {};  // "the MKV muxer refused a frame", before the reason
  const char* failure = nullptr;
  int write_errno = 0;
  const AVInputFormat* dv_reader = nullptr;
  const AVOutputFormat* muxers[2] = {};

  // The DV reader, handed one frame at a time.
  AVFormatContext* reader = nullptr;
  AVIOContext* reader_io = nullptr;
  const uint8_t* feed = nullptr;
  size_t feed_left = 0;
  AVPacket* read_packet = nullptr;

  // The file.
  mux_container container = mux_container::mkv;
  AVFormatContext* writer = nullptr;
  AVIOContext* writer_io = nullptr;
  int fd = -1;
  AVStream* video = nullptr;
  AVStream* audio[MAX_AUDIO_TRACKS] = {};  // by the reader's audio stream
  AVStream* subtitles = nullptr;
  AVRational frame_time = {1, 25};     // the video's own time base: one frame
  AVRational audio_time[MAX_AUDIO_TRACKS] = {};  // one sample
  int64_t samples_written[MAX_AUDIO_TRACKS] = {};
  AVPacket* packet = nullptr;          // the frames and texts written, never owning their bytes
  int64_t frames = 0;
  uint8_t text_bytes[MAX_TEXT + 2] = {};

  // A file not begun yet, for want of a frame with sound packs: its tags,
  // and the frames and subtitles given so far.
  bool holding = false;
  mux_tags held_tags{};
  char held_strings[5][400] = {};
  std::unique_ptr<uint8_t[]> hold;
  size_t hold_used = 0;
  size_t held_sizes[HOLD_TEXTS] = {};
  int held_frames = 0;
  struct held_text {
    int64_t first, count;
    char words[MAX_TEXT + 1];
  };
  held_text held_texts[HOLD_TEXTS] = {};
  int held_text_count = 0;

  ~state() {
    if (!loaded) return;  // nothing was made, and the functions may be missing
    close();
    lib.packet_free(&packet);
    lib.packet_free(&read_packet);
  }

  bool fail(const char* what, int error = 0) {
    char reason[128] = "";
    if (error < 0) lib.error_text(error, reason, sizeof reason);
    if (write_errno != 0) std::snprintf(reason, sizeof reason, "%s", std::strerror(write_errno));
    std::snprintf(failure_text, sizeof failure_text, reason[0] ? "%s: %s" : "%s", what, reason);
    failure = failure_text;
    return false;
  }

  bool load() {
    if (loaded) return !failure;
    if (!lib.load(WRAP_LIBRARIES, failure_text, sizeof failure_text)) return failure = failure_text, false;
    loaded = true;
    // The libraries' own messages would land in the log's standard error.
    lib.log_set_level(AV_LOG_QUIET);
    dv_reader = lib.find_input_format("dv");
    muxers[0] = lib.guess_format(MUXER_NAMES[0], nullptr, nullptr);
    muxers[1] = lib.guess_format(MUXER_NAMES[1], nullptr, nullptr);
    if (!dv_reader) return fail("libavformat has no DV reader");
    if (!muxers[0] || !muxers[1]) return fail("libavformat lacks the Matroska or the QuickTime muxer");
    packet = lib.packet_alloc();
    read_packet = lib.packet_alloc();
    hold.reset(new (std::nothrow) uint8_t[HOLD_BYTES]);
    if (!packet || !read_packet || !hold) return fail("out of memory");
    return true;
  }

  // libavformat's input: the frame handed to it, then nothing.
  static int read_frame_bytes(void* opaque, uint8_t* buf, int size) {
    state& s = *static_cast<state*>(opaque);
    if (s.feed_left == 0) return AVERROR_EOF;
    const size_t n = s.feed_left < static_cast<size_t>(size) ? s.feed_left : static_cast<size_t>(size);
    std::memcpy(buf, s.feed, n);
    s.feed += n;
    s.feed_left -= n;
    return static_cast<int>(n);
  }

  // libavformat's output: the file.
  static int write_bytes(void* opaque, uint8_t* buf, int size) {
    state& s = *static_cast<state*>(opaque);
    for (int done = 0; done < size;) {
      const ssize_t n = ::write(s.fd, buf + done, static_cast<size_t>(size - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        s.write_errno = n < 0 ? errno : ENOSPC;
        return AVERROR(s.write_errno);
      }
      done += static_cast<int>(n);
    }
    return size;
  }

  static int64_t seek_bytes(void* opaque, int64_t offset, int whence) {
    state& s = *static_cast<state*>(opaque);
    if (whence == AVSEEK_SIZE) {
      struct stat st;
      return fstat(s.fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(s.fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
  }

  // Hands the DV reader the next frame.
  void give(const uint8_t* data, size_t size) {
    feed = data;
    feed_left = size;
    // A frame shorter than its format left the reader at the end of its input.
    reader_io->eof_reached = 0;
  }

  bool open_reader(const uint8_t* first, size_t size) {
    uint8_t* buffer = static_cast<uint8_t*>(lib.alloc_buffer(READ_BUFFER_SIZE));
    reader_io = buffer ? lib.alloc_io(buffer, READ_BUFFER_SIZE, 0, this, read_frame_bytes, nullptr, nullptr) : nullptr;
    reader = lib.alloc_format_context();
    if (!reader_io || !reader) {
      if (!reader_io) lib.free_buffer(&buffer);
      return fail("out of memory");
    }
    reader->pb = reader_io;
    give(first, size);
    // The reader finds the format in the frame's first blocks.
    const int opened = lib.open_input(&reader, nullptr, dv_reader, nullptr);
    if (opened < 0) return fail("the DV reader refused the first frame", opened);
    // From now on each frame goes into the reader's packet at once, not through
    // the context's buffer first.
    reader_io->direct = 1;
    return true;
  }

  // Reads what the DV reader has of the frames given: the sound of the
  // frame before, which it keeps until the next is read, then the picture
  // of the one given last (when `frame_given`), which ends the reading. The
  // sound goes into the file as soon as it has its tracks.
  bool read_sound(bool frame_given) {
    bool heard[MAX_AUDIO_TRACKS] = {};
    for (;;) {
      const int got = lib.read_frame(reader, read_packet);
      if (got < 0) {
        // The end of what was given; a frame the reader refused keeps its
        // picture in the file, and its sound is what the reader could take.
        return fill_unheard(heard);
      }
      const AVStream* from = reader->streams[read_packet->stream_index];
      if (from->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        lib.packet_unref(read_packet);
        if (frame_given) return fill_unheard(heard);
        continue;
      }
      const int track = read_packet->stream_index - 1;
      bool ok = true;
      if (writer && (track < 0 || track >= MAX_AUDIO_TRACKS || !audio[track])) {
        // Sound the file has no track for (no frame held before it had
        // sound packs): a container cannot add a track, and a file without
        // that sound would lose it.
        lib.packet_unref(read_packet);
        return fail("the sound begins too late in the part to be given a track");
      }
      if (writer) {
        heard[track] = true;
        // The reader times the sound by frames; its samples are counted
        // instead, so that a container that trims a track to its timestamps
        // (QuickTime's edit list) keeps every sample of sound the frames
        // hold, however many that is.
        const int channels = from->codecpar->ch_layout.nb_channels > 0 ? from->codecpar->ch_layout.nb_channels : 2;
        const int64_t samples = read_packet->size / (BYTES_PER_SAMPLE * channels);
        ok = write_sound(track, read_packet, samples);
      }
      lib.packet_unref(read_packet);
      if (!ok) return false;
    }
  }

  // After the reading of the sound of the frame before the one given last
  // (frame `frames - 1` of the file): a track that got none of it (the
  // frame's sound packs were lost, or the reader refused it) is given that
  // frame's time of silence, so that the sound after it stays in step with
  // the pictures.
  bool fill_unheard(const bool (&heard)[MAX_AUDIO_TRACKS]) {
    if (!writer || frames == 0) return true;
    for (int t = 0; t < MAX_AUDIO_TRACKS; ++t) {
      if (!audio[t] || heard[t]) continue;
      const int64_t rate = audio_time[t].den;
      const int64_t samples = lib.rescale_q(frames, frame_time, AVRational{1, static_cast<int>(rate)}) -
                              lib.rescale_q(frames - 1, frame_time, AVRational{1, static_cast<int>(rate)});
      const int channels = audio[t]->codecpar->ch_layout.nb_channels > 0 ? audio[t]->codecpar->ch_layout.nb_channels : 2;
      const int64_t room = static_cast<int64_t>(sizeof SILENCE) / (BYTES_PER_SAMPLE * channels);
      if (samples <= 0 || samples > room) continue;
      packet->data = const_cast<uint8_t*>(SILENCE);
      packet->size = static_cast<int>(samples * BYTES_PER_SAMPLE * channels);
      packet->flags = AV_PKT_FLAG_KEY;
      const bool ok = write_sound(t, packet, samples);
      packet->data = nullptr;
      packet->size = 0;
      if (!ok) return false;
    }
    return true;
  }

  // A packet of `samples` samples of track t, timed by the samples before it.
  bool write_sound(int t, AVPacket* p, int64_t samples) {
    p->stream_index = audio[t]->index;
    p->pos = -1;
    p->pts = p->dts = samples_written[t];
    p->duration = samples;
    samples_written[t] += samples;
    lib.packet_rescale_ts(p, audio_time[t], audio[t]->time_base);
    const int written = lib.write_frame(writer, p);
    return written >= 0 || fail("the muxer refused the sound", written);
  }

  AVStream* add_stream(AVMediaType type, AVCodecID codec) {
    AVStream* st = lib.new_stream(writer, nullptr);
    if (!st) return nullptr;
    st->codecpar->codec_type = type;
    st->codecpar->codec_id = codec;
    return st;
  }

  bool add_tracks(const mux_tags& tags, const uint8_t* first, size_t size) {
    const AVDVProfile* profile = lib.dv_frame_profile(nullptr, first, static_cast<unsigned>(size));
    if (!profile) return fail("FFmpeg knows no DV format of the first frame");
    video = add_stream(AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_DVVIDEO);
    if (!video) return fail("out of memory");
    AVCodecParameters* v = video->codecpar;
    v->width = profile->width;
    v->height = profile->height;
    v->format = profile->pix_fmt;
    v->bit_rate = static_cast<int64_t>(profile->frame_size) * 8 * profile->time_base.den / profile->time_base.num;
    // The reader's aspect ratio, from the frame's video source control pack.
    v->sample_aspect_ratio = reader->streams[0]->sample_aspect_ratio;
    video->sample_aspect_ratio = v->sample_aspect_ratio;
    // Field order as FFmpeg's DV decoder tells it: 720-line frames are
    // progressive, 1080-line ones top field first, standard definition
    // bottom field first when interlaced.
    v->field_order = profile->height == 720 ? AV_FIELD_PROGRESSIVE
                     : !tags.interlaced     ? AV_FIELD_PROGRESSIVE
                     : profile->height == 1080 ? AV_FIELD_TT
                                               : AV_FIELD_BB;
    frame_time = profile->time_base;
    video->time_base = frame_time;
    video->avg_frame_rate = AVRational{frame_time.den, frame_time.num};
    video->r_frame_rate = video->avg_frame_rate;
    video->disposition = AV_DISPOSITION_DEFAULT;
    if (tags.timecode) lib.dict_set(&video->metadata, "timecode", tags.timecode, 0);

    for (unsigned i = 1; i < reader->nb_streams && i <= MAX_AUDIO_TRACKS; ++i) {
      const AVStream* from = reader->streams[i];
      if (from->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
      AVStream* a = add_stream(AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_NONE);
      if (!a || lib.parameters_copy(a->codecpar, from->codecpar) < 0) return fail("out of memory");
      a->codecpar->codec_tag = 0;
      a->time_base = audio_time[i - 1] = AVRational{1, from->codecpar->sample_rate};
      samples_written[i - 1] = 0;
      a->disposition = i == 1 ? AV_DISPOSITION_DEFAULT : 0;
      audio[i - 1] = a;
    }

    const bool mkv = container == mux_container::mkv;
    subtitles = add_stream(AVMEDIA_TYPE_SUBTITLE, mkv ? AV_CODEC_ID_SUBRIP : AV_CODEC_ID_MOV_TEXT);
    if (!subtitles) return fail("out of memory");
    subtitles->time_base = frame_time;
    subtitles->disposition = 0;  // shown only when the viewer asks
    if (tags.subtitle_title) lib.dict_set(&subtitles->metadata, "title", tags.subtitle_title, 0);
    if (!mkv) {
      uint8_t* entry = static_cast<uint8_t*>(lib.alloc_buffer(sizeof TEXT_SAMPLE_ENTRY + AV_INPUT_BUFFER_PADDING_SIZE));
      if (!entry) return fail("out of memory");
      std::memset(entry, 0, sizeof TEXT_SAMPLE_ENTRY + AV_INPUT_BUFFER_PADDING_SIZE);
      std::memcpy(entry, TEXT_SAMPLE_ENTRY, sizeof TEXT_SAMPLE_ENTRY);
      subtitles->codecpar->extradata = entry;
      subtitles->codecpar->extradata_size = sizeof TEXT_SAMPLE_ENTRY;
    }

    if (tags.title) lib.dict_set(&writer->metadata, "title", tags.title, 0);
    if (tags.creation_time) lib.dict_set(&writer->metadata, "creation_time", tags.creation_time, 0);
    // Matroska's header names the writing program too.
    if (tags.encoder && mkv) lib.dict_set(&writer->metadata, "encoding_tool", tags.encoder, 0);
    return true;
  }

  bool begin(int file, mux_container c, const mux_tags& tags, const uint8_t* first, size_t size) {
    if (failure && !loaded) return false;
    failure = nullptr;
    write_errno = 0;
    close();
    fd = file;
    container = c;
    frames = 0;
    // The reader reads the first frame's picture; its sound waits for the
    // next, and its streams tell the tracks.
    if (!open_reader(first, size) || !read_sound(true)) return false;
    if (reader->nb_streams > 1) return start(tags, first, size) && write_picture(first, size);
    // No sound packs: held until a frame tells the tracks.
    const char* const given[5] = {tags.title, tags.creation_time, tags.timecode, tags.encoder, tags.subtitle_title};
    const char** kept[5] = {&held_tags.title, &held_tags.creation_time, &held_tags.timecode, &held_tags.encoder,
                            &held_tags.subtitle_title};
    for (int i = 0; i < 5; ++i) {
      *kept[i] = given[i] ? held_strings[i] : nullptr;
      if (given[i]) std::snprintf(held_strings[i], sizeof held_strings[i], "%s", given[i]);
    }
    held_tags.interlaced = tags.interlaced;
    holding = true;
    hold_used = 0;
    held_frames = held_text_count = 0;
    return keep(first, size) || fail("a frame is larger than DV makes them");
  }

  // A frame of a file held, if there is room for it.
  bool keep(const uint8_t* data, size_t size) {
    if (held_frames == HOLD_TEXTS || size > HOLD_BYTES - hold_used) return false;
    std::memcpy(hold.get() + hold_used, data, size);
    hold_used += size;
    held_sizes[held_frames++] = size;
    return true;
  }

  // Begins the held file with the tracks the reader knows now (none if no
  // frame held had sound packs), and writes what it held: each frame with
  // its time of silence, and its subtitles.
  bool release() {
    holding = false;
    if (!start(held_tags, hold.get(), held_sizes[0])) return false;
    const bool none[MAX_AUDIO_TRACKS] = {};
    size_t at = 0;
    int text = 0;
    for (int i = 0; i < held_frames; ++i) {
      if (!write_picture(hold.get() + at, held_sizes[i]) || !fill_unheard(none)) return false;
      at += held_sizes[i];
      for (; text < held_text_count && held_texts[text].first <= i; ++text)
        if (!write_text(held_texts[text].first, held_texts[text].count, held_texts[text].words)) return false;
    }
    for (; text < held_text_count; ++text)
      if (!write_text(held_texts[text].first, held_texts[text].count, held_texts[text].words)) return false;
    return true;
  }

  // The file's header, with the tracks of `first` and of the reader.
  bool start(const mux_tags& tags, const uint8_t* first, size_t size) {
    const int made = lib.alloc_output_context(&writer, muxers[static_cast<int>(container)], nullptr, nullptr);
    if (made < 0 || !writer) return fail("out of memory");
    uint8_t* buffer = static_cast<uint8_t*>(lib.alloc_buffer(WRITE_BUFFER_SIZE));
    writer_io = buffer ? lib.alloc_io(buffer, WRITE_BUFFER_SIZE, 1, this, nullptr, write_bytes, seek_bytes) : nullptr;
    if (!writer_io) {
      lib.free_buffer(&buffer);
      return fail("out of memory");
    }
    // Frames go straight from dvlog's buffer to the file, not through the
    // context's buffer; only the container's own small writes are gathered.
    writer_io->direct = 1;
    writer->pb = writer_io;
    writer->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (!add_tracks(tags, first, size)) return false;
    // The subtitles are not shown unless asked for: Matroska's muxer would
    // otherwise make the first track of each kind the default. Its CRC-32
    // of every cluster is left out: computing it costs more than all the
    // rest of the wrapping, and an archive keeps checksums of whole files.
    AVDictionary* options = nullptr;
    if (container == mux_container::mkv) {
      lib.dict_set(&options, "default_mode", "passthrough", 0);
      lib.dict_set(&options, "write_crc32", "0", 0);
    }
    const int ready = lib.init_output(writer, &options);
    lib.dict_free(&options);
    if (ready < 0) return fail(muxer_failure("refused the file"), ready);
    // Readying the muxer names libavformat as the encoder; the program that
    // chose what the file holds is named instead.
    if (tags.encoder) lib.dict_set(&writer->metadata, "encoder", tags.encoder, 0);
    const int header = lib.write_header(writer, nullptr);
    if (header < 0) return fail(muxer_failure("refused the file"), header);
    return true;
  }

  const char* muxer_failure(const char* what) {
    static_assert(sizeof CONTAINER_TEXTS / sizeof *CONTAINER_TEXTS == 2);
    std::snprintf(muxer_text, sizeof muxer_text, "the %s muxer %s", CONTAINER_TEXTS[static_cast<int>(container)],
                  what);
    return muxer_text;
  }

  // A packet of bytes the muxer does not own, from frame `first` for `count`
  // frames.
  bool write_borrowed(AVStream* st, const uint8_t* data, size_t size, int64_t first, int64_t count,
                      const char* refused) {
    packet->data = const_cast<uint8_t*>(data);
    packet->size = static_cast<int>(size);
    packet->stream_index = st->index;
    packet->pts = packet->dts = lib.rescale_q(first, frame_time, st->time_base);
    packet->duration = lib.rescale_q(count, frame_time, st->time_base);
    packet->flags = AV_PKT_FLAG_KEY;
    packet->pos = -1;
    const int written = lib.write_frame(writer, packet);
    packet->data = nullptr;
    packet->size = 0;
    return written >= 0 || fail(muxer_failure(refused), written);
  }

  // The frame's own bytes, not the reader's copy of them.
  bool write_picture(const uint8_t* data, size_t size) {
    if (!write_borrowed(video, data, size, frames, 1, "refused a frame")) return false;
    ++frames;
    return true;
  }

  bool frame(const uint8_t* data, size_t size) {
    if (failure || (!writer && !holding)) return false;
    give(data, size);
    if (!read_sound(true)) return false;
    // Held on while no frame has told the tracks and there is room.
    if (holding && (reader->nb_streams > 1 || !keep(data, size)) && !release()) return false;
    return holding || write_picture(data, size);
  }

  bool text(int64_t first, int64_t count, const char* words) {
    if (failure || (!writer && !holding)) return false;
    if (holding && held_text_count < HOLD_TEXTS) {
      held_text& t = held_texts[held_text_count++];
      t.first = first;
      t.count = count;
      std::snprintf(t.words, sizeof t.words, "%s", words);
      return true;
    }
    if (holding && !release()) return false;
    return write_text(first, count, words);
  }

  bool write_text(int64_t first, int64_t count, const char* words) {
    size_t length = std::strlen(words);
    if (length > MAX_TEXT) length = MAX_TEXT;
    // QuickTime's text samples begin with their length, big-endian.
    const size_t head = container == mux_container::mov ? 2 : 0;
    if (head) {
      text_bytes[0] = static_cast<uint8_t>(length >> 8);
      text_bytes[1] = static_cast<uint8_t>(length);
    }
    std::memcpy(text_bytes + head, words, length);
    return write_borrowed(subtitles, text_bytes, head + length, first, count, "refused a subtitle");
  }

  bool end() {
    if (failure || (!writer && !holding)) return false;
    if (holding && !release()) return false;
    // The last frame's sound.
    give(nullptr, 0);
    if (!read_sound(false)) return false;
    const int trailer = lib.write_trailer(writer);
    if (trailer < 0) return fail(muxer_failure("could not end the file"), trailer);
    lib.flush_io(writer_io);
    if (write_errno != 0 || writer_io->error < 0) return fail("the file could not be written", writer_io->error);
    close();
    return true;
  }

  void close() {
    if (!loaded) return;
    if (reader) lib.close_input(&reader);
    if (reader_io) {
      lib.free_buffer(&reader_io->buffer);
      lib.free_io(&reader_io);
    }
    if (writer) {
      lib.free_format_context(writer);
      writer = nullptr;
    }
    if (writer_io) {
      lib.free_buffer(&writer_io->buffer);
      lib.free_io(&writer_io);
    }
    video = subtitles = nullptr;
    for (AVStream*& a : audio) a = nullptr;
    fd = -1;
    holding = false;
  }
};

dv_muxer::dv_muxer() : s_(new state) {}
dv_muxer::~dv_muxer() = default;

bool dv_muxer::load() { return s_->load(); }
const char* dv_muxer::failure() const { return s_->failure ? s_->failure : "unknown failure"; }
int dv_muxer::write_error() const { return s_->write_errno; }

bool dv_muxer::begin(int fd, mux_container container, const mux_tags& tags, const uint8_t* first, size_t size) {
  return s_->begin(fd, container, tags, first, size);
}
bool dv_muxer::frame(const uint8_t* data, size_t size) { return s_->frame(data, size); }
bool dv_muxer::text(int64_t first, int64_t frames, const char* text) { return s_->text(first, frames, text); }
bool dv_muxer::end() { return s_->end(); }
void dv_muxer::abandon() {
  s_->close();
  s_->failure = nullptr;
}

}  // namespace dvlog
