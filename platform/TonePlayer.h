// Beeps with their pitch and length: a generated sine tone played through the
// PulseAudio simple API (the PipeWire and PulseAudio servers of the Linux
// desktops both take it). The library is loaded at run time, so a machine
// without it, or without a sound server, still runs everything: the tone
// then falls back to the desktop bell.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vortigo {

// A mono, signed 16-bit sine of `hz` for `ms` at `sampleRate`, at a moderate
// level, faded in and out over a few milliseconds so that it does not click.
// Empty when hz or ms is not positive; hz is kept below half the sample rate
// and ms to 10 seconds.
std::vector<int16_t> toneSamples(int hz, int ms, int sampleRate);

class TonePlayer {
  public:
    static constexpr int SAMPLE_RATE = 48000;
    // Tones waiting beyond this many are dropped: a burst of beeps must not
    // keep the speaker busy long after it ended.
    static constexpr size_t MAX_WAITING = 4;

    // `bell` stands in for a tone that cannot be played; it is called on the
    // sound thread and must return at once. `library` and `server` (empty:
    // the desktop's own) name where the tones go.
    explicit TonePlayer(std::function<void()> bell, std::string library = "libpulse-simple.so.0",
                        std::string server = {});
    // Drops the waiting tones and waits a moment for the one playing; a
    // sound thread that hangs in the library is left behind, never killed.
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    // Any thread; returns at once. The sound thread starts with the first tone.
    void play(int hz, int ms);
    // Waits up to `limitMs` until every tone asked for has played or rung
    // the bell; true when it has.
    bool waitIdle(int limitMs);

  private:
    struct Shared;
    static void soundThread(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> m_shared;
};

} // namespace vortigo
