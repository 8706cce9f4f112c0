// The script host: compiles the animation script in memory with libtcc,
// links it against the system libraries and the host functions, keeps its
// code in a block of our own and looks up its six optional entry points.
//
// Threads: compileScript and unloadScript run on the render thread only
// (the exit path calls shutDownScript after the workers have stopped, or
// shutDownScriptInUse when the render thread would not stop). The
// entry points are read by the render and post-processing threads; a fault
// on either thread may null some of them, so each is read once per call.
#pragma once

#include "platform/Platform.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vortigo {

enum EntryPoint { UD_PRE, UD_POST, UD_POST_FRAME, UD_RESIZE, UD_SETUP, UD_SHUTDOWN, ENTRY_COUNT };

// Names looked up after linking, in this order.
extern const char* const ENTRY_NAMES[ENTRY_COUNT];

// The address of an entry point, or null.
void* entryPoint(EntryPoint which);
void clearEntryPoint(EntryPoint which);

// Compiles `text`: the old script's udShutdown, the compile, the link into
// a fresh code block, the entry points and udSetup. True when a script is
// loaded; diagnostics were shown and posted as go-to-line requests.
bool compileScript(const char* text);

// Post-processing thread, around its calls into the script (udPostFrame,
// the Watch refresh): false while a compile replaces the script, which then
// must not be called. Every true is followed by one leave.
bool enterScriptFromPostThread();
void leaveScriptFromPostThread();

// Nulls the entry points and deletes the compiler state; the code block
// stays until the next successful link or the exit, and longer while a
// thread the script started still runs in it (ScriptThreads.h).
void unloadScript();

// A global of the loaded script, by name; null without a loaded script.
void* findGlobal(const char* name);

// True when [address, address + bytes) lies inside the loaded script's code
// and data block, where its globals live.
bool insideScriptMemory(uintptr_t address, size_t bytes);

// Exit path: the loaded script's udShutdown under the guard, then the code
// block is freed (once the script's own threads have ended, as at a
// compile).
void shutDownScript();

// Exit path while a thread that could not be ended may still run inside the
// script: its udShutdown under the guard, then no entry point is called
// again, but the code, the heap and the compiler state stay.
void shutDownScriptInUse();

// Posts one go-to-line request for every `open` character of `text`: the
// number after it (read like atoi, up to `close`, at most 9 characters) is
// the line, `page` the text kind. A request without any digits is left out
// once an earlier request of the same text carried a line.
void scanErrorLines(WindowId owner, int page, const char* text, char open, char close);

// The folder libtcc takes its runtime library and own headers from.
std::string compilerHome();

} // namespace vortigo
