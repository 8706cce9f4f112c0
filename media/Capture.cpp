#include "media/Capture.h"

#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/ProjectFiles.h"
#include "media/Stills.h"
#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <strings.h>

namespace vortigo {
namespace {

constexpr int TGA_MAX_SIZE = 65535;

std::mutex g_chooserMutex;
CompressionChooser g_chooser;

bool chooseCompression(CompressionChoice& choice) {
    CompressionChooser chooser;
    {
        std::lock_guard lock(g_chooserMutex);
        chooser = g_chooser;
    }
    return chooser && chooser(choice);
}

void message(WindowId owner, const std::string& text, const char* caption) {
    platform().messageBox(owner, text, caption, MsgButtons::Ok, MsgIcon::Error);
}

Capture g_capture;

} // namespace

void setCompressionChooser(CompressionChooser chooser) {
    std::lock_guard lock(g_chooserMutex);
    g_chooser = std::move(chooser);
}

Capture& theCapture() {
    return g_capture;
}

void finishCapture() {
    captureView().setCapturing(false);
    theCapture().finish();
}

void captureFinishedFrame(const uint8_t* pixels) {
    if (!captureView().capturing()) return;
    if (theCapture().captureFrame(pixels)) return;
    captureView().setCapturing(false);
    cameraView().flightMode = FLIGHT_STOPPED;
    platform().beep(1000, 100);
    // The Trace window formats its status line itself, now showing "cap:off".
    platform().postMessage(WindowMessage{WindowId::Trace, MSG_STATUS_LINE, 0, 0});
}

Capture::Capture() = default;

Capture::~Capture() {
    finish();
}

std::string Capture::aviFileName() const {
    return fileIndex == 0 ? formatC("%s.AVI", baseName) : formatC("%s%i.AVI", baseName, fileIndex);
}

std::string Capture::currentFileName() const {
    if (isAvi) return aviFileName();
    return formatC("%s%i.tga", baseName, frameCount > 0 ? frameCount - 1 : 0);
}

void Capture::start(WindowId ownerWindow, const char* outputName, int frameWidth, int frameHeight,
                    int framesPerSecond, int frameLimit, const char* audio) {
    start(ownerWindow, outputName, frameWidth, frameHeight, FrameRate{framesPerSecond, 1},
          frameLimit, audio);
}

void Capture::start(WindowId ownerWindow, const char* outputName, int frameWidth, int frameHeight,
                    FrameRate framesPerSecond, int frameLimit, const char* audio) {
    if (!framesPerSecond.valid()) return;
    if (isActive()) finish();
    // Cut short, the name would lose its extension and the frames would go
    // elsewhere, in another format.
    if (outputName && std::strlen(outputName) >= sizeof baseName) {
        message(ownerWindow,
                formatC("The output name is longer than %i bytes: %s", PATH_SIZE - 1, outputName),
                "Error");
        return;
    }
    width = frameWidth;
    height = frameHeight;
    owner = ownerWindow;
    rate = framesPerSecond;
    maxFrames = frameLimit;
    frameCount = 0;
    fileIndex = 0;
    std::snprintf(baseName, sizeof baseName, "%s", outputName ? outputName : "");

    const char* dot = std::strrchr(baseName, '.');
    isAvi = dot && strcasecmp(dot + 1, "AVI") == 0;
    if (isAvi) baseName[std::strlen(baseName) - 4] = 0;
    audioName = audio ? audio : "";

    if (width <= 0 || height <= 0) {
        message(owner, formatC("A frame of %i x %i pixels cannot be captured.", width, height),
                "Error");
        return;
    }
    if (isAvi) {
        if (!openAviFile()) return;
    } else {
        // The TGA header holds 16-bit sizes.
        if (width > TGA_MAX_SIZE || height > TGA_MAX_SIZE) {
            message(owner,
                    formatC("A frame of %i x %i pixels cannot be stored as TGA stills (at most "
                            "65535 x 65535).",
                            width, height),
                    "Error");
            return;
        }
        active.store(1, std::memory_order_release);
    }
    blurBuffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(width) * height * 3]);
}

bool Capture::openAviFile() {
    const std::string path = aviFileName();
    writeFailed = false;
    const AviOpenError created = aviFile.create(path);
    if (created == AviOpenError::FileOpen) {
        message(owner, "Error opening AVI file for write. Check path and permissions.",
                "AVI Error");
        releaseStreams();
        return false;
    }
    if (created == AviOpenError::Other) {
        showSystemError(aviFile.lastError());
        releaseStreams();
        return false;
    }
    if (created == AviOpenError::VideoStream) {
        releaseStreams();
        message(owner, "Could not create uncompressed AVI stream for selected window.",
                "AVI Error.");
        return false;
    }
    if (fileIndex == 0) {
        options = &compressOptions;
        if (!chooseCompression(compressOptions)) {
            message(owner, "Could not obtain AVI options.", "Error AVI.");
            aviFile.abandon();
            releaseStreams();
            return false;
        }
    }
    const AviOpenError started = aviFile.startVideo(width, height, rate, compressOptions);
    if (started != AviOpenError::None) {
        aviFile.abandon();
        releaseStreams();
        message(owner,
                started == AviOpenError::Encoder
                    ? "Could not create compressed AVI stream. Select a different codec."
                    : "Could not set compressed format on AVI stream. Select another codec.",
                "Error AVI.");
        return false;
    }
    active.store(1, std::memory_order_release);
    return true;
}

