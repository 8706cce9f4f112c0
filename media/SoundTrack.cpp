#include "media/SoundTrack.h"

#include "platform/AtomicFile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace vortigo {
namespace {

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The software encoders first; FFmpeg's own Opus encoder is experimental.
const AVCodec* findSoundEncoder(SoundCodec codec) {
    if (codec == SoundCodec::Aac) return avcodec_find_encoder(AV_CODEC_ID_AAC);
    const AVCodec* libopus = avcodec_find_encoder_by_name("libopus");
    return libopus ? libopus : avcodec_find_encoder(AV_CODEC_ID_OPUS);
}

// The source's rate where the encoder takes it, else 48 kHz (Opus's own).
int encoderRate(const AVCodec* codec, int sourceRate) {
    if (!codec->supported_samplerates) return sourceRate > 0 ? sourceRate : 48000;
    for (const int* rate = codec->supported_samplerates; *rate; ++rate)
        if (*rate == sourceRate) return sourceRate;
    return 48000;
}

} // namespace

struct SoundTrack::Parts {
    AVFormatContext* in = nullptr;
    AVCodecContext* decoder = nullptr;
    int streamIndex = -1;
    AVFormatContext* out = nullptr; // the video's, not owned
    AVStream* stream = nullptr;
    AVCodecContext* encoder = nullptr; // null when the samples go out as PCM
    // What the resampler makes: the encoder's format, or 16-bit PCM.
    AVSampleFormat outFormat = AV_SAMPLE_FMT_NONE;
    AVChannelLayout outLayout{};
    int outRate = 0;
    SwrContext* resampler = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* decoded = nullptr;
    AVFrame* converted = nullptr;
    AVFrame* frame = nullptr; // one encoder frame
    AVPacket* packet = nullptr;
    int frameSize = 1024;
    int64_t nextPts = 0; // samples given to the encoder
    bool inputEnded = false;

    ~Parts() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        av_frame_free(&converted);
        av_frame_free(&decoded);
        if (fifo) av_audio_fifo_free(fifo);
        swr_free(&resampler);
        av_channel_layout_uninit(&outLayout);
        avcodec_free_context(&encoder);
        avcodec_free_context(&decoder);
        avformat_close_input(&in);
    }
};

SoundTrack::SoundTrack() : m_parts(std::make_unique<Parts>()) {}
SoundTrack::~SoundTrack() = default;

