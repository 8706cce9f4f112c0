#include "media/FfmpegVideoWriter.h"

#include "media/AviWriter.h"
#include "media/SoundTrack.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>

namespace vortigo {
namespace {

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string formatEncoderRefusal(const char* encoder, int width, int height, int code) {
    return "the " + std::string(encoder) + " encoder cannot take a frame of " +
           std::to_string(width) + " x " + std::to_string(height) + " pixels (" + errorText(code) +
           ")";
}

struct CodecEntry {
    const char* name;
    AVCodecID id;
    const char* encoders[3]; // software encoders by preference; hardware ones need a device
};

constexpr CodecEntry CODECS[] = {
    {"h264", AV_CODEC_ID_H264, {"libx264", "libopenh264", nullptr}},
    {"hevc", AV_CODEC_ID_HEVC, {"libx265", nullptr, nullptr}},
    {"prores", AV_CODEC_ID_PRORES, {"prores_ks", "prores_aw", "prores"}},
    {"vp9", AV_CODEC_ID_VP9, {"libvpx-vp9", nullptr, nullptr}},
    // SVT-AV1 last: it refuses frames below 64 lines, and its threads wait
    // forever when an encoder is closed before the end of its stream.
    {"av1", AV_CODEC_ID_AV1, {"libaom-av1", "librav1e", "libsvtav1"}},
    {"ffv1", AV_CODEC_ID_FFV1, {"ffv1", nullptr, nullptr}},
    {"mjpeg", AV_CODEC_ID_MJPEG, {"mjpeg", nullptr, nullptr}},
    {"raw", AV_CODEC_ID_RAWVIDEO, {"rawvideo", nullptr, nullptr}},
};

const CodecEntry* findEntry(const std::string& name) {
    for (const CodecEntry& entry : CODECS)
        if (name == entry.name) return &entry;
    return nullptr;
}

const AVCodec* findVideoEncoder(const CodecEntry& entry) {
    for (const char* name : entry.encoders)
        if (name)
            if (const AVCodec* codec = avcodec_find_encoder_by_name(name)) return codec;
    return nullptr;
}

const char* muxerName(VideoContainer container) {
    switch (container) {
    case VideoContainer::Mp4:
        return "mp4";
    case VideoContainer::Mkv:
        return "matroska";
    case VideoContainer::Mov:
        return "mov";
    case VideoContainer::Webm:
        return "webm";
    }
    return "";
}

// Lossless codecs keep the frames' RGB; the others take Y'CbCr, 4:2:0 where
// the size allows (x264 and x265 refuse 4:2:0 at an odd size; every chroma
// sample is kept instead), 4:2:2 in 10 bits for ProRes 422 HQ.
AVPixelFormat pixelFormat(AVCodecID id, int width, int height) {
    switch (id) {
    case AV_CODEC_ID_FFV1:
        return AV_PIX_FMT_BGR0;
    case AV_CODEC_ID_RAWVIDEO:
        return AV_PIX_FMT_BGR24;
    case AV_CODEC_ID_PRORES:
        return AV_PIX_FMT_YUV422P10LE;
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
        return width % 2 || height % 2 ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
    default:
        return AV_PIX_FMT_YUV420P;
    }
}

// Pairs FFmpeg's codec query allows but its writers refuse at the header:
// VP9 and AV1 go into MP4 only, and raw RGB into Matroska only in a legacy
// mode.
bool writerRefuses(AVCodecID id, VideoContainer container) {
    return (container == VideoContainer::Mov && (id == AV_CODEC_ID_VP9 || id == AV_CODEC_ID_AV1)) ||
           (container == VideoContainer::Mkv && id == AV_CODEC_ID_RAWVIDEO);
}

bool isRgb(AVCodecID id) {
    return id == AV_CODEC_ID_FFV1 || id == AV_CODEC_ID_RAWVIDEO;
}

// The frames are sRGB: RGB streams say so; Y'CbCr streams are tagged as the
// AVI writer tags them (BT.709 from HD sizes up, BT.601 below), limited
// range except Motion JPEG, whose full-range samples follow JPEG's matrix.
void tagColours(AVCodecContext* encoder, AVCodecID id) {
    const bool hd = highDefinition(encoder->width, encoder->height);
    encoder->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    encoder->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    encoder->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    encoder->color_range = AVCOL_RANGE_MPEG;
    if (id == AV_CODEC_ID_MJPEG) {
        encoder->colorspace = AVCOL_SPC_SMPTE170M;
        encoder->color_range = AVCOL_RANGE_JPEG;
    } else if (isRgb(id)) {
        encoder->color_primaries = AVCOL_PRI_BT709;
        encoder->color_trc = AVCOL_TRC_IEC61966_2_1;
        encoder->colorspace = AVCOL_SPC_RGB;
        encoder->color_range = AVCOL_RANGE_JPEG;
    }
}

// Quality 1..100 on each codec's own scale: 90 is x264's CRF 18.
void applyQuality(AVCodecContext* encoder, AVCodecID id, int quality) {
    quality = std::clamp(quality, 1, 100);
    void* own = encoder->priv_data;
    const int crf63 = 63 - (quality * 48 + 50) / 100; // VP9 and AV1: 90 gives 20
    switch (id) {
    case AV_CODEC_ID_H264:
        if (own) av_opt_set(own, "x264-params", "log=-1", 0);
        if (own) av_opt_set_int(own, "crf", h264Crf(quality), 0);
        break;
    case AV_CODEC_ID_HEVC:
        if (own) av_opt_set(own, "x265-params", "log-level=error", 0);
        if (own) av_opt_set_int(own, "crf", h264Crf(quality), 0);
        break;
    case AV_CODEC_ID_PRORES:
        if (own) av_opt_set(own, "profile", "hq", 0);
        break;
    case AV_CODEC_ID_VP9:
        encoder->bit_rate = 0;
        if (own) {
            av_opt_set_int(own, "crf", crf63, 0);
            av_opt_set(own, "deadline", "good", 0);
            av_opt_set_int(own, "cpu-used", 4, 0);
            av_opt_set_int(own, "row-mt", 1, 0);
        }
        break;
    case AV_CODEC_ID_AV1:
        encoder->bit_rate = 0;
        if (own) {
            av_opt_set_int(own, "crf", crf63, 0);
            av_opt_set_int(own, "cpu-used", 8, 0); // libaom
            av_opt_set_int(own, "row-mt", 1, 0);
            av_opt_set_int(own, "speed", 10, 0); // rav1e
            av_opt_set_int(own, "preset", 8, 0); // SVT-AV1
        }
        break;
    case AV_CODEC_ID_MJPEG:
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * (2 + (100 - quality) * 29 / 99);
        break;
    default:
        break;
    }
}

} // namespace

void showOnlyFfmpegErrors() {
    av_log_set_level(AV_LOG_ERROR);
}

bool containerOf(const std::string& path, VideoContainer& container) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
    const char* ext = path.c_str() + dot + 1;
    for (const VideoContainer c :
         {VideoContainer::Mp4, VideoContainer::Mkv, VideoContainer::Mov, VideoContainer::Webm})
        if (strcasecmp(ext, containerExtension(c)) == 0) {
            container = c;
            return true;
        }
    return false;
}

