// libFuzzer target: the AVI background reader (FFmpeg) on any bytes, fed from
// memory through a custom I/O context: open, then frames in order, a frame
// far ahead and a jump back.
// Build (from the repository root):
// clang-format off
//   clang++-14 -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. tests/fuzz/fuzz_video.cpp media/AviGrab.cpp media/BackgroundLimits.cpp platform/Platform.cpp platform/HeadlessPlatform.cpp platform/Waits.cpp $(pkg-config --libs libavformat libavcodec libswscale libavutil) -o build/fuzz_video
// clang-format on
#include "media/AviGrab.h"
#include "media/Backgrounds.h"
#include "platform/HeadlessPlatform.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace {

struct Memory {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int readPacket(void* opaque, uint8_t* buffer, int wanted) {
    Memory& m = *static_cast<Memory*>(opaque);
    const size_t n = std::min(static_cast<size_t>(wanted), m.size - m.pos);
    if (n == 0) return AVERROR_EOF;
    std::memcpy(buffer, m.data + m.pos, n);
    m.pos += n;
    return static_cast<int>(n);
}

int64_t seek(void* opaque, int64_t offset, int whence) {
    Memory& m = *static_cast<Memory*>(opaque);
    if (whence == AVSEEK_SIZE) return static_cast<int64_t>(m.size);
    int64_t target = offset;
    if ((whence & 3) == SEEK_CUR) target += static_cast<int64_t>(m.pos);
    if ((whence & 3) == SEEK_END) target += static_cast<int64_t>(m.size);
    if (target < 0 || target > static_cast<int64_t>(m.size)) return -1;
    m.pos = static_cast<size_t>(target);
    return target;
}

} // namespace

// Records the reader's message boxes; emptied after each input, so the
// fuzzer's leak check sees every allocation of an input freed.
vortigo::HeadlessPlatform g_headless;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    vortigo::setPlatform(&g_headless);
    vortigo::setMaxBackgroundSize(256);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Memory memory{data, size, 0};
    constexpr int BUFFER = 4096;
    auto* buffer = static_cast<uint8_t*>(av_malloc(BUFFER));
    AVIOContext* io = avio_alloc_context(buffer, BUFFER, 0, &memory, readPacket, nullptr, seek);
    if (!io) {
        av_free(buffer);
        return 0;
    }
    {
        vortigo::AVIGrab reader;
        if (reader.openStream(vortigo::WindowId::None, io)) {
            std::vector<uint8_t> pixels(static_cast<size_t>(reader.frameFormat.width) *
                                        reader.frameFormat.height * 4);
            int32_t counter = 0;
            reader.targetPixels = pixels.data();
            reader.frameCounter = &counter;
            for (int32_t jump : {-1, -1, -1, 40, 0, -1})
                if (reader.isOpen) {
                    if (jump >= 0) counter = jump;
                    reader.nextFrame();
                }
        }
    }
    av_freep(&io->buffer);
    avio_context_free(&io);
    g_headless.clearRecords();
    return 0;
}