bool SoundTrack::open(const std::string& path) {
    Parts& p = *m_parts;
    int result = avformat_open_input(&p.in, path.c_str(), nullptr, nullptr);
    if (result < 0) {
        m_error = result == AVERROR(ENOENT) || result == AVERROR(EACCES)
                      ? errorText(result)
                      : "it cannot be read as sound (" + errorText(result) + ")";
        return false;
    }
    result = avformat_find_stream_info(p.in, nullptr);
    const AVCodec* codec = nullptr;
    if (result >= 0) result = av_find_best_stream(p.in, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (result < 0 || !codec) {
        m_error = result == AVERROR_DECODER_NOT_FOUND ? "this FFmpeg cannot decode its sound"
                                                      : "it holds no sound";
        return false;
    }
    p.streamIndex = result;
    p.decoder = avcodec_alloc_context3(codec);
    if (!p.decoder ||
        avcodec_parameters_to_context(p.decoder, p.in->streams[p.streamIndex]->codecpar) < 0 ||
        (result = avcodec_open2(p.decoder, codec, nullptr)) < 0) {
        m_error = "its sound cannot be decoded: " + errorText(result);
        return false;
    }
    if (p.decoder->sample_rate <= 0 || p.decoder->ch_layout.nb_channels <= 0) {
        m_error = "its sound has no sample rate or no channels";
        return false;
    }
    return true;
}

bool SoundTrack::setUpConversion(int rate, int channels, int sampleFormat) {
    Parts& p = *m_parts;
    p.outRate = rate;
    p.outFormat = static_cast<AVSampleFormat>(sampleFormat);
    av_channel_layout_default(&p.outLayout, channels);
    AVChannelLayout source{};
    if (p.decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&source, p.decoder->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&source, &p.decoder->ch_layout);
    int result = swr_alloc_set_opts2(&p.resampler, &p.outLayout, p.outFormat, p.outRate, &source,
                                     p.decoder->sample_fmt, p.decoder->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&source);
    if (result >= 0) result = swr_init(p.resampler);
    p.fifo = av_audio_fifo_alloc(p.outFormat, channels, p.frameSize * 2);
    p.decoded = av_frame_alloc();
    p.converted = av_frame_alloc();
    p.packet = av_packet_alloc();
    if (result < 0 || !p.fifo || !p.decoded || !p.converted || !p.packet) {
        m_error =
            "the sound cannot be converted: " + errorText(result < 0 ? result : AVERROR(ENOMEM));
        return false;
    }
    return true;
}

bool SoundTrack::addStream(AVFormatContext* format, SoundCodec kind) {
    Parts& p = *m_parts;
    const AVCodec* codec = findSoundEncoder(kind);
    p.encoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!p.encoder || !codec->sample_fmts) {
        m_error = std::string("this FFmpeg has no ") + (kind == SoundCodec::Aac ? "AAC" : "Opus") +
                  " encoder";
        return false;
    }
    p.out = format;
    p.encoder->sample_rate = encoderRate(codec, p.decoder->sample_rate);
    p.encoder->time_base = AVRational{1, p.encoder->sample_rate};
    // Mono stays mono; anything wider is mixed down to stereo.
    av_channel_layout_default(&p.encoder->ch_layout, p.decoder->ch_layout.nb_channels == 1 ? 1 : 2);
    p.encoder->sample_fmt = codec->sample_fmts[0];
    p.encoder->bit_rate = p.encoder->ch_layout.nb_channels == 1 ? 96000 : 192000;
    p.encoder->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        p.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int result = avcodec_open2(p.encoder, codec, nullptr);
    p.stream = result >= 0 ? avformat_new_stream(format, nullptr) : nullptr;
    if (!p.stream || avcodec_parameters_from_context(p.stream->codecpar, p.encoder) < 0) {
        m_error = "the sound encoder cannot start: " + errorText(result);
        return false;
    }
    p.stream->time_base = p.encoder->time_base;
    if (p.encoder->frame_size > 0) p.frameSize = p.encoder->frame_size;

    if (!setUpConversion(p.encoder->sample_rate, p.encoder->ch_layout.nb_channels,
                         p.encoder->sample_fmt))
        return false;
    p.frame = av_frame_alloc();
    if (!p.frame) {
        m_error = "not enough memory for the sound";
        return false;
    }
    p.frame->format = p.encoder->sample_fmt;
    p.frame->sample_rate = p.encoder->sample_rate;
    p.frame->nb_samples = p.frameSize;
    if (av_channel_layout_copy(&p.frame->ch_layout, &p.encoder->ch_layout) < 0 ||
        av_frame_get_buffer(p.frame, 0) < 0) {
        m_error = "not enough memory for the sound";
        return false;
    }
    return true;
}

int64_t SoundTrack::samplesAt(int64_t endNum, int64_t endDen) const {
    if (endDen <= 0 || endNum <= 0) return 0;
    return av_rescale(endNum, m_parts->encoder->sample_rate, endDen);
}

// Converts `in` (null: what the resampler still holds) into the fifo.
bool SoundTrack::convertInto(const AVFrame* in) {
    Parts& p = *m_parts;
    const int wanted = swr_get_out_samples(p.resampler, in ? in->nb_samples : 0);
    if (wanted <= 0) return true;
    av_frame_unref(p.converted);
    p.converted->format = p.outFormat;
    p.converted->sample_rate = p.outRate;
    p.converted->nb_samples = wanted;
    if (av_channel_layout_copy(&p.converted->ch_layout, &p.outLayout) < 0 ||
        av_frame_get_buffer(p.converted, 0) < 0)
        return false;
    const int got = swr_convert(p.resampler, p.converted->data, wanted,
                                in ? const_cast<const uint8_t**>(in->extended_data) : nullptr,
                                in ? in->nb_samples : 0);
    return got >= 0 &&
           av_audio_fifo_write(p.fifo, reinterpret_cast<void**>(p.converted->data), got) == got;
}

