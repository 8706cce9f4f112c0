#include "media/AviWriter.h"

#include "platform/ThreadPriority.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vortigo {
namespace {

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

const AVCodec* findEncoder(VideoCodec codec) {
    switch (codec) {
    case VideoCodec::Raw:
        return nullptr;
    case VideoCodec::Mjpeg:
        return avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    case VideoCodec::Ffv1:
        return avcodec_find_encoder(AV_CODEC_ID_FFV1);
    case VideoCodec::Mpeg4:
        return avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    case VideoCodec::H264: {
        // The software encoder first: hardware ones need a device.
        const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
        return x264 ? x264 : avcodec_find_encoder(AV_CODEC_ID_H264);
    }
    }
    return nullptr;
}

AVPixelFormat encoderFormat(VideoCodec codec, int width, int height) {
    switch (codec) {
    case VideoCodec::Mjpeg:
        return AV_PIX_FMT_YUV420P; // in full range, as JPEG has it
    case VideoCodec::Ffv1:
        return AV_PIX_FMT_BGR0; // lossless for 24-bit frames
    case VideoCodec::H264:
        // x264 takes 4:2:0 in even sizes only; an odd size keeps every
        // chroma sample instead of being refused.
        return width % 2 || height % 2 ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
    default:
        return AV_PIX_FMT_YUV420P;
    }
}

// Quality 1..100 as the codec's own scale.
void applyRate(AVCodecContext* encoder, VideoCodec codec, const CompressionChoice& choice) {
    if (choice.dataRateKbps > 0) {
        encoder->bit_rate = int64_t{choice.dataRateKbps} * 1000;
        return;
    }
    const int quality = std::clamp(choice.quality, 1, 100);
    if (codec == VideoCodec::Mjpeg || codec == VideoCodec::Mpeg4) {
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        const int scale =
            codec == VideoCodec::Mpeg4 ? mpeg4Qscale(quality) : 2 + (100 - quality) * 29 / 99;
        encoder->global_quality = FF_QP2LAMBDA * scale;
    } else if (codec == VideoCodec::H264 && encoder->priv_data) {
        av_opt_set_int(encoder->priv_data, "crf", h264Crf(quality), 0);
    }
}

AVCodecID pcmCodec(int bits) {
    switch (bits) {
    case 8:
        return AV_CODEC_ID_PCM_U8;
    case 16:
        return AV_CODEC_ID_PCM_S16LE;
    case 24:
        return AV_CODEC_ID_PCM_S24LE;
    case 32:
        return AV_CODEC_ID_PCM_S32LE;
    default:
        return AV_CODEC_ID_NONE;
    }
}

struct FormatDeleter {
    void operator()(AVFormatContext* c) const {
        if (!c) return;
        if (c->oformat && c->pb) avio_closep(&c->pb);
        if (c->iformat)
            avformat_close_input(&c);
        else
            avformat_free_context(c);
    }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatDeleter>;

struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

} // namespace

bool highDefinition(int width, int height) {
    return width >= 1280 || height > 576;
}

int h264Crf(int quality) {
    return 51 - (std::clamp(quality, 1, 100) * 33 + 45) / 90;
}

int mpeg4Qscale(int quality) {
    return std::max(2, 31 - (std::clamp(quality, 1, 100) * 28 + 45) / 90);
}

bool codecAvailable(VideoCodec codec) {
    return codec == VideoCodec::Raw || findEncoder(codec) != nullptr;
}

const char* codecTitle(VideoCodec codec) {
    switch (codec) {
    case VideoCodec::Raw:
        return "Full Frames (Uncompressed)";
    case VideoCodec::Mjpeg:
        return "Motion JPEG";
    case VideoCodec::Ffv1:
        return "FFV1 (lossless)";
    case VideoCodec::Mpeg4:
        return "MPEG-4 Part 2";
    case VideoCodec::H264:
        return "H.264";
    }
    return "";
}

AviVideoFile::~AviVideoFile() {
    release();
}

void AviVideoFile::release() {
    if (m_encoder) avcodec_free_context(&m_encoder);
    if (m_convert) sws_freeContext(m_convert);
    m_convert = nullptr;
    for (AVFrame*& f : m_frames)
        av_frame_free(&f);
    av_packet_free(&m_packet);
    if (m_format) {
        if (m_format->pb) avio_closep(&m_format->pb);
        avformat_free_context(m_format);
    }
    m_format = nullptr;
    m_stream = nullptr;
    m_nextPts = 0;
    m_file.abandon(); // nothing once the file has been renamed into place
}

AviOpenError AviVideoFile::create(const std::string& path) {
    release();
    m_error.clear();
    m_path = path;
    int result = avformat_alloc_output_context2(&m_format, nullptr, "avi", path.c_str());
    if (result < 0 || !m_format) {
        m_error = errorText(result);
        m_format = nullptr;
        return AviOpenError::Other;
    }
    if (!m_file.open(path, LinkPolicy::Replace)) {
        const int error = errno;
        m_error = path + ": " + fileErrorText(error);
        release();
        return error == EBUSY ? AviOpenError::Other : AviOpenError::FileOpen;
    }
    // FFmpeg writes the temporary file by name; it is ours and locked.
    result = avio_open(&m_format->pb, m_file.temporaryPath().c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        m_error = errorText(result);
        release();
        return AviOpenError::FileOpen;
    }
    m_stream = avformat_new_stream(m_format, nullptr);
    if (!m_stream) {
        abandon();
        return AviOpenError::VideoStream;
    }
    return AviOpenError::None;
}

void AviVideoFile::abandon() {
    release();
}

AviOpenError AviVideoFile::startVideo(int width, int height, FrameRate rate,
                                      const CompressionChoice& choice) {
    m_width = width;
    m_height = height;
    m_rate = rate.valid() ? rate : FrameRate{1, 1};
    const AVRational frameTime{m_rate.den, m_rate.num};
    AVCodecParameters* par = m_stream->codecpar;
    m_stream->time_base = frameTime;
    m_stream->avg_frame_rate = m_stream->r_frame_rate = AVRational{m_rate.num, m_rate.den};
    AVDictionary* options = nullptr;
    if (choice.codec == VideoCodec::Raw) {
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_RAWVIDEO;
        par->codec_tag = 0;
        par->format = AV_PIX_FMT_BGR24;
        par->width = width;
        par->height = height;
        par->bits_per_coded_sample = 24;
        // The frames are stored as the buffers hold them, bottom row first.
        av_dict_set(&options, "flipped_raw_rgb", "1", 0);
    } else {
        const AVCodec* codec = findEncoder(choice.codec);
        m_encoder = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!m_encoder) return AviOpenError::Encoder;
        m_encoder->width = width;
        m_encoder->height = height;
        m_encoder->time_base = frameTime;
        m_encoder->framerate = AVRational{m_rate.num, m_rate.den};
        m_encoder->pix_fmt = encoderFormat(choice.codec, width, height);
        const bool fullRange = choice.codec == VideoCodec::Mjpeg;
        if (fullRange) m_encoder->color_range = AVCOL_RANGE_JPEG;
        const bool tagged = choice.codec == VideoCodec::H264 || choice.codec == VideoCodec::Mpeg4;
        const bool hd = highDefinition(width, height);
        if (tagged) {
            m_encoder->color_range = AVCOL_RANGE_MPEG;
            m_encoder->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
            m_encoder->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
            m_encoder->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
        }
        m_encoder->max_b_frames = 0; // AVI has no reordering
        m_encoder->thread_count = choice.threads;
        if (choice.keyFrameEvery > 0) m_encoder->gop_size = choice.keyFrameEvery;
        applyRate(m_encoder, choice.codec, choice);
        // x264 prints a summary of every file; the studio's console stays quiet.
        if (choice.codec == VideoCodec::H264 && m_encoder->priv_data)
            av_opt_set(m_encoder->priv_data, "x264-params", "log=-1", 0);
        // The encoder's worker threads start here and keep the priority of
        // the thread that starts them: the lowered one of the frames' other
        // background work, even when the user starts capturing.
        int opened = -1;
        runAtLowerPriority([&] { opened = avcodec_open2(m_encoder, codec, nullptr); });
        if (opened < 0 || avcodec_parameters_from_context(par, m_encoder) < 0)
            return AviOpenError::Encoder;
        m_convert = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height,
                                   m_encoder->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!m_convert) return AviOpenError::Encoder;
        if (fullRange) {
            const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
            sws_setColorspaceDetails(m_convert, coefficients, 1, coefficients, 1, 0, 1 << 16,
                                     1 << 16);
        } else if (tagged) {
            // The samples follow the matrix the stream is tagged with.
            const int* coefficients = sws_getCoefficients(hd ? SWS_CS_ITU709 : SWS_CS_ITU601);
            sws_setColorspaceDetails(m_convert, coefficients, 0, coefficients, 0, 0, 1 << 16,
                                     1 << 16);
        }
        // Frames the encoder may still hold are not overwritten: a few in
        // turn, allocated here so that no frame allocates.
        for (AVFrame*& f : m_frames) {
            f = av_frame_alloc();
            if (!f) return AviOpenError::Encoder;
            f->format = m_encoder->pix_fmt;
            f->width = width;
            f->height = height;
            if (av_frame_get_buffer(f, 0) < 0) return AviOpenError::Encoder;
        }
    }
    m_packet = av_packet_alloc();
    const int result = avformat_write_header(m_format, &options);
    av_dict_free(&options);
    if (result < 0 || !m_packet) {
        m_error = errorText(result);
        return AviOpenError::Format;
    }
    return AviOpenError::None;
}

