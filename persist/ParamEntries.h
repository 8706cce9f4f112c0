// The named shader parameters in the project file: one line per value,
// "PARAM<layer 1 to 4>.<name>=<value>[,<value>...]", for example
// "PARAM1.power=8.5" or "PARAM2.tint=1.,0.5,0.2". Each is one token with one
// "=", whose key no other entry uses, so a reader that does not know them
// skips them as unknown keys and reads the rest of the project unchanged.
//
// Threads: user-interface thread (the batch program's main thread).
#pragma once

#include <string>
#include <string_view>

namespace vortigo {

// The lines for every value the store knows, declared or not, layer by layer.
std::string paramEntryLines();

// True when `key` names a parameter entry ("PARAM" + layer + "." + name);
// the value is stored when it is one to four numbers separated by commas and
// dropped otherwise.
bool readParamEntry(std::string_view key, const std::string& value);

// "LAYER.NAME=VALUE[,VALUE...]" of the batch renderer's --param (the layer
// 1 to 4): false with the reason when it is no such text.
struct ParamAssignment {
    int layer = 0; // 0 to 3
    std::string name;
    float values[4] = {};
    int count = 0;
};
bool parseParamAssignment(std::string_view text, ParamAssignment& out, std::string& reason);

} // namespace vortigo
