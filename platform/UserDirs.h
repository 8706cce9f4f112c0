// The user's own folders, as the XDG base-directory and user-directory
// conventions name them. Nothing here creates a folder: a reader must not
// leave folders behind, and a writer makes what it needs when it writes.
#pragma once

#include <string>

namespace vortigo {

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config; empty
// when neither can be had (no absolute HOME).
std::string configHome();

enum class UserFolder { Documents, Videos };

// Where new files of that kind go by default: the current folder for a
// program started from a terminal (standard input is one), else the folder
// that user-dirs.dirs in configHome() names (XDG_DOCUMENTS_DIR,
// XDG_VIDEOS_DIR), else $HOME/Documents or $HOME/Videos when it exists,
// else $HOME, else the current folder. No trailing "/".
std::string userFolder(UserFolder kind);

// The same without the terminal rule: the folder the desktop names.
std::string desktopUserFolder(UserFolder kind);

// Reads the value of `key` from the text of a user-dirs.dirs file
// ("XDG_VIDEOS_DIR=\"$HOME/Videos\""), expanding a leading $HOME. Empty when
// the key is missing or its value is not an absolute path.
std::string userDirsValue(const std::string& text, const std::string& key, const std::string& home);

} // namespace vortigo