bool SoundTrack::decodeMore() {
    Parts& p = *m_parts;
    // The end of the file, or a read error after it began, ends the sound.
    const bool ending = av_read_frame(p.in, p.packet) < 0;
    if (!ending && p.packet->stream_index != p.streamIndex) {
        av_packet_unref(p.packet);
        return true;
    }
    const int sent = avcodec_send_packet(p.decoder, ending ? nullptr : p.packet);
    av_packet_unref(p.packet);
    // A damaged packet is skipped, as players do.
    if (sent < 0 && !ending) return true;
    for (;;) {
        const int result = avcodec_receive_frame(p.decoder, p.decoded);
        if (result < 0 && !ending) return true;
        if (result < 0) break;
        const bool ok = convertInto(p.decoded);
        av_frame_unref(p.decoded);
        if (!ok) {
            m_error = "not enough memory for the sound";
            return false;
        }
    }
    p.inputEnded = true;
    if (!convertInto(nullptr)) {
        m_error = "not enough memory for the sound";
        return false;
    }
    return true;
}

bool SoundTrack::fillFifo(int samples) {
    Parts& p = *m_parts;
    while (av_audio_fifo_size(p.fifo) < samples && !p.inputEnded)
        if (!decodeMore()) return false;
    const int missing = samples - av_audio_fifo_size(p.fifo);
    if (missing <= 0) return true;
    // The file ended before the video: silence to the end.
    av_frame_unref(p.converted);
    p.converted->format = p.outFormat;
    p.converted->nb_samples = missing;
    if (av_channel_layout_copy(&p.converted->ch_layout, &p.outLayout) < 0 ||
        av_frame_get_buffer(p.converted, 0) < 0) {
        m_error = "not enough memory for the sound";
        return false;
    }
    av_samples_set_silence(p.converted->data, 0, missing, p.outLayout.nb_channels, p.outFormat);
    return av_audio_fifo_write(p.fifo, reinterpret_cast<void**>(p.converted->data), missing) ==
           missing;
}

bool SoundTrack::encode(int samples) {
    Parts& p = *m_parts;
    if (!fillFifo(samples)) return false;
    int result = av_frame_make_writable(p.frame);
    if (result >= 0) {
        p.frame->nb_samples = samples;
        if (av_audio_fifo_read(p.fifo, reinterpret_cast<void**>(p.frame->data), samples) != samples)
            result = AVERROR(EIO);
    }
    p.frame->pts = p.nextPts;
    p.nextPts += samples;
    if (result >= 0) result = avcodec_send_frame(p.encoder, p.frame);
    if (result < 0) {
        m_error = "the sound cannot be encoded: " + errorText(result);
        return false;
    }
    return drain(false);
}

