#include "media/AviGrab.h"

#include "core/ProjectTypes.h"
#include "media/Backgrounds.h"

#include <algorithm>
#include <climits>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace vortigo {

// Everything FFmpeg hands out for one open file; freeing it releases all.
struct AVIGrab::Media {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwsContext* scaler = nullptr;
    int scaledWidth = 0, scaledHeight = 0, scaledFormat = -1; // what `scaler` was made for
    uint8_t* rows = nullptr; // the scaler's output, rowStride bytes a row, allocated at open
    int rowStride = 0;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    // Index of the frame `frame` holds, or -1; the next request for it or
    // its successor needs no seek.
    int64_t heldIndex = -1;
    bool haveFrame = false;
    bool drained = false; // the end of the file was handed to the decoder

    Media() = default;
    Media(const Media&) = delete;
    Media& operator=(const Media&) = delete;
    ~Media() {
        sws_freeContext(scaler);
        av_free(rows);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

namespace {

constexpr const char* OPEN_ERROR = "Error opening AVI file for read. Check path and permissions.";
constexpr int MAX_STREAMS = 4;

AVIGrab g_readers[LAYER_COUNT];

void report(WindowId owner, const char* text) {
    platform().messageBox(owner, text, "AVI Error", MsgButtons::Ok, MsgIcon::Error);
}

bool sizeUsable(int width, int height) {
    const int limit = maxBackgroundSize();
    return width > 0 && height > 0 && width <= limit && height <= limit;
}

} // namespace

AVIGrab::AVIGrab() = default;

AVIGrab::~AVIGrab() {
    close();
}

AVIGrab& videoReader(int layer) {
    return g_readers[layer];
}

bool AVIGrab::open(WindowId owner, const char* path) {
    return openInput(owner, path ? path : "", nullptr);
}

bool AVIGrab::openStream(WindowId owner, AVIOContext* io) {
    return openInput(owner, "", io);
}

bool AVIGrab::openInput(WindowId owner, const char* path, AVIOContext* io) {
    close();
    ownerWindow = owner;
    std::strncpy(videoPath, path, sizeof videoPath - 1);
    videoPath[sizeof videoPath - 1] = 0;
    endFrame = 0;
    currentFrame = 0;

    auto media = std::make_unique<Media>();
    media->format = avformat_alloc_context();
    if (!media->format) {
        report(owner, OPEN_ERROR);
        return false;
    }
    if (io) {
        media->format->pb = io;
        media->format->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    // Only the AVI demuxer: a file named .avi is read as one or refused.
    if (avformat_open_input(&media->format, io ? nullptr : path, av_find_input_format("avi"),
                            nullptr) < 0) {
        // avformat_open_input frees the context when it fails.
        media->format = nullptr;
        report(owner, OPEN_ERROR);
        return false;
    }

    const int streamCount = std::min<int>(static_cast<int>(media->format->nb_streams), MAX_STREAMS);
    for (int i = 0; i < streamCount; ++i) {
        AVStream* stream = media->format->streams[i];
        const AVCodecParameters* par = stream->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        const int fps =
            stream->time_base.num > 0 ? stream->time_base.den / stream->time_base.num : 0;

        // A stream whose pictures nothing here can decode into a background.
        const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
        if (!decoder || !sizeUsable(par->width, par->height)) {
            report(owner, "Bad Video Format");
            continue;
        }
        const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        const int64_t end = start + stream->nb_frames;
        if (stream->nb_frames <= 0 || start < 0 || end > INT_MAX) continue;

        AVCodecContext* codec = avcodec_alloc_context3(decoder);
        if (!codec) continue;
        codec->thread_count = 1;
        // Frames may not claim more than a background may hold, whatever
        // the stream's header said.
        const int64_t limit = maxBackgroundSize();
        codec->max_pixels = limit * limit;
        if (avcodec_parameters_to_context(codec, par) < 0 ||
            avcodec_open2(codec, decoder, nullptr) < 0) {
            avcodec_free_context(&codec);
            continue;
        }
        // The last usable stream wins, as with several video streams the
        // last one examined is the one shown.
        avcodec_free_context(&media->codec);
        media->codec = codec;
        // The rate of the stream shown, not of a later one that was skipped.
        videoFps = fps;
        endFrame = static_cast<int>(end);
        streamIndex = i;
        frameFormat.width = par->width;
        frameFormat.height = par->height;
        frameFormat.sizeImage = static_cast<uint32_t>(par->width) * par->height * 3;
        bytesPerPixel = 3;
    }
    if (!media->codec) {
        endFrame = 0;
        return false;
    }
    for (unsigned i = 0; i < media->format->nb_streams; ++i)
        media->format->streams[i]->discard =
            static_cast<int>(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    media->packet = av_packet_alloc();
    media->frame = av_frame_alloc();
    media->rowStride = (frameFormat.width * 4 + 63) & ~63;
    media->rows = static_cast<uint8_t*>(
        av_malloc(static_cast<size_t>(media->rowStride) * (frameFormat.height + 1)));
    if (!media->packet || !media->frame || !media->rows) return false;

    m_media = std::move(media);
    isOpen = true;
    return true;
}

void AVIGrab::close() {
    if (!isOpen) return;
    isOpen = false;
    m_media.reset();
}

bool AVIGrab::nextFrame() {
    if (!isOpen || !m_media || !targetPixels || !frameCounter || endFrame <= 0) return false;
    const int64_t step = std::max(divisor, 1);
    int64_t counter = *frameCounter;
    int64_t index = counter / step;
    ++counter;
    if (index == endFrame) {
        counter = 0;
        index = 0;
    } else if (index < 0 || index > endFrame) {
        // A counter restored from a project for a longer video: resume at
        // the same place of the loop instead of asking for a missing frame.
        index = ((index % endFrame) + endFrame) % endFrame;
        counter = index * step + 1;
    }
    *frameCounter = counter > INT32_MAX ? 0 : static_cast<int32_t>(counter);
    currentFrame = static_cast<int>(index);

    if (!decodeFrame(index)) {
        close();
        return false;
    }
    convert();
    return isOpen;
}

bool AVIGrab::decodeFrame(int64_t index) {
    Media& m = *m_media;
    if (m.haveFrame && index == m.heldIndex) return true;
    const bool following = index == m.heldIndex + 1 && !m.drained;
    if (!following) {
        // Any other frame: back to the key frame at or before it, then decode
        // forward.
        if (av_seek_frame(m.format, streamIndex, index, AVSEEK_FLAG_BACKWARD) < 0 &&
            av_seek_frame(m.format, streamIndex, 0, AVSEEK_FLAG_BACKWARD) < 0)
            return false;
        avcodec_flush_buffers(m.codec);
        m.drained = false;
        m.haveFrame = false;
        m.heldIndex = -1;
    }
    return receiveUntil(index);
}

bool AVIGrab::receiveUntil(int64_t index) {
    Media& m = *m_media;
    for (;;) {
        const int received = avcodec_receive_frame(m.codec, m.frame);
        if (received == 0) {
            int64_t shown = m.frame->best_effort_timestamp;
            if (shown == AV_NOPTS_VALUE) shown = m.heldIndex + 1;
            m.heldIndex = shown;
            m.haveFrame = true;
            if (shown >= index) return true;
            continue;
        }
        if (received != AVERROR(EAGAIN)) return false;
        if (m.drained) return false;
        if (av_read_frame(m.format, m.packet) < 0) {
            m.drained = true;
            avcodec_send_packet(m.codec, nullptr);
            continue;
        }
        if (m.packet->stream_index == streamIndex) {
            // A damaged packet is dropped; the next one may decode.
            avcodec_send_packet(m.codec, m.packet);
        }
        av_packet_unref(m.packet);
    }
}

void AVIGrab::convert() {
    Media& m = *m_media;
    const AVFrame* f = m.frame;
    const int width = frameFormat.width;
    const int height = frameFormat.height;
    if (f->width <= 0 || f->height <= 0 || f->format < 0) {
        close();
        return;
    }
    // One scaler for as long as the frames keep their size and format.
    // Full-range ("J") formats are handed over as their plain kin with the
    // range said separately, the way the scaler wants them.
    AVPixelFormat format = static_cast<AVPixelFormat>(f->format);
    bool fullRange = f->color_range == AVCOL_RANGE_JPEG;
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        format = AV_PIX_FMT_YUV420P;
        fullRange = true;
        break;
    case AV_PIX_FMT_YUVJ422P:
        format = AV_PIX_FMT_YUV422P;
        fullRange = true;
        break;
    case AV_PIX_FMT_YUVJ444P:
        format = AV_PIX_FMT_YUV444P;
        fullRange = true;
        break;
    case AV_PIX_FMT_YUVJ440P:
        format = AV_PIX_FMT_YUV440P;
        fullRange = true;
        break;
    case AV_PIX_FMT_YUVJ411P:
        format = AV_PIX_FMT_YUV411P;
        fullRange = true;
        break;
    default:
        break;
    }
    if (!m.scaler || m.scaledWidth != f->width || m.scaledHeight != f->height ||
        m.scaledFormat != f->format) {
        sws_freeContext(m.scaler);
        // Point sampling: the frame normally has the stream's size already,
        // and the unscaled paths do not look at the filter.
        m.scaler = sws_getContext(f->width, f->height, format, width, height, AV_PIX_FMT_BGRA,
                                  SWS_POINT, nullptr, nullptr, nullptr);
        if (!m.scaler) {
            close();
            return;
        }
        m.scaledWidth = f->width;
        m.scaledHeight = f->height;
        m.scaledFormat = f->format;
        int* inverse = nullptr;
        int* table = nullptr;
        int sourceRange = 0, targetRange = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(m.scaler, &inverse, &sourceRange, &table, &targetRange,
                                     &brightness, &contrast, &saturation) >= 0)
            sws_setColorspaceDetails(m.scaler, inverse, fullRange ? 1 : 0, table, 1, brightness,
                                     contrast, saturation);
    }
    // The scaler may write past the end of a row, so it writes into the
    // reader's own padded rows; they are copied into the layer's block
    // bottom row first, as the 24-bit video frames are stored.
    uint8_t* planes[4] = {m.rows, nullptr, nullptr, nullptr};
    const int strides[4] = {m.rowStride, 0, 0, 0};
    sws_scale(m.scaler, f->data, f->linesize, 0, f->height, planes, strides);
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y)
        std::memcpy(targetPixels + (height - 1 - y) * rowBytes,
                    m.rows + static_cast<size_t>(y) * m.rowStride, rowBytes);

    // The fourth byte is always 255, also when the video carries alpha.
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
    if (desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA)) {
        const size_t count = static_cast<size_t>(width) * height;
        for (size_t i = 0; i < count; ++i)
            targetPixels[i * 4 + 3] = 255;
    }
}

} // namespace vortigo
