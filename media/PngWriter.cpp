#include "media/PngWriter.h"

#include "media/PpmWriter.h"
#include "platform/AtomicFile.h"

#include <cerrno>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

namespace vortigo {
namespace {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace

bool writePng(const std::string& path, const uint8_t* bottomUpBgr, int width, int height,
              std::string& error) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) {
        error = "this FFmpeg has no PNG encoder";
        return false;
    }
    std::unique_ptr<AVCodecContext, CodecContextFree> context(avcodec_alloc_context3(codec));
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    if (!context || !frame || !packet) {
        error = "out of memory";
        return false;
    }
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_RGB24;
    context->time_base = AVRational{1, 25};
    int code = avcodec_open2(context.get(), codec, nullptr);
    if (code < 0) {
        error = "the PNG encoder refused the frame: " + ffmpegError(code);
        return false;
    }
    std::vector<uint8_t> rgb = topDownRgb(bottomUpBgr, width, height);
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = width;
    frame->height = height;
    frame->data[0] = rgb.data();
    frame->linesize[0] = width * 3;
    code = avcodec_send_frame(context.get(), frame.get());
    if (code >= 0) code = avcodec_send_frame(context.get(), nullptr);
    if (code >= 0) code = avcodec_receive_packet(context.get(), packet.get());
    if (code < 0) {
        error = "the PNG encoder failed: " + ffmpegError(code);
        return false;
    }
    if (!writeWholeFile(path, packet->data, static_cast<size_t>(packet->size))) {
        error = "cannot write " + path + ": " + fileErrorText(errno);
        return false;
    }
    return true;
}

} // namespace vortigo