const char* containerExtension(VideoContainer container) {
    switch (container) {
    case VideoContainer::Mp4:
        return "mp4";
    case VideoContainer::Mkv:
        return "mkv";
    case VideoContainer::Mov:
        return "mov";
    case VideoContainer::Webm:
        return "webm";
    }
    return "";
}

const std::vector<std::string>& videoCodecNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const CodecEntry& entry : CODECS)
            all.emplace_back(entry.name);
        return all;
    }();
    return names;
}

const char* defaultVideoCodec(VideoContainer container) {
    switch (container) {
    case VideoContainer::Mp4:
        return "h264";
    case VideoContainer::Mkv:
        return "ffv1";
    case VideoContainer::Mov:
        return "prores";
    case VideoContainer::Webm:
        return "vp9";
    }
    return "";
}

std::string videoEncoderName(const std::string& codec) {
    const CodecEntry* entry = findEntry(codec);
    const AVCodec* encoder = entry ? findVideoEncoder(*entry) : nullptr;
    return encoder ? encoder->name : "";
}

bool videoCodecUsable(const std::string& codec, VideoContainer container) {
    const CodecEntry* entry = findEntry(codec);
    const AVOutputFormat* format = av_guess_format(muxerName(container), nullptr, nullptr);
    return entry && format && findVideoEncoder(*entry) && !writerRefuses(entry->id, container) &&
           avformat_query_codec(format, entry->id, FF_COMPLIANCE_NORMAL) == 1;
}

std::string usableVideoCodecs(VideoContainer container) {
    std::string list;
    for (const CodecEntry& entry : CODECS)
        if (videoCodecUsable(entry.name, container))
            list += (list.empty() ? "" : ", ") + std::string(entry.name);
    return list;
}

struct FfmpegVideoWriter::Parts {
    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    AVCodecContext* encoder = nullptr;
    SwsContext* convert = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    // The frame's last row in memory, with room after it: the converter's
    // vector loads read a little past a row's end, and a frame may end
    // right at a guard page.
    std::vector<uint8_t> lastRow;
    std::unique_ptr<SoundTrack> sound;

