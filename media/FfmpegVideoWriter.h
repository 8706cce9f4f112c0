// Videos in FFmpeg's common containers (MP4, Matroska, QuickTime, WebM)
// for the batch renderer: one video stream encoded frame by frame, colour
// tags on it, and optionally a sound track made to the video's length. The
// studio's own capture keeps to AVI (AviWriter).
//
// Threads: one writer is used by one thread at a time; the lists are
// read-only.
#pragma once

#include "media/FrameRate.h"
#include "platform/AtomicFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vortigo {

enum class VideoContainer { Mp4, Mkv, Mov, Webm };

// The container a file name's extension (any case) names; false for none.
bool containerOf(const std::string& path, VideoContainer& container);
// "mp4", "mkv", "mov" or "webm".
const char* containerExtension(VideoContainer container);

// The codec names the writer knows, in the order they are listed.
const std::vector<std::string>& videoCodecNames();
// The codec used when none is named: H.264 in MP4, ProRes 422 HQ in MOV,
// VP9 in WebM, lossless FFV1 in Matroska.
const char* defaultVideoCodec(VideoContainer container);
// This FFmpeg's encoder for the codec ("libx264", ...), or "" when it has
// none.
std::string videoEncoderName(const std::string& codec);
// Whether the codec has an encoder here and the container can hold it.
bool videoCodecUsable(const std::string& codec, VideoContainer container);
// The codecs usable in the container, comma-separated ("h264, hevc, ...").
std::string usableVideoCodecs(VideoContainer container);

// FFmpeg's notes and warnings (encoder banners, summaries, a decoder's
// remarks on a sound file) stay out of a render's log; its errors show. Process-wide; call before
// any thread uses FFmpeg.
void showOnlyFfmpegErrors();

struct VideoSettings {
    std::string codec;     // one of videoCodecNames(); "" for the container's default
    int quality = 90;      // 1 (smallest) to 100 (best), on each codec's own scale
    int threads = 0;       // encoder threads; 0 lets FFmpeg choose
    std::string soundPath; // "" for none
    int firstFrame = 0;    // the sound starts at this frame's time (a range of a run)
};

class FfmpegVideoWriter {
  public:
    FfmpegVideoWriter();
    FfmpegVideoWriter(const FfmpegVideoWriter&) = delete;
    FfmpegVideoWriter& operator=(const FfmpegVideoWriter&) = delete;
    // Abandons a file that was not finished.
    ~FfmpegVideoWriter();

    // Starts `path` (its container from the extension) for frames of
    // `width` x `height` at `rate`. The bytes go to a temporary file
    // beside it (AtomicFile): `path` appears, whole, only when finish
    // succeeds. False with error() saying why.
    bool open(const std::string& path, int width, int height, FrameRate rate,
              const VideoSettings& settings);
    // One frame of width x height x 3 bytes, BGR, bottom row first.
    bool writeFrame(const uint8_t* bottomUpBgr);
    // Drains the encoders, ends the sound with the last frame, writes the
    // index and renames the file to its name. The file is closed either way.
    bool finish();
    // Closes and deletes the file; `path` is left as it was.
    void abandon();
    bool isOpen() const;
    int framesWritten() const { return m_frames; }
    const std::string& error() const { return m_error; }

  private:
    struct Parts;
    bool drain(bool flush);
    bool fail(const std::string& why);

    std::unique_ptr<Parts> m_parts;
    AtomicFile m_file;
    FrameRate m_rate;
    int m_width = 0, m_height = 0;
    int m_frames = 0;
    std::string m_error;
};

} // namespace vortigo
