#pragma once

#include <string>

namespace vortigo {

// The folder of the running executable, without a trailing "/". Tests and
// batch tools may point it elsewhere before anything reads it.
const std::string& programDirectory();
void setProgramDirectory(const std::string& directory);

// programDirectory() + "/" + name, cut to fit a path field of `size` bytes.
void defaultPath(char* field, int size, const char* name);

} // namespace vortigo
