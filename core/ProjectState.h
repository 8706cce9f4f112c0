// The process-wide state is split into groups, one header each, and each
// header says who owns its fields and by which rule:
//   core/ProjectFiles.h   the project's file fields, settings and texts
//   core/CameraFlight.h   camera, animation time, udef, the flight ring and controls
//   core/CaptureState.h   capture settings and the capturing flag
//   core/ScriptShared.h   the blocks shared with the script, the debug text
//   core/ViewFlags.h      which windows exist (for message owners)
//   core/RunState.h       where the render thread stands, and the requests
//   core/FrameQueue.h     the frame buffers and their way between the threads
//   ui/EditorState.h      the editor's and the windows' own state
#pragma once

namespace vortigo {

// Frees every buffer of the groups (the end of the exit path).
void releaseProjectBuffers();

} // namespace vortigo
