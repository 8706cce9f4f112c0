// AVI files through FFmpeg: one video stream encoded frame by frame, and a
// PCM sound track added to a finished file.
//
// Threads: one writer is used by one thread at a time (the capture writer
// hands it from the user-interface thread to the post-processing thread
// through the capturing flag).
#pragma once

#include "media/FrameRate.h"
#include "media/Wav.h"
#include "platform/AtomicFile.h"

#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

namespace vortigo {

enum class VideoCodec : int { Raw = 0, Mjpeg = 1, Ffv1 = 2, Mpeg4 = 3, H264 = 4 };
constexpr int VIDEO_CODEC_COUNT = 5;

// The compression choice of a capture: made once at its first file, reused
// by the follow-on files.
struct CompressionChoice {
    VideoCodec codec = VideoCodec::Mjpeg;
    int quality = 90;      // 1 (smallest) to 100 (best); used when dataRateKbps is 0
    int dataRateKbps = 0;  // target data rate; 0 encodes by quality
    int keyFrameEvery = 0; // frames between forced key frames; 0 keeps the codec's default
    int threads = 0;       // encoder threads; 0 lets FFmpeg choose
};

// Quality 1..100 on the codecs' own scales, best at 100: the H.264 constant
// rate factor (51 down to 14; the default 90 gives 18, visually lossless)
// and the MPEG-4 quantiser scale (31 down to 2; 90 gives 3).
int h264Crf(int quality);
int mpeg4Qscale(int quality);

// Whether this FFmpeg build has an encoder for the codec.
bool codecAvailable(VideoCodec codec);
// A short name for menus and messages ("Motion JPEG", ...).
const char* codecTitle(VideoCodec codec);
// Players guess BT.709 colours from this size up and BT.601 below; the
// writers tag their streams alike, so a player that ignores the tags still
// shows the right colours.
bool highDefinition(int width, int height);

// Where opening an AVI file failed; each has its own message.
enum class AviOpenError { None, FileOpen, Other, VideoStream, Encoder, Format };

class AviVideoFile {
  public:
    AviVideoFile() = default;
    AviVideoFile(const AviVideoFile&) = delete;
    AviVideoFile& operator=(const AviVideoFile&) = delete;
    ~AviVideoFile();

    // Starts `path` and its video stream (FileOpen, Other or VideoStream
    // on failure; lastError says why). The frames go to a temporary file
    // beside it (AtomicFile): `path` itself appears, whole, only when close
    // succeeds, and keeps its old contents until then. Another process
    // writing the same file gives Other ("in use").
    AviOpenError create(const std::string& path);
    // Sets the codec and the stream format for `width` x `height` at `rate`
    // (Encoder or Format on failure). The header holds the rate as a
    // fraction, so 30000/1001 is kept exactly.
    AviOpenError startVideo(int width, int height, FrameRate rate, const CompressionChoice& choice);
    // Closes and deletes the file, leaving `path` as it was.
    void abandon();
    // One frame of width x height x 3 bytes, bottom row first; `key` forces
    // a key frame. False when the frame could not be encoded or written.
    bool writeFrame(const uint8_t* bottomUpBgr, bool key);
    // Drains the encoder, writes the index and renames the completed file
    // to its name; false when that failed (the name then keeps its old
    // contents). The file is closed either way.
    bool close();
    bool isOpen() const { return m_format != nullptr; }
    // The system's text for the last failure of open, writeFrame or close.
    const std::string& lastError() const { return m_error; }

  private:
    bool drain();
    bool tagMpeg4Colour();
    void release();

    static constexpr int FRAME_POOL = 4;
    AVFormatContext* m_format = nullptr;
    AVStream* m_stream = nullptr;
    AVCodecContext* m_encoder = nullptr; // null for uncompressed frames
    SwsContext* m_convert = nullptr;
    AVFrame* m_frames[FRAME_POOL]{};
    // The frame's last row in memory, with room after it: the converter's
    // vector loads read a little past a row's end, and a frame may end
    // right at a guard page.
    std::vector<uint8_t> m_lastRow;
    AVPacket* m_packet = nullptr;
    int m_width = 0, m_height = 0;
    FrameRate m_rate{1, 1};
    std::string m_path;
    AtomicFile m_file; // the temporary file FFmpeg writes, renamed by close
    int64_t m_nextPts = 0;
    std::string m_error;
};

// Rewrites the finished AVI file `path` with `sound` added as a PCM
// stream; the video packets are copied unchanged, into a temporary file
// renamed over `path` when complete. False with `error` set when the file
// is left as it was.
enum class AudioTrackError { None, Stream, Format, Write };
AudioTrackError addPcmTrack(const std::string& path, const WavSound& sound, std::string& error);

} // namespace vortigo