bool Capture::releaseStreams() {
    active.store(0, std::memory_order_release);
    if (!aviFile.isOpen()) return false;
    const std::string path = aviFileName();
    if (aviFile.close()) return true;
    // A write that failed has said so already.
    if (!writeFailed) reportWriteFailure("AVI", path, aviFile.lastError());
    return false;
}

bool Capture::captureFrame(const uint8_t* pixels) {
    if (!isActive() || !pixels) return false;
    frame = pixels;
    if (captureView().useMotionBlur && blurBuffer) {
        uint8_t* blur = blurBuffer.get();
        const size_t bytes = static_cast<size_t>(width) * height * 3;
        for (size_t i = 0; i < bytes; ++i)
            blur[i] = static_cast<uint8_t>((3 * blur[i] + pixels[i]) >> 2);
    }
    const bool written = isAvi ? writeAviFrame() : writeTgaStill();
    if (!written) {
        finish();
        return false;
    }
    return true;
}

const uint8_t* Capture::writtenFrame() const {
    return captureView().useMotionBlur && blurBuffer ? blurBuffer.get() : frame;
}

bool Capture::writeAviFrame() {
    if (!aviFile.isOpen()) return false;
    const size_t bytes = static_cast<size_t>(width) * height * 3;
    if (frameCount == 0) {
        // The first frame of each file is written as it is and restarts the blur.
        if (captureView().useMotionBlur && blurBuffer) std::memcpy(blurBuffer.get(), frame, bytes);
        if (!aviFile.writeFrame(frame, true)) {
            reportWriteFailure("AVI", aviFileName(), aviFile.lastError());
            return false;
        }
        frameCount = 1;
        return true;
    }
    if (!aviFile.writeFrame(writtenFrame(), false)) {
        reportWriteFailure("AVI", aviFileName(), aviFile.lastError());
        return false;
    }
    ++frameCount;
    // Each file holds maxFrames + 1 frames.
    if (maxFrames > 0 && frameCount > maxFrames) {
        releaseStreams();
        frameCount = 0;
        ++fileIndex;
        return openAviFile();
    }
    return true;
}

bool Capture::writeTgaStill() {
    const int n = frameCount++;
    const std::string path = formatC("%s%i.tga", baseName, n);
    if (n == 0 && captureView().useMotionBlur && blurBuffer)
        std::memcpy(blurBuffer.get(), frame, static_cast<size_t>(width) * height * 3);
    errno = 0;
    if (writeTgaFile(path, writtenFrame(), width, height)) return true;
    reportWriteFailure("TGA", path, errno ? fileErrorText(errno) : "");
    return false;
}

void Capture::finish() {
    if (isActive() && isAvi) {
        const std::string path = aviFileName();
        const bool completed = releaseStreams();
        if (!audioName.empty()) {
            if (completed)
                addSoundTrack(path);
            else
                message(owner, "Could not save audio file as AVI stream.", "AVI Error");
        }
        options = nullptr;
    }
    blurBuffer.reset();
    active.store(0, std::memory_order_release);
}

void Capture::addSoundTrack(const std::string& aviPath) {
    WavSound sound;
    const WavResult read = readWavFile(audioName.c_str(), sound);
    switch (read.status) {
    case WavStatus::Ok:
        break;
    case WavStatus::NotRiff:
        message(owner, "Not a valid wave file format - no RIFF.", "Error AVI.");
        return;
    case WavStatus::NotWave:
        message(owner, "No wave file header found.", "Error AVI.");
        return;
    case WavStatus::NoFmt:
        message(owner, "Missing fmt_ field in wave file.", "Error AVI.");
        return;
    case WavStatus::NotPcm:
        message(owner, "Only PCM wave files can be used.", "Error AVI.");
        return;
    case WavStatus::Unreadable:
        message(owner, "The sound track could not be read: " + read.reason + ".", "Error AVI.");
        return;
    case WavStatus::CannotOpen:
        message(owner, "Could not save audio file as AVI stream.", "AVI Error");
        return;
    }
    if (sound.data.empty()) {
        message(owner, "Could not save audio file as AVI stream.", "AVI Error");
        return;
    }
    std::string why;
    switch (addPcmTrack(aviPath, sound, why)) {
    case AudioTrackError::None:
    case AudioTrackError::Stream:
        break;
    case AudioTrackError::Format:
        message(owner, "Failed to set audio format.", "AVI Error");
        break;
    case AudioTrackError::Write:
        message(owner, "Failed to write audio to stream.", "AVI Error");
        break;
    }
}

void Capture::showSystemError(const std::string& text) {
    message(owner, text.empty() ? "An unknown error occured." : text, "Error");
}

void Capture::reportWriteFailure(const char* kind, const std::string& path,
                                 const std::string& why) {
    writeFailed = true;
    message(owner,
            formatC("Could not write the %s file %s%s%s.", kind, path.c_str(),
                    why.empty() ? "" : ": ", why.c_str()),
            std::strcmp(kind, "AVI") == 0 ? "AVI Error" : "Error");
}

} // namespace vortigo
