#include "script/CompileNotes.h"

#include "script/DebugLog.h"

#include <atomic>
#include <mutex>

namespace vortigo {
namespace {

std::atomic<bool> g_requested{false};
std::atomic<bool> g_quiet{false}; // the compile in progress
std::mutex g_lock;
std::string g_first;

} // namespace

void setQuietCompile(bool quiet) {
    g_requested.store(quiet);
}

void beginCompile() {
    g_quiet.store(g_requested.exchange(false));
}

bool noteCompileError(const std::string& caption, const std::string& text) {
    if (!g_quiet.load()) return false;
    const std::string note = caption + ": " + text;
    appendDebugText((note + "\r\n").c_str());
    const std::lock_guard<std::mutex> hold(g_lock);
    if (g_first.empty()) g_first = note;
    return true;
}

std::string takeCompileNote() {
    const std::lock_guard<std::mutex> hold(g_lock);
    std::string note;
    note.swap(g_first);
    return note;
}

} // namespace vortigo