    ~Parts() {
        sound.reset(); // its stream belongs to the format
        sws_freeContext(convert);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&encoder);
        if (format) {
            if (format->pb) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }
};

FfmpegVideoWriter::FfmpegVideoWriter() = default;

FfmpegVideoWriter::~FfmpegVideoWriter() {
    abandon();
}

bool FfmpegVideoWriter::isOpen() const {
    return m_parts != nullptr;
}

void FfmpegVideoWriter::abandon() {
    m_parts.reset();
    m_file.abandon();
}

bool FfmpegVideoWriter::fail(const std::string& why) {
    m_error = why;
    abandon();
    return false;
}

bool FfmpegVideoWriter::open(const std::string& path, int width, int height, FrameRate rate,
                             const VideoSettings& settings) {
    abandon();
    m_error.clear();
    m_frames = 0;
    m_width = width;
    m_height = height;
    m_rate = rate.valid() ? rate : FrameRate{25, 1};
    VideoContainer container{};
    if (!containerOf(path, container)) return fail(path + ": not an MP4, MKV, MOV or WebM name");
    const std::string codecName =
        settings.codec.empty() ? defaultVideoCodec(container) : settings.codec;
    const CodecEntry* entry = findEntry(codecName);
    const AVCodec* codec = entry ? findVideoEncoder(*entry) : nullptr;
    if (!codec || !videoCodecUsable(codecName, container))
        return fail("a " + std::string(containerExtension(container)) + " file cannot take " +
                    codecName + " here; it takes " + usableVideoCodecs(container));

    // The sound file is tried before anything is written.
    auto parts = std::make_unique<Parts>();
    if (!settings.soundPath.empty()) {
        parts->sound = std::make_unique<SoundTrack>();
        if (!parts->sound->open(settings.soundPath))
            return fail(settings.soundPath + ": " + parts->sound->error());
    }
    if (!m_file.open(path, LinkPolicy::Replace)) return fail(path + ": " + fileErrorText(errno));
    m_parts = std::move(parts);
    Parts& p = *m_parts;
    // The muxer knows the file by its temporary name: MP4's fast start
    // reads it back by that name to move the index to the front.
    const std::string& temporary = m_file.temporaryPath();
    int result =
        avformat_alloc_output_context2(&p.format, nullptr, muxerName(container), temporary.c_str());
    if (result < 0 || !p.format) {
        p.format = nullptr;
        return fail(errorText(result));
    }
    if ((result = avio_open(&p.format->pb, temporary.c_str(), AVIO_FLAG_WRITE)) < 0)
        return fail(path + ": " + errorText(result));

    p.encoder = avcodec_alloc_context3(codec);
    if (!p.encoder) return fail(errorText(AVERROR(ENOMEM)));
    AVCodecContext* e = p.encoder;
    e->width = width;
    e->height = height;
    e->time_base = AVRational{m_rate.den, m_rate.num};
    e->framerate = AVRational{m_rate.num, m_rate.den};
    e->pix_fmt = pixelFormat(entry->id, width, height);
    e->thread_count = settings.threads;
    tagColours(e, entry->id);
    applyQuality(e, entry->id, settings.quality);
    if (p.format->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((result = avcodec_open2(e, codec, nullptr)) < 0)
        return fail(formatEncoderRefusal(codec->name, width, height, result));
    p.stream = avformat_new_stream(p.format, nullptr);
    if (!p.stream || avcodec_parameters_from_context(p.stream->codecpar, e) < 0)
        return fail(errorText(AVERROR(ENOMEM)));
    p.stream->time_base = e->time_base;
    p.stream->avg_frame_rate = p.stream->r_frame_rate = e->framerate;

    if (p.sound && !p.sound->addStream(p.format, container == VideoContainer::Mp4 ||
                                                         container == VideoContainer::Mov
                                                     ? SoundCodec::Aac
                                                     : SoundCodec::Opus))
        return fail(settings.soundPath + ": " + p.sound->error());
    if (p.sound && settings.firstFrame > 0 &&
        !p.sound->skip(int64_t{settings.firstFrame} * m_rate.den, m_rate.num))
        return fail(settings.soundPath + ": " + p.sound->error());

    p.convert = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, e->pix_fmt,
                               SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!p.convert) return fail("the frames cannot be converted for " + std::string(codec->name));
    if (!isRgb(entry->id)) {
        // The samples follow the matrix and the range the stream is tagged with.
        const int* coefficients =
            sws_getCoefficients(e->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601);
        sws_setColorspaceDetails(p.convert, coefficients, 1, coefficients,
                                 e->color_range == AVCOL_RANGE_JPEG ? 1 : 0, 0, 1 << 16, 1 << 16);
    }
    p.frame = av_frame_alloc();
    p.packet = av_packet_alloc();
    if (!p.frame || !p.packet) return fail(errorText(AVERROR(ENOMEM)));
    p.frame->format = e->pix_fmt;
    p.frame->width = width;
    p.frame->height = height;
    // Some encoders (ProRes) take the tags from each frame, not the stream.
    p.frame->color_primaries = e->color_primaries;
    p.frame->color_trc = e->color_trc;
    p.frame->colorspace = e->colorspace;
    p.frame->color_range = e->color_range;
    if ((result = av_frame_get_buffer(p.frame, 0)) < 0) return fail(errorText(result));

    AVDictionary* options = nullptr;
    // MP4 players start before the whole file has arrived; both QuickTime
    // forms carry the colour tags in their own atom too, not only in the
    // codec's bitstream (ProRes has none there).
    if (container == VideoContainer::Mp4)
        av_dict_set(&options, "movflags", "+faststart+write_colr", 0);
    else if (container == VideoContainer::Mov)
        av_dict_set(&options, "movflags", "+write_colr", 0);
    result = avformat_write_header(p.format, &options);
    av_dict_free(&options);
    if (result < 0)
        return fail("the " + std::string(p.format->oformat->name) + " writer refuses the " +
                    codec->name + " stream (" + errorText(result) + ")");
    return true;
}