bool AviVideoFile::writeFrame(const uint8_t* bottomUpBgr, bool key) {
    // key matters to encoders only: every uncompressed frame stands alone.
    if (!m_format || !m_packet) return false;
    const int rowBytes = m_width * 3;
    int result = 0;
    if (!m_encoder) {
        // The muxer writes straight from the frame buffer.
        m_packet->data = const_cast<uint8_t*>(bottomUpBgr);
        m_packet->size = rowBytes * m_height;
        m_packet->stream_index = m_stream->index;
        m_packet->pts = m_packet->dts =
            av_rescale_q(m_nextPts++, AVRational{m_rate.den, m_rate.num}, m_stream->time_base);
        m_packet->duration = 1;
        m_packet->flags = AV_PKT_FLAG_KEY;
        result = av_write_frame(m_format, m_packet);
        m_packet->data = nullptr;
        m_packet->size = 0;
        if (result < 0) m_error = errorText(result);
        return result >= 0;
    }

    AVFrame* frame = nullptr;
    for (AVFrame* f : m_frames)
        if (av_frame_is_writable(f)) {
            frame = f;
            break;
        }
    if (!frame) {
        frame = m_frames[m_nextPts % FRAME_POOL];
        if (av_frame_make_writable(frame) < 0) return false;
    }
    // A negative stride reads the bottom-up rows top row first. The top row
    // is the last one in memory: it goes through a padded copy, the rest
    // straight from the frame (their over-reads land in the next row).
    const uint8_t* topRow = bottomUpBgr + static_cast<ptrdiff_t>(m_height - 1) * rowBytes;
    m_lastRow.resize(static_cast<size_t>(rowBytes) + 64);
    std::memcpy(m_lastRow.data(), topRow, static_cast<size_t>(rowBytes));
    const int sourceStride[1] = {-rowBytes};
    const uint8_t* top[1] = {m_lastRow.data()};
    sws_scale(m_convert, top, sourceStride, 0, 1, frame->data, frame->linesize);
    if (m_height > 1) {
        const uint8_t* rest[1] = {topRow - rowBytes};
        sws_scale(m_convert, rest, sourceStride, 1, m_height - 1, frame->data, frame->linesize);
    }
    frame->pts = m_nextPts++;
    frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    result = avcodec_send_frame(m_encoder, frame);
    if (result < 0) {
        m_error = errorText(result);
        return false;
    }
    return drain();
}

