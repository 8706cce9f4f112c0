// The blocks the animation script shares with the host for the life of the
// process, placed where the script expects them (core/ScriptBlocks.h), and
// the Debug Output text that its prints fill.
//
// Rule: the script reads and writes the blocks in place from whichever
// thread runs it; the host's fields that live in them (the image size, the
// camera snapshot, the ring's marks, keyDown, capturing) belong to the group
// that names them. Each block sits between inaccessible pages
// (core/GuardedBlock.h). debugText is appended by whichever thread ran the
// script, under the debug log's lock; the user-interface thread empties it
// on a reset while the render thread rests.
#pragma once

#include "core/ProjectTypes.h"
#include "core/ScriptBlocks.h"

namespace vortigo {

struct ScriptShared {
    ScriptShared();
    ScriptShared(const ScriptShared&) = delete;
    ScriptShared& operator=(const ScriptShared&) = delete;

    FrameInfo& frameInfo;
    AnimInfo& animInfo;
    char (&scratchLine)[DEBUG_LINE_SIZE]; // the script's debug line, guarded like the blocks
    TextBuffer debugText;
};

ScriptShared& scriptShared();

// Any thread the script runs on, after each call into it: false when the
// script wrote just before the start of a block it keeps for life (FrameInfo,
// AnimInfo, the debug line, udef, the flight ring), where no guard page
// could catch it. The damage is undone. The check cannot tell which of two
// entry points running at once on different threads made the write.
bool scriptBlocksIntact();

} // namespace vortigo
