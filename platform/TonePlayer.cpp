#include "platform/TonePlayer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <dlfcn.h>
#include <mutex>
#include <numbers>
#include <thread>
#include <utility>

namespace vortigo {
namespace {

constexpr int MAX_TONE_MS = 10000;
constexpr int FADE_MS = 5;
constexpr double LEVEL = 0.4; // of full scale: a signal, not an alarm

// The PulseAudio simple API as its header declares it; only the library is
// needed at run time, never its development files.
constexpr int PA_STREAM_PLAYBACK = 1;
constexpr int PA_SAMPLE_S16LE = 3;
struct PaSampleSpec {
    int format;
    uint32_t rate;
    uint8_t channels;
};
struct PaBufferAttr {
    uint32_t maxlength, tlength, prebuf, minreq, fragsize;
};
using PaSimpleNew = void* (*)(const char*, const char*, int, const char*, const char*,
                              const PaSampleSpec*, const void*, const PaBufferAttr*, int*);
using PaSimpleWrite = int (*)(void*, const void*, size_t, int*);
using PaSimpleDrain = int (*)(void*, int*);
using PaSimpleFree = void (*)(void*);

class PulseSimple {
  public:
    // The library stays loaded for the rest of the process: it starts
    // threads of its own, and unloading it buys nothing.
    explicit PulseSimple(const std::string& library) {
        void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        m_new = reinterpret_cast<PaSimpleNew>(dlsym(handle, "pa_simple_new"));
        m_write = reinterpret_cast<PaSimpleWrite>(dlsym(handle, "pa_simple_write"));
        m_drain = reinterpret_cast<PaSimpleDrain>(dlsym(handle, "pa_simple_drain"));
        m_free = reinterpret_cast<PaSimpleFree>(dlsym(handle, "pa_simple_free"));
    }

    // Plays the samples to their end; false when no server took them. A
    // stream of its own for each tone: an idle open stream would keep the
    // desktop's sound device awake.
    bool play(const std::string& server, const std::vector<int16_t>& samples) const {
        if (!m_new || !m_write || !m_drain || !m_free) return false;
        const PaSampleSpec spec{PA_SAMPLE_S16LE, TonePlayer::SAMPLE_RATE, 1};
        // A short target buffer, so the tone starts at once.
        const uint32_t tlength = TonePlayer::SAMPLE_RATE / 20 * sizeof(int16_t);
        const PaBufferAttr attr{UINT32_MAX, tlength, UINT32_MAX, UINT32_MAX, UINT32_MAX};
        int error = 0;
        void* stream = m_new(server.empty() ? nullptr : server.c_str(), "Vortigo",
                             PA_STREAM_PLAYBACK, nullptr, "Beep", &spec, nullptr, &attr, &error);
        if (!stream) return false;
        const bool played =
            m_write(stream, samples.data(), samples.size() * sizeof(int16_t), &error) >= 0 &&
            m_drain(stream, &error) >= 0;
        m_free(stream);
        return played;
    }

  private:
    PaSimpleNew m_new = nullptr;
    PaSimpleWrite m_write = nullptr;
    PaSimpleDrain m_drain = nullptr;
    PaSimpleFree m_free = nullptr;
};

} // namespace

std::vector<int16_t> toneSamples(int hz, int ms, int sampleRate) {
    if (hz <= 0 || ms <= 0 || sampleRate <= 0) return {};
    const double frequency = std::min(hz, (sampleRate - 1) / 2);
    const size_t count = static_cast<size_t>(sampleRate) * std::min(ms, MAX_TONE_MS) / 1000;
    const size_t fade =
        std::min<size_t>(static_cast<size_t>(sampleRate) * FADE_MS / 1000, count / 4);
    std::vector<int16_t> samples(count);
    for (size_t i = 0; i < count; ++i) {
        double gain = LEVEL * 32767;
        const size_t edge = std::min(i, count - 1 - i);
        // A raised-cosine ramp at both ends.
        if (edge < fade)
            gain *= 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(edge) /
                                         static_cast<double>(fade));
        const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(i) / sampleRate;
        samples[i] = static_cast<int16_t>(std::lround(gain * std::sin(phase)));
    }
    return samples;
}

// Shared by the player and its sound thread, which may outlive the player
// when the library hangs. `mutex` guards the fields below it; the bell rings
// under `bellMutex` alone, so that play() never waits for it.
struct TonePlayer::Shared {
    std::function<void()> bell; // set before the thread starts
    std::string library, server;
    std::mutex bellMutex;
    std::atomic<bool> stopping{false}; // set under both mutexes

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<int, int>> waiting; // hz, ms
    bool playing = false;
    bool finished = false;
    std::thread thread;
};

TonePlayer::TonePlayer(std::function<void()> bell, std::string library, std::string server)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->bell = std::move(bell);
    m_shared->library = std::move(library);
    m_shared->server = std::move(server);
}

TonePlayer::~TonePlayer() {
    {
        // Once this holds, no bell rings any more.
        std::lock_guard bellLock(m_shared->bellMutex);
        m_shared->stopping = true;
    }
    std::unique_lock lock(m_shared->mutex);
    m_shared->waiting.clear();
    m_shared->changed.notify_all();
    if (!m_shared->thread.joinable()) return;
    // Long enough for any beep the studio sounds.
    const bool ended = m_shared->changed.wait_for(lock, std::chrono::seconds(1),
                                                  [&] { return m_shared->finished; });
    std::thread thread = std::move(m_shared->thread);
    lock.unlock();
    if (ended)
        thread.join();
    else
        thread.detach();
}

void TonePlayer::play(int hz, int ms) {
    if (hz <= 0 || ms <= 0) return;
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->stopping || m_shared->waiting.size() >= MAX_WAITING) return;
    m_shared->waiting.emplace_back(hz, ms);
    if (!m_shared->thread.joinable())
        m_shared->thread = std::thread(&TonePlayer::soundThread, m_shared);
    m_shared->changed.notify_all();
}

bool TonePlayer::waitIdle(int limitMs) {
    std::unique_lock lock(m_shared->mutex);
    return m_shared->changed.wait_for(lock, std::chrono::milliseconds(limitMs), [&] {
        return m_shared->waiting.empty() && !m_shared->playing;
    });
}

void TonePlayer::soundThread(const std::shared_ptr<Shared>& shared) {
    const PulseSimple pulse(shared->library);
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->changed.wait(lock, [&] { return shared->stopping || !shared->waiting.empty(); });
        if (shared->stopping) break;
        const auto [hz, ms] = shared->waiting.front();
        shared->waiting.pop_front();
        shared->playing = true;
        lock.unlock();
        if (!pulse.play(shared->server, toneSamples(hz, ms, SAMPLE_RATE))) {
            std::lock_guard bellLock(shared->bellMutex);
            if (!shared->stopping && shared->bell) shared->bell();
        }
        lock.lock();
        shared->playing = false;
        shared->changed.notify_all();
    }
    shared->finished = true;
    shared->changed.notify_all();
}

} // namespace vortigo
