#pragma once

#include <string>

namespace vortigo {

// The folder of the running executable, without a trailing "/".
const std::string& executableDirectory();

// The folder of the program's own files (default texts, default project, the
// script's "lib" folder): the executable's folder when they sit beside it (a
// build tree), else "../share/vortigo" next to it when they are there (an
// installed program). Tests and batch tools may point it elsewhere before
// anything reads it.
const std::string& programDirectory();
void setProgramDirectory(const std::string& directory);
// True once setProgramDirectory() has chosen the folder.
bool programDirectoryWasSet();

// programDirectory() + "/" + name, cut to fit a path field of `size` bytes.
void defaultPath(char* field, int size, const char* name);

} // namespace vortigo
