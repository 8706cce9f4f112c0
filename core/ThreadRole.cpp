#include "core/ThreadRole.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vortigo {
namespace {

thread_local ThreadRole t_role = ThreadRole::Unnamed;
std::atomic<std::thread::id> g_uiThread{};
std::atomic<std::thread::id> g_motionThread{};
std::atomic<OwnerViolationHandler> g_handler{nullptr};

} // namespace

void registerThreadRole(ThreadRole role) {
    t_role = role;
    if (role != ThreadRole::Ui) return;
    std::thread::id none{};
    g_uiThread.compare_exchange_strong(none, std::this_thread::get_id());
}

ThreadRole currentThreadRole() {
    return t_role;
}

const char* threadRoleName(ThreadRole role) {
    switch (role) {
    case ThreadRole::Ui:
        return "user-interface";
    case ThreadRole::Render:
        return "render";
    case ThreadRole::PostProcessing:
        return "post-processing";
    case ThreadRole::CaptureWorker:
        return "capture worker";
    default:
        return "unnamed";
    }
}

std::thread::id claimMotion() {
    return g_motionThread.exchange(std::this_thread::get_id());
}

void restoreMotion(std::thread::id previous) {
    g_motionThread.store(previous);
}

bool onMotionThread() {
    const std::thread::id owner = g_motionThread.load();
    return owner == std::thread::id{} || owner == std::this_thread::get_id();
}

bool onUiThread() {
    const std::thread::id owner = g_uiThread.load();
    return owner == std::thread::id{} || owner == std::this_thread::get_id();
}

OwnerViolationHandler setOwnerViolationHandler(OwnerViolationHandler handler) {
    return g_handler.exchange(handler);
}

void reportOwnerViolation(const char* group, const char* owner) {
    const std::string message = std::string(group) + " written from the " + threadRoleName(t_role) +
                                " thread; only " + owner + " may write it";
    if (OwnerViolationHandler handler = g_handler.load()) {
        handler(message.c_str());
        return;
    }
    std::fprintf(stderr, "%s\n", message.c_str());
    std::abort();
}

} // namespace vortigo