bool FfmpegVideoWriter::writeFrame(const uint8_t* bottomUpBgr) {
    if (!m_parts) return false;
    Parts& p = *m_parts;
    int result = av_frame_make_writable(p.frame);
    if (result < 0) return fail(errorText(result));
    // A negative stride reads the bottom-up rows top row first. The top row
    // is the last one in memory: it goes through a padded copy, the rest
    // straight from the frame (their over-reads land in the next row).
    const int rowBytes = m_width * 3;
    const uint8_t* topRow = bottomUpBgr + static_cast<ptrdiff_t>(m_height - 1) * rowBytes;
    p.lastRow.resize(static_cast<size_t>(rowBytes) + 64);
    std::memcpy(p.lastRow.data(), topRow, static_cast<size_t>(rowBytes));
    const int sourceStride[1] = {-rowBytes};
    const uint8_t* top[1] = {p.lastRow.data()};
    sws_scale(p.convert, top, sourceStride, 0, 1, p.frame->data, p.frame->linesize);
    if (m_height > 1) {
        const uint8_t* rest[1] = {topRow - rowBytes};
        sws_scale(p.convert, rest, sourceStride, 1, m_height - 1, p.frame->data, p.frame->linesize);
    }
    p.frame->pts = m_frames;
    if ((result = avcodec_send_frame(p.encoder, p.frame)) < 0) return fail(errorText(result));
    if (!drain(false)) return false;
    ++m_frames;
    // The sound keeps pace with the pictures, so the muxer interleaves
    // them without holding the whole video back.
    if (p.sound && !p.sound->writeUntil(int64_t{m_frames} * m_rate.den, m_rate.num))
        return fail(p.sound->error());
    return true;
}

bool FfmpegVideoWriter::drain(bool flush) {
    Parts& p = *m_parts;
    if (flush) avcodec_send_frame(p.encoder, nullptr);
    for (;;) {
        int result = avcodec_receive_packet(p.encoder, p.packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
        if (result >= 0) {
            av_packet_rescale_ts(p.packet, p.encoder->time_base, p.stream->time_base);
            p.packet->stream_index = p.stream->index;
            result = av_interleaved_write_frame(p.format, p.packet);
        }
        if (result < 0) return fail(errorText(result));
    }
}

bool FfmpegVideoWriter::finish() {
    if (!m_parts) return false;
    Parts& p = *m_parts;
    if (!drain(true)) return false;
    if (p.sound && !p.sound->finish(int64_t{m_frames} * m_rate.den, m_rate.num))
        return fail(p.sound->error());
    int result = av_write_trailer(p.format);
    if (result >= 0) {
        avio_flush(p.format->pb);
        result = p.format->pb->error;
    }
    if (result >= 0) result = avio_closep(&p.format->pb);
    if (result < 0) return fail(errorText(result));
    // Only a file whose index has been written takes its name.
    if (!m_file.commit()) return fail(fileErrorText(errno));
    m_parts.reset();
    return true;
}

} // namespace vortigo
