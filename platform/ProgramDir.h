#pragma once

#include <string>

namespace vortigo {

// The folder of the running executable, without a trailing "/".
const std::string& executableDirectory();

// The folder of the program's own files (default texts, default project, the
// script's "lib" folder): the executable's folder when they sit beside it (a
// build tree), else "../share/vortigo" next to it when they are there (an
// installed program). Tests and batch tools may point it elsewhere before
// anything reads it; `installed` says the folder holds an installation's
// files (see programDirectoryIsInstalled).
const std::string& programDirectory();
void setProgramDirectory(const std::string& directory, bool installed = false);
// True once setProgramDirectory() has chosen the folder.
bool programDirectoryWasSet();

// True for an installed program: its files came from "../share/vortigo", or
// the program directory cannot be written. Such files are not the user's to
// edit, and new files go to the user's own folders instead.
bool programDirectoryIsInstalled();

// programDirectory() + "/" + name, cut to fit a path field of `size` bytes.
void defaultPath(char* field, int size, const char* name);

} // namespace vortigo
