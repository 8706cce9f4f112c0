// Where the render thread stands, as one value, and the requests beside it.
//
// Phases and their allowed moves (a move not in this table is a bug; debug
// builds abort with both names):
//
//   Stopped          -> Drawing            the worker start releases the thread
//                    -> ShuttingDown       the exit path, nothing started
//   Drawing          -> Parked             a frame was handed over, or S
//                    -> HeldByFailure      a compile or allocation failed
//                    -> ShuttingDown
//   Parked           -> AwaitingAdvance    the render thread asks for the next frame
//                    -> Drawing            the advance (motion step) releases it
//                    -> ShuttingDown
//   AwaitingAdvance  -> Drawing            the Trace window released the frame
//                    -> Parked             it did not (flight stopped), or S
//                    -> ShuttingDown
//   HeldByFailure    -> Drawing            the next success, when nothing else holds it
//                    -> AwaitingAdvance    a Run after a good compile
//                    -> Parked             the reset to defaults (its own hold stays)
//                    -> ShuttingDown
//   ShuttingDown     -> Stopped            a fresh start after an earlier exit path
//
// Drawing means released: a frame is drawn as soon as the script and the
// frame buffers are ready. Parked, AwaitingAdvance and HeldByFailure are the
// held phases: no frame is drawn until the advance (or a success) releases
// it, so the user-interface thread may change what the drawing reads.
// HeldByFailure is a hold that only a failure made (the thread was released
// before): the next success that makes drawing possible lifts it, so the
// frame the user was owed still comes.
//
// Writers: the worker start and the exit path (user-interface thread), the
// render thread (hand-over, failures, its advance request), the
// user-interface thread's advance handler and S key. Moves that depend on
// the current phase are compare-and-swap, so a late move of one thread never
// undoes the shutdown of another. Each move is a release store and every
// read an acquire load, so a move publishes what was written before it (the
// motion step's camera before Drawing, for example), and each move wakes the
// threads inside waitUntil() (platform/Waits.h).
//
// Beside the phase, bits that are not phases (set and cleared on their own,
// same ordering and wake-up):
//   compileRequest, resizeRequest  user-interface thread raises, render
//                                  thread clears when it takes the request
//   runAfterCompile                user-interface thread: the compile that
//                                  follows is a Run (an advance follows it)
//   scriptReady, buffersReady      render thread sets after a good compile or
//                                  allocation; the user-interface thread
//                                  clears them while the thread is held
// and advanceOwed, render thread only: a Run whose compile ended before the
// frame buffers existed gets its advance once they do.
#pragma once

#include "platform/Waits.h"

#include <atomic>
#include <cstdint>

namespace vortigo {

enum class RunPhase : uint8_t {
    Stopped,
    Drawing,
    Parked,
    AwaitingAdvance,
    HeldByFailure,
    ShuttingDown
};

const char* runPhaseName(RunPhase phase);

// True when the table above lists the move (a phase may always stay).
bool runMoveAllowed(RunPhase from, RunPhase to);

// A bit with release/acquire order that wakes the waiters when it changes.
class RunBit {
  public:
    bool get() const { return m_value.load(std::memory_order_acquire); }
    operator bool() const { return get(); }
    void set() { store(true); }
    void clear() { store(false); }
    void store(bool value);

  private:
    std::atomic<bool> m_value{false};
};

class RunState {
  public:
    RunPhase phase() const { return m_phase.load(std::memory_order_acquire); }
    // The render thread is started and not told to end.
    bool running() const;
    // Parked, AwaitingAdvance or HeldByFailure.
    bool held() const;
    bool drawing() const { return phase() == RunPhase::Drawing; }
    bool shuttingDown() const { return phase() == RunPhase::ShuttingDown; }

    // Moves to `to` whatever the phase is; the move must be in the table.
    void moveTo(RunPhase to);
    // Moves to `to` only while the phase is `from`; false when it was not.
    bool moveFrom(RunPhase from, RunPhase to);

    // The named moves; each does nothing from a phase it does not name.
    void park();             // Drawing, AwaitingAdvance, HeldByFailure -> Parked
    bool holdAfterFailure(); // Drawing -> HeldByFailure; true when it moved
    bool release();          // any held phase -> Drawing; true when it moved
    bool awaitAdvance();     // Parked, HeldByFailure -> AwaitingAdvance
    void advanceDeclined();  // AwaitingAdvance -> Parked

    RunBit compileRequest, resizeRequest, runAfterCompile, scriptReady, buffersReady;
    bool advanceOwed = false; // render thread only

    // Back to a fresh process (tests, no worker running).
    void reset();

  private:
    // Moves from whatever the phase is to what `next` says for it; `next`
    // returns the same phase for "no move".
    template <typename Next> bool moveWith(Next next);

    std::atomic<RunPhase> m_phase{RunPhase::Stopped};
};

RunState& runState();

} // namespace vortigo