bool AviVideoFile::drain() {
    for (;;) {
        int result = avcodec_receive_packet(m_encoder, m_packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
        if (result < 0) {
            m_error = errorText(result);
            return false;
        }
        if (m_encoder->codec_id == AV_CODEC_ID_MPEG4 && !tagMpeg4Colour()) {
            av_packet_unref(m_packet);
            m_error = errorText(AVERROR(ENOMEM));
            return false;
        }
        av_packet_rescale_ts(m_packet, m_encoder->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        result = av_write_frame(m_format, m_packet);
        av_packet_unref(m_packet);
        if (result < 0) {
            m_error = errorText(result);
            return false;
        }
    }
}

// FFmpeg's MPEG-4 encoder leaves the colour description out of the visual
// object header, and AVI has no field for it, so players would have to
// guess. Each key frame's header ("video object, no signal type", then
// stuffing) gets the signal type with the encoder's colour tags instead.
bool AviVideoFile::tagMpeg4Colour() {
    constexpr uint8_t VISUAL_OBJECT[] = {0, 0, 1, 0xb5};
    constexpr uint8_t VIDEO_NO_SIGNAL_TYPE = 0x13;
    const int searched = std::min(m_packet->size, 64) - 6;
    int at = 0;
    while (at < searched && std::memcmp(m_packet->data + at, VISUAL_OBJECT, 4) != 0)
        ++at;
    // Only the header form the encoder writes: with a version identifier.
    if (at >= searched || !(m_packet->data[at + 4] & 0x80) ||
        m_packet->data[at + 5] != VIDEO_NO_SIGNAL_TYPE)
        return true;
    const int tail = m_packet->size - (at + 6);
    if (av_grow_packet(m_packet, 4) < 0) return false;
    uint8_t* p = m_packet->data + at + 5;
    std::memmove(p + 5, p + 1, tail);
    // Video object type 1, signal type present, format unspecified (5);
    // limited range, colour description, primaries, transfer, matrix;
    // stuffing to the byte boundary.
    const uint32_t bits = 1u << 30 | uint32_t{uint8_t(m_encoder->color_primaries)} << 22 |
                          uint32_t{uint8_t(m_encoder->color_trc)} << 14 |
                          uint32_t{uint8_t(m_encoder->colorspace)} << 6 | 0x1f;
    p[0] = 0x1d;
    p[1] = static_cast<uint8_t>(bits >> 24);
    p[2] = static_cast<uint8_t>(bits >> 16);
    p[3] = static_cast<uint8_t>(bits >> 8);
    p[4] = static_cast<uint8_t>(bits);
    return true;
}

bool AviVideoFile::close() {
    if (!m_format) return true;
    bool ok = true;
    if (m_encoder && m_packet) {
        avcodec_send_frame(m_encoder, nullptr);
        ok = drain();
    }
    if (m_packet) {
        const int result = av_write_trailer(m_format);
        if (result < 0) {
            ok = false;
            m_error = errorText(result);
        }
    }
    if (m_format->pb) {
        avio_flush(m_format->pb);
        if (m_format->pb->error < 0) {
            if (ok) m_error = errorText(m_format->pb->error);
            ok = false;
        }
        const int closed = avio_closep(&m_format->pb);
        if (ok && closed < 0) {
            m_error = errorText(closed);
            ok = false;
        }
    }
    // Only a file whose index has been written takes its name.
    if (ok && !m_file.commit()) {
        m_error = fileErrorText(errno);
        ok = false;
    }
    release();
    return ok;
}

AudioTrackError addPcmTrack(const std::string& path, const WavSound& sound, std::string& error) {
    const AVCodecID pcm = pcmCodec(sound.bitsPerSample);
    if (pcm == AV_CODEC_ID_NONE || sound.data.size() > static_cast<size_t>(INT32_MAX / 2)) {
        error = "the sound format cannot be stored";
        return AudioTrackError::Format;
    }
    AVFormatContext* rawIn = nullptr;
    if (avformat_open_input(&rawIn, path.c_str(), nullptr, nullptr) < 0) {
        error = "the video file could not be read back";
        return AudioTrackError::Stream;
    }
    FormatPtr in(rawIn);
    const int videoIndex = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (videoIndex < 0) return AudioTrackError::Stream;
    AVStream* videoIn = in->streams[videoIndex];

    AtomicFile part;
    if (!part.open(path, LinkPolicy::Replace)) {
        error = "the file could not be rewritten: " + fileErrorText(errno);
        return AudioTrackError::Write;
    }
    const std::string partPath = part.temporaryPath();
    AVFormatContext* rawOut = nullptr;
    if (avformat_alloc_output_context2(&rawOut, nullptr, "avi", partPath.c_str()) < 0)
        return AudioTrackError::Stream;
    FormatPtr out(rawOut);
    AVStream* video = avformat_new_stream(out.get(), nullptr);
    AVStream* audio = video ? avformat_new_stream(out.get(), nullptr) : nullptr;
    if (!audio || avcodec_parameters_copy(video->codecpar, videoIn->codecpar) < 0)
        return AudioTrackError::Stream;
    AVDictionary* options = nullptr;
    if (video->codecpar->codec_id == AV_CODEC_ID_RAWVIDEO) {
        // The reader marks bottom-up frames in the extra data; the writer's
        // own option says it without adding bytes to the format.
        av_freep(&video->codecpar->extradata);
        video->codecpar->extradata_size = 0;
        av_dict_set(&options, "flipped_raw_rgb", "1", 0);
    }
    video->time_base = videoIn->time_base;
    video->avg_frame_rate = videoIn->avg_frame_rate;
    video->r_frame_rate = videoIn->r_frame_rate;

    AVCodecParameters* a = audio->codecpar;
    a->codec_type = AVMEDIA_TYPE_AUDIO;
    a->codec_id = pcm;
    a->sample_rate = static_cast<int>(std::min<uint32_t>(sound.sampleRate, INT32_MAX));
    av_channel_layout_default(&a->ch_layout, sound.channels);
    a->block_align = sound.blockAlign;
    a->bits_per_coded_sample = sound.bitsPerSample;
    a->bit_rate = int64_t{sound.sampleRate} * sound.blockAlign * 8;
    audio->time_base = AVRational{1, a->sample_rate > 0 ? a->sample_rate : 1};

    if (avio_open(&out->pb, partPath.c_str(), AVIO_FLAG_WRITE) < 0) {
        av_dict_free(&options);
        error = "the file could not be rewritten";
        return AudioTrackError::Write;
    }
    auto fail = [&](AudioTrackError kind, int code) {
        error = errorText(code);
        avio_closep(&out->pb);
        part.abandon();
        return kind;
    };
    int result = avformat_write_header(out.get(), &options);
    av_dict_free(&options);
    if (result < 0) return fail(AudioTrackError::Format, result);

    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!packet) return fail(AudioTrackError::Write, AVERROR(ENOMEM));
    // All the sound in one write, at the start of the file.
    packet->data = const_cast<uint8_t*>(sound.data.data());
    packet->size = static_cast<int>(sound.data.size());
    packet->stream_index = audio->index;
    packet->pts = packet->dts = 0;
    packet->duration = static_cast<int64_t>(sound.data.size() / sound.blockAlign);
    packet->flags = AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(packet.get(), AVRational{1, a->sample_rate}, audio->time_base);
    if (packet->size > 0 && (result = av_write_frame(out.get(), packet.get())) < 0)
        return fail(AudioTrackError::Write, result);
    packet->data = nullptr;
    packet->size = 0;

    while ((result = av_read_frame(in.get(), packet.get())) >= 0) {
        if (packet->stream_index == videoIndex) {
            av_packet_rescale_ts(packet.get(), videoIn->time_base, video->time_base);
            packet->stream_index = video->index;
            packet->pos = -1;
            result = av_write_frame(out.get(), packet.get());
        }
        av_packet_unref(packet.get());
        if (result < 0) return fail(AudioTrackError::Write, result);
    }
    if (result != AVERROR_EOF) return fail(AudioTrackError::Write, result);
    result = av_write_trailer(out.get());
    avio_flush(out->pb);
    if (result >= 0 && out->pb->error < 0) result = out->pb->error;
    if (result < 0) return fail(AudioTrackError::Write, result);
    result = avio_closep(&out->pb);
    if (result < 0) return fail(AudioTrackError::Write, result);
    in.reset();
    if (!part.commit()) {
        error = "the file could not be replaced: " + fileErrorText(errno);
        return AudioTrackError::Write;
    }
    return AudioTrackError::None;
}

} // namespace vortigo
