#include "core/RunState.h"

#include "platform/Waits.h"

#include <cstdio>
#include <cstdlib>

namespace vortigo {

namespace {

#ifndef NDEBUG
[[noreturn]] void refuseMove(RunPhase from, RunPhase to) {
    std::fprintf(stderr,
                 "vortigo: run state moved from %s to %s, which is not an allowed move; "
                 "see the table in core/RunState.h and move through a phase it lists\n",
                 runPhaseName(from), runPhaseName(to));
    std::abort();
}
#endif

void checkMove(RunPhase from, RunPhase to) {
#ifndef NDEBUG
    if (!runMoveAllowed(from, to)) refuseMove(from, to);
#else
    (void)from;
    (void)to;
#endif
}

} // namespace

const char* runPhaseName(RunPhase phase) {
    switch (phase) {
    case RunPhase::Stopped:
        return "Stopped";
    case RunPhase::Drawing:
        return "Drawing";
    case RunPhase::Parked:
        return "Parked";
    case RunPhase::AwaitingAdvance:
        return "AwaitingAdvance";
    case RunPhase::HeldByFailure:
        return "HeldByFailure";
    case RunPhase::ShuttingDown:
        return "ShuttingDown";
    }
    return "?";
}

bool runMoveAllowed(RunPhase from, RunPhase to) {
    using P = RunPhase;
    if (from == to) return true;
    switch (from) {
    case P::Stopped:
        return to == P::Drawing || to == P::ShuttingDown;
    case P::Drawing:
        return to == P::Parked || to == P::HeldByFailure || to == P::ShuttingDown;
    case P::Parked:
        return to == P::AwaitingAdvance || to == P::Drawing || to == P::ShuttingDown;
    case P::AwaitingAdvance:
        return to == P::Drawing || to == P::Parked || to == P::ShuttingDown;
    case P::HeldByFailure:
        return to == P::Drawing || to == P::AwaitingAdvance || to == P::Parked ||
               to == P::ShuttingDown;
    case P::ShuttingDown:
        return to == P::Stopped;
    }
    return false;
}

void RunBit::store(bool value) {
    m_value.store(value, std::memory_order_release);
    notifyFlagChange();
}

bool RunState::running() const {
    const RunPhase p = phase();
    return p != RunPhase::Stopped && p != RunPhase::ShuttingDown;
}

bool RunState::held() const {
    const RunPhase p = phase();
    return p == RunPhase::Parked || p == RunPhase::AwaitingAdvance || p == RunPhase::HeldByFailure;
}

template <typename Next> bool RunState::moveWith(Next next) {
    RunPhase from = m_phase.load(std::memory_order_acquire);
    for (;;) {
        const RunPhase to = next(from);
        if (to == from) return false;
        checkMove(from, to);
        if (m_phase.compare_exchange_weak(from, to, std::memory_order_acq_rel,
                                          std::memory_order_acquire))
            break;
    }
    notifyFlagChange();
    return true;
}

void RunState::moveTo(RunPhase to) {
    const RunPhase from = m_phase.exchange(to, std::memory_order_acq_rel);
    checkMove(from, to);
    notifyFlagChange();
}

bool RunState::moveFrom(RunPhase from, RunPhase to) {
    return moveWith([&](RunPhase now) { return now == from ? to : now; });
}

void RunState::park() {
    moveWith([](RunPhase now) {
        const bool movable = now == RunPhase::Drawing || now == RunPhase::AwaitingAdvance ||
                             now == RunPhase::HeldByFailure;
        return movable ? RunPhase::Parked : now;
    });
}

bool RunState::holdAfterFailure() {
    return moveFrom(RunPhase::Drawing, RunPhase::HeldByFailure);
}

bool RunState::release() {
    return moveWith([](RunPhase now) {
        const bool held = now == RunPhase::Parked || now == RunPhase::AwaitingAdvance ||
                          now == RunPhase::HeldByFailure;
        return held ? RunPhase::Drawing : now;
    });
}

bool RunState::awaitAdvance() {
    return moveWith([](RunPhase now) {
        const bool parked = now == RunPhase::Parked || now == RunPhase::HeldByFailure;
        return parked ? RunPhase::AwaitingAdvance : now;
    });
}

void RunState::advanceDeclined() {
    moveFrom(RunPhase::AwaitingAdvance, RunPhase::Parked);
}

void RunState::reset() {
    m_phase.store(RunPhase::Stopped, std::memory_order_release);
    compileRequest.clear();
    resizeRequest.clear();
    runAfterCompile.clear();
    scriptReady.clear();
    buffersReady.clear();
    advanceOwed = false;
}

RunState& runState() {
    static RunState run;
    return run;
}

} // namespace vortigo
