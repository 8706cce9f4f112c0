// Which thread may write which state group. A thread names its role once;
// the groups' writer handles check the caller in debug builds (NDEBUG not
// defined) and stop a wrong-thread writer with a message that names the
// thread that may write.
#pragma once

#include <thread>

namespace vortigo {

enum class ThreadRole { Unnamed, Ui, Render, PostProcessing, CaptureWorker };

// The calling thread's role from now on.
void registerThreadRole(ThreadRole role);
ThreadRole currentThreadRole();
const char* threadRoleName(ThreadRole role);

// The motion thread steps the flight and owns the camera: the
// user-interface thread in the studio, the batch session's render thread in
// vortigo-render. claimMotion() makes the calling thread the motion thread
// and returns the one that was (hand it to restoreMotion() when done).
// While no thread has claimed it (a bench, a fuzzer), any thread may write.
std::thread::id claimMotion();
void restoreMotion(std::thread::id previous);
bool onMotionThread();

// The user-interface thread: the first thread that registered ThreadRole::Ui.
// While none has, any thread may write its groups.
bool onUiThread();

// Debug builds stop the process with a message that says `group` was written
// from the calling thread's role and only `owner` may write it. A test may
// install a handler that receives the message instead (nullptr: stop).
using OwnerViolationHandler = void (*)(const char* message);
OwnerViolationHandler setOwnerViolationHandler(OwnerViolationHandler handler);
void reportOwnerViolation(const char* group, const char* owner);

#ifdef NDEBUG
#define VORTIGO_CHECK_OWNER(allowed, group, owner) ((void)0)
#else
#define VORTIGO_CHECK_OWNER(allowed, group, owner)                                                 \
    ((allowed) ? (void)0 : ::vortigo::reportOwnerViolation(group, owner))
#endif

} // namespace vortigo