bool SoundTrack::drain(bool flush) {
    Parts& p = *m_parts;
    if (flush) avcodec_send_frame(p.encoder, nullptr);
    for (;;) {
        int result = avcodec_receive_packet(p.encoder, p.packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
        if (result >= 0) {
            av_packet_rescale_ts(p.packet, p.encoder->time_base, p.stream->time_base);
            p.packet->stream_index = p.stream->index;
            result = av_interleaved_write_frame(p.out, p.packet);
        }
        if (result < 0) {
            m_error = errorText(result);
            return false;
        }
    }
}

bool SoundTrack::skip(int64_t startNum, int64_t startDen) {
    Parts& p = *m_parts;
    int64_t left = samplesAt(startNum, startDen);
    while (left > 0) {
        if (av_audio_fifo_size(p.fifo) == 0) {
            if (p.inputEnded) break; // a range past the sound's end: silence
            if (!decodeMore()) return false;
            continue;
        }
        const auto dropped = static_cast<int>(std::min<int64_t>(left, av_audio_fifo_size(p.fifo)));
        av_audio_fifo_drain(p.fifo, dropped);
        left -= dropped;
    }
    return true;
}

bool SoundTrack::writeUntil(int64_t endNum, int64_t endDen) {
    Parts& p = *m_parts;
    if (!p.encoder) return false;
    const int64_t target = samplesAt(endNum, endDen);
    while (p.nextPts + p.frameSize <= target)
        if (!encode(p.frameSize)) return false;
    return true;
}

bool SoundTrack::finish(int64_t endNum, int64_t endDen) {
    Parts& p = *m_parts;
    if (!writeUntil(endNum, endDen)) return false;
    const int64_t rest = samplesAt(endNum, endDen) - p.nextPts;
    if (rest > 0 && !encode(static_cast<int>(rest))) return false;
    return drain(true);
}

bool writePcmWav(const std::string& path, const WavSound& sound) {
    constexpr size_t HEADER = 44;
    if (sound.data.size() > std::numeric_limits<uint32_t>::max() - HEADER) {
        errno = EFBIG;
        return false;
    }
    std::vector<uint8_t> bytes(HEADER + sound.data.size());
    uint8_t* at = bytes.data();
    auto tag = [&](const char* four) {
        std::memcpy(at, four, 4);
        at += 4;
    };
    auto le = [&](uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            *at++ = static_cast<uint8_t>(value >> (8 * i));
    };
    const auto dataBytes = static_cast<uint32_t>(sound.data.size());
    tag("RIFF");
    le(dataBytes + 36, 4);
    tag("WAVE");
    tag("fmt ");
    le(16, 4);
    le(1, 2); // PCM
    le(sound.channels, 2);
    le(sound.sampleRate, 4);
    le(sound.avgBytesPerSecond, 4);
    le(sound.blockAlign, 2);
    le(sound.bitsPerSample, 2);
    tag("data");
    le(dataBytes, 4);
    if (!sound.data.empty()) std::memcpy(at, sound.data.data(), sound.data.size());
    return writeWholeFile(path, bytes.data(), bytes.size());
}

bool SoundTrack::readAllAsPcm16(size_t maxBytes, WavSound& sound) {
    Parts& p = *m_parts;
    const int channels = p.decoder->ch_layout.nb_channels == 1 ? 1 : 2;
    const int rate = std::min(p.decoder->sample_rate, 192000);
    if (!setUpConversion(rate, channels, AV_SAMPLE_FMT_S16)) return false;
    const size_t blockAlign = static_cast<size_t>(channels) * 2;
    while (!p.inputEnded) {
        if (!decodeMore()) return false;
        if (static_cast<size_t>(av_audio_fifo_size(p.fifo)) * blockAlign > maxBytes) {
            m_error = "its sound is too long for a sound track of " +
                      std::to_string(maxBytes >> 20) + " MB";
            return false;
        }
    }
    const int samples = av_audio_fifo_size(p.fifo);
    sound.channels = static_cast<uint16_t>(channels);
    sound.sampleRate = static_cast<uint32_t>(rate);
    sound.blockAlign = static_cast<uint16_t>(blockAlign);
    sound.bitsPerSample = 16;
    sound.avgBytesPerSecond = static_cast<uint32_t>(rate * blockAlign);
    sound.data.resize(static_cast<size_t>(samples) * blockAlign);
    void* planes[1] = {sound.data.data()};
    if (samples > 0 && av_audio_fifo_read(p.fifo, planes, samples) != samples) {
        m_error = "its sound could not be decoded";
        return false;
    }
    if (sound.data.empty()) m_error = "it holds no sound";
    return !sound.data.empty();
}

} // namespace vortigo
