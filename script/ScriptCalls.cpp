#include "script/ScriptCalls.h"

#include "core/CameraFlight.h"
#include "core/FrameQueue.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/ScriptShared.h"
#include "script/DebugLog.h"
#include "script/FaultGuard.h"
#include "script/ScriptHost.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/mman.h>
#include <tuple>
#include <unistd.h>

namespace vortigo {
namespace {

constexpr const char* FAULT_CAPTION = "Error in Animation Script";

// A call of an entry point with its arguments, run by the guard through a
// thunk that holds nothing a fault could leak.
template <typename... Args> struct Call {
    void (*fn)(Args...);
    std::tuple<Args...> args;
};

template <typename... Args> void runCall(void* context) {
    auto* call = static_cast<Call<Args...>*>(context);
    std::apply(call->fn, call->args);
}

// Empties the debug line, calls the entry point under the guard (and the
// watchdog) and returns 0, the fault's signal or GUARD_TIMED_OUT. A write
// just before a lent block, which no guard page could stop, is a fault of
// the call as well. The caller flushes after its reaction.
template <typename... Args> int guardedCall(void* address, Args... args) {
    clearDebugLine();
    Call<Args...> call{reinterpret_cast<void (*)(Args...)>(address), {args...}};
    const int fault =
        runGuarded(&runCall<Args...>, &call, std::max(0, projectFiles().scriptTimeoutSeconds));
    const bool intact = scriptBlocksIntact(); // mended whatever the outcome
    return fault == 0 && !intact ? SIGSEGV : fault;
}

// The frame buffer udPostFrame is lent, when it is one of the record's (not
// a caller's own memory): only those have a lead to check.
GuardedBytes* frameBlockOf(const uint8_t* frame) {
    return frameQueue().blockOf(frame);
}

std::atomic<uint64_t> g_faultsReported{0};

void reportFault(WindowId owner, const char* entryName, int fault) {
    g_faultsReported.fetch_add(1);
    const std::string text = fault == GUARD_TIMED_OUT
                                 ? formatC("%s did not return within %d seconds.", entryName,
                                           projectFiles().scriptTimeoutSeconds)
                                 : std::string(entryName) + " caused an exception.";
    platform().messageBox(owner, text, FAULT_CAPTION, MsgButtons::Ok, MsgIcon::Error);
}

} // namespace

uint64_t scriptFaultsReported() {
    return g_faultsReported.load();
}

namespace {

void dropPerFrameEntries() {
    clearEntryPoint(UD_PRE);
    clearEntryPoint(UD_POST_FRAME);
    clearEntryPoint(UD_POST);
}

// A fault while drawing: stop the flight and any capture through the Trace
// window's X key, then tell the user.
void reactToDrawingFault(const char* entryName, int fault) {
    dropPerFrameEntries();
    platform().postMessage(WindowMessage{WindowId::Trace, MSG_KEYDOWN, 'X', 0});
    reportFault(WindowId::None, entryName, fault);
}

char g_traceToken;

// The handle is opaque: it points between two inaccessible pages, so a
// script that reads or writes through it (either way) faults instead of
// reaching host memory.
void* mapTraceHandle() {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* map = mmap(nullptr, 2 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) return &g_traceToken; // still a distinct, valid handle
    return static_cast<char*>(map) + page;
}

} // namespace

void* traceWindowHandle() {
    static void* const handle = mapTraceHandle();
    return handle;
}

bool callUdSetup() {
    const CameraFlight& camera = cameraView();
    ScriptShared& blocks = scriptShared();
    void* fn = entryPoint(UD_SETUP);
    if (!fn) return true;
    const int fault = guardedCall<void*, float*, void*, void*, char*>(
        fn, traceWindowHandle(), camera.udef.get(), &blocks.animInfo, &blocks.frameInfo,
        blocks.scratchLine);
    if (fault) reportFault(WindowId::Main, "udSetup", fault);
    flushDebugLine();
    return fault == 0;
}

void callUdShutdown(ShutdownReason reason) {
    void* fn = entryPoint(UD_SHUTDOWN);
    if (!fn) return;
    const int fault = guardedCall<>(fn);
    if (fault) {
        if (reason == ShutdownReason::Compile)
            reportFault(WindowId::Main, "udShutdown", fault);
        else // the windows are going away: say it where it can still be read
            std::fprintf(stderr, "vortigo: udShutdown caused an exception.\n");
    }
    flushDebugLine();
}

void clearLayerRequests() {
    FrameInfo& f = scriptShared().frameInfo;
    f.bgUpdate = f.layerSkip = f.bgWidth = f.bgHeight = f.videoHold = 0;
    f.reservedDataTex = f.dataTexWidth = f.reservedVolTex = 0;
    f.volTexWidth = f.volTexHeight = f.volTexDepth = f.layerFlags = 0;
    f.dataTex = nullptr;
    f.volTex = nullptr;
}

void callUdPre(int layerIndex, int pass) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraForDrawing();
    ScriptShared& blocks = scriptShared();
    void* fn = entryPoint(UD_PRE);
    if (!fn || layerIndex < 0 || layerIndex >= LAYER_COUNT) return;
    LayerSlot& layer = files.layers[layerIndex];
    AnimInfo& anim = blocks.animInfo;
    anim.cameraPosition[0] = camera.xCenter;
    anim.cameraPosition[1] = camera.yCenter;
    anim.cameraPosition[2] = camera.zLens;
    std::memcpy(anim.cameraOrientation, camera.cameraQuat, sizeof camera.cameraQuat);
    blocks.frameInfo.bgWidth = layer.backgroundWidth;
    blocks.frameInfo.bgHeight = layer.backgroundHeight;
    blocks.frameInfo.layer = layerIndex + 1;
    blocks.frameInfo.pass = pass;

