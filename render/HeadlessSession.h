// Rendering without any window: the real render and post-processing threads
// on the headless platform. Tests, benchmarks and batch rendering use it.
//
// Threads: call from one thread (it plays the user-interface thread).
#pragma once

#include "render/FramePipeline.h"

#include <atomic>
#include <functional>
#include <string>

namespace vortigo {

class HeadlessPlatform;

struct HeadlessRun {
    // Where the options file and the default texts are read from; empty
    // keeps the program directory.
    std::string programDirectory;
    // Applied after the state is loaded and before anything is compiled.
    std::function<void()> configure;
    // Called after `configure`: a text it returns, else the first message
    // shown since the start, ends the run there as its error, before
    // anything is compiled or drawn.
    std::function<std::string()> check;
    // The script runs for exactly this many frames.
    int frames = 1;
    int flightMode = 1; // below 0: the one `configure` set stays
    // Each finished frame, on the post-processing thread; index from 0.
    // No frame is delivered from the one during which the script faulted
    // (or any other message was raised) on: it and those after it are
    // dropped, so an output holds only frames the script drew whole.
    std::function<void(const FrameView&, int index)> onFrame;
    int timeoutMs = 60000;
    // A replay that reaches the end of its recording stops the flight: end
    // the run there (ok, with fewer frames) instead of waiting for more.
    bool endWithTheFlight = false;
    // Set (from a signal handler, say) to stop early: the frame being drawn
    // is finished and delivered, no further frame is drawn, and the run
    // ends with `stopped`.
    const std::atomic<int>* stop = nullptr;
    // Every frame shows the same moment: no motion step between frames (the
    // tiles of a poster).
    bool holdCamera = false;
    // Frames of 16 bits a channel (FrameView::sampleBytes 2), for deep
    // stills.
    bool deep = false;
};

struct HeadlessResult {
    bool ok = false;
    int framesDelivered = 0;
    double firstFrameMs = 0;  // from the compile request to the first finished frame
    double totalMs = 0;       // from the compile request to the last wanted frame
    std::string error;        // what went wrong, or the first message box
    bool flightEnded = false; // endWithTheFlight ended the run early
    bool stopped = false;     // `stop` ended the run early (ok stays false)
};

// Loads the state, starts the workers, compiles, allocates and draws
// `frames` frames with `flightMode`, then runs the exit path.
HeadlessResult renderHeadless(const HeadlessRun& run);

} // namespace vortigo
