// A sound file of any kind libavformat reads (WAV of any PCM depth, FLAC,
// MP3, Ogg, AAC, ...), decoded, resampled and encoded as a video's sound
// stream, exactly as long as the video: cut at its end, or filled with
// silence to it.
//
// Threads: one object is used by one thread at a time.
#pragma once

#include "media/Wav.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVFrame;

namespace vortigo {

enum class SoundCodec { Aac, Opus };

class SoundTrack {
  public:
    SoundTrack();
    SoundTrack(const SoundTrack&) = delete;
    SoundTrack& operator=(const SoundTrack&) = delete;
    ~SoundTrack();

    // Opens `path` and its first sound stream; false with error() saying
    // why ("it holds no sound", the decoder's or the system's reason).
    bool open(const std::string& path);
    // Adds the encoded stream to `format` before its header is written;
    // false with error() set when this FFmpeg has no such encoder.
    bool addStream(AVFormatContext* format, SoundCodec codec);
    // Starts the stream `startNum/startDen` seconds into the file (a range
    // of a longer run), after addStream and before the first write.
    bool skip(int64_t startNum, int64_t startDen);
    // Writes the sound up to `endSeconds` seconds (a fraction num/den),
    // interleaved with the video. Whole encoder frames only: finish writes
    // the rest. False with error() set on a write failure.
    bool writeUntil(int64_t endNum, int64_t endDen);
    // Writes the sound to exactly `endNum/endDen` seconds, silence after
    // the file's end, and drains the encoder.
    bool finish(int64_t endNum, int64_t endDen);
    // Instead of a stream: the whole sound as 16-bit PCM, mono or stereo at
    // its own rate, for a WAV-style track; false when it would take more
    // than `maxBytes`.
    bool readAllAsPcm16(std::size_t maxBytes, WavSound& sound);
    const std::string& error() const { return m_error; }

  private:
    struct Parts;
    bool setUpConversion(int rate, int channels, int sampleFormat);
    bool convertInto(const AVFrame* in);
    bool fillFifo(int samples);
    bool decodeMore();
    bool encode(int samples);
    bool drain(bool flush);
    int64_t samplesAt(int64_t endNum, int64_t endDen) const;

    std::unique_ptr<Parts> m_parts;
    std::string m_error;
};

// Writes `sound` as a PCM WAV file, whole or not at all; false with errno set.
bool writePcmWav(const std::string& path, const WavSound& sound);

} // namespace vortigo