    int fault =
        guardedCall<uint8_t*, float*>(fn, layer.backgroundPixels.get(), camera.flightBuffer.get());
    if (!layer.backgroundPixels.leadIntact() && !fault) fault = SIGSEGV;
    camera.xCenter = anim.cameraPosition[0];
    camera.yCenter = anim.cameraPosition[1];
    camera.zLens = anim.cameraPosition[2];
    std::memcpy(camera.cameraQuat, anim.cameraOrientation, sizeof camera.cameraQuat);
    if (fault) reactToDrawingFault("udPre", fault);
    flushDebugLine();
}

void callUdPost(int layerIndex) {
    void* fn = entryPoint(UD_POST);
    if (!fn) return;
    scriptShared().frameInfo.layer = layerIndex + 1;
    if (const int fault = guardedCall<>(fn)) reactToDrawingFault("udPost", fault);
    flushDebugLine();
}

void callUdPostFrame(uint8_t* frame) {
    void* fn = entryPoint(UD_POST_FRAME);
    if (!fn) return;
    int fault = guardedCall<uint8_t*>(fn, frame);
    if (GuardedBytes* block = frameBlockOf(frame); block && !block->leadIntact() && !fault)
        fault = SIGSEGV;
    if (fault) {
        dropPerFrameEntries();
        reportFault(WindowId::Main, "udPostFrame", fault);
    }
    flushDebugLine();
}

void callUdResize() {
    void* fn = entryPoint(UD_RESIZE);
    if (!fn) return;
    if (const int fault = guardedCall<>(fn)) {
        dropPerFrameEntries();
        clearEntryPoint(UD_RESIZE);
        reportFault(WindowId::None, "udResize", fault);
    }
    flushDebugLine();
}

void reactToRequestFault(int fault) {
    reactToDrawingFault("udPre", fault);
}

int nextLayerIndex(int layerIndex, int32_t layerSkip) {
    const int64_t next = int64_t{layerIndex} + 1 + layerSkip;
    return next < 0 || next >= LAYER_COUNT ? -1 : static_cast<int>(next);
}

} // namespace vortigo
