// The functions the host lends the animation script, registered with the
// compiler under their script names.
#pragma once

struct TCCState;

namespace vortigo {

// Adds SetActiveTex, SetupDataTex and SetupVolTex, and puts guarded
// replacements in place of exit, _exit, _Exit, quick_exit and abort so a
// script can never end the studio.
void registerHostFunctions(TCCState* compiler);

} // namespace vortigo
