// Plain text files: the animation script and the shader texts. Their bytes
// are moved between a file and a text buffer exactly as they stand, with no
// header, encoding marker or line-break conversion.
//
// Threads: loadText and saveText run on the user-interface thread (their
// failure messages are owned by a window). The two byte helpers below show
// nothing and may be called from any thread.
#pragma once

#include "platform/Platform.h"

#include <cstddef>
#include <string>

namespace vortigo {

// What the user is told when a text does not fit its buffer and only its
// beginning was taken (a load here, a paste in the editor).
constexpr const char* TEXT_TOO_LONG =
    "The text is longer than 65535 characters; the rest was not taken.";
constexpr const char* TEXT_TOO_LONG_CAPTION = "Text Too Long";

// Reads at most capacity - 1 bytes of the file at `path` into `buffer` and
// puts a zero after them; a longer file loads its beginning and the user is
// told (TEXT_TOO_LONG). The file is opened for reading only. On failure the
// user is told which file could not be opened and `buffer` is unchanged.
bool loadText(WindowId owner, const std::string& path, char* buffer, int capacity);

// Writes `text` up to its terminating zero to `path`. The old file is
// replaced only once every new byte is safely on disk, keeps its permission
// bits, and a symbolic link at `path` keeps pointing at the rewritten target.
// On failure the user is told (with the path and the reason) and the old
// file is left intact.
bool saveText(WindowId owner, const std::string& path, const char* text);

// Reads at most maxBytes of the regular file at `path` into `out` (replacing
// its contents). Returns 0, or the errno value of the failure (ENOENT for a
// missing file, EINVAL for something that is not a regular file).
int readFilePrefix(const std::string& path, std::size_t maxBytes, std::string& out);

// Replaces the file at `path`, or the file a chain of symbolic links at
// `path` ends in, with exactly `size` bytes of `data`: a temporary file in the
// same folder is written, flushed to disk and renamed over the old one, so a
// failure at any step leaves the old file as it was. An existing file that
// may not be written (or has no write permission bit at all) is refused and
// left as it is. Where the folder refuses new files but the file may be
// written, the file is rewritten in place. A save of the same file running
// in another process at the same moment makes this one fail; the temporary
// file a killed save left behind is removed. Returns success.
// On failure errno holds the reason.
bool replaceFileContents(const std::string& path, const char* data, std::size_t size);

// A save's message followed by the file and the system's reason, so the user
// can tell a full disk from a missing folder: "MESSAGE\nPATH: REASON".
std::string saveFailureText(const std::string& message, const std::string& path, int error);

} // namespace vortigo
