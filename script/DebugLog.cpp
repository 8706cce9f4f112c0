#include "script/DebugLog.h"

#include "core/ScriptShared.h"

#include <cstring>
#include <mutex>

namespace vortigo {
namespace {

std::mutex g_flushMutex; // held only while copying text, never across a script call

} // namespace

bool appendToLog(char* log, const char* text, int capacity) {
    if (!log || !text || capacity <= 0) return false;
    const size_t textLength = std::strlen(text);
    if (textLength >= static_cast<size_t>(capacity)) return false;
    size_t logLength = strnlen(log, static_cast<size_t>(capacity));
    if (logLength >= static_cast<size_t>(capacity)) logLength = capacity - 1; // never trust the log
    if (logLength + textLength >= static_cast<size_t>(capacity)) {
        const size_t drop = std::min(logLength, textLength + 2);
        std::memmove(log, log + drop, logLength - drop);
        logLength -= drop;
    }
    std::memcpy(log + logLength, text, textLength + 1);
    return true;
}

void clearDebugLine() {
    std::lock_guard lock(g_flushMutex);
    scriptShared().scratchLine[0] = 0;
}

void flushDebugLine() {
    ScriptShared& blocks = scriptShared();
    std::lock_guard lock(g_flushMutex);
    if (blocks.scratchLine[0] == 0) return;
    // The script may have filled every byte without a terminator.
    blocks.scratchLine[DEBUG_LINE_SIZE - 1] = 0;
    if (blocks.debugText) appendToLog(blocks.debugText.get(), blocks.scratchLine, TEXT_SIZE);
    blocks.scratchLine[0] = 0;
}

std::string debugTextCopy() {
    ScriptShared& blocks = scriptShared();
    std::lock_guard lock(g_flushMutex);
    return blocks.debugText ? std::string(blocks.debugText.get()) : std::string();
}

void appendDebugText(const char* text) {
    ScriptShared& blocks = scriptShared();
    std::lock_guard lock(g_flushMutex);
    if (blocks.debugText) appendToLog(blocks.debugText.get(), text, TEXT_SIZE);
}

} // namespace vortigo
