// Files that appear whole or not at all. The bytes go to a temporary file
// beside the target, named ".NAME.vortigo-tmp", which is flushed to disk and
// renamed over the target once complete; until then the target keeps its old
// contents (or does not exist). The writer holds an advisory lock (flock) on
// its temporary file for as long as it writes: a second writer of the same
// target finds it locked and is refused with EBUSY ("in use") instead of
// mixing its bytes in. A temporary file nobody holds locked is the leftover
// of a writer that died, and the next writer of that target removes it.
// Where the file system offers no locks, a temporary file found is taken for
// a leftover; the rename then checks that the name still holds the writer's
// own file, so two writers still never mix (the one whose file went fails).
//
// Threads: one object is used by one thread at a time; objects are
// independent.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace vortigo {

// How a symbolic link at the target's name is treated. Edited texts and
// projects follow it (the link keeps pointing at the rewritten file);
// rendered outputs replace the link itself and never write through it.
enum class LinkPolicy { Follow, Replace };

class AtomicFile {
  public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Removes the temporary file unless it was committed.
    ~AtomicFile();

    // Starts the replacement of `path`. False with errno set when it cannot
    // start: EACCES for an existing file without write permission (a file
    // with no write bit at all counts as read-only even for root), EBUSY
    // while another writer holds the target, EISDIR or EINVAL for a target
    // that is not a regular file, ELOOP for a link loop, or the errno of
    // the failed creation. The new file takes the mode and owner of the file
    // it replaces where it can.
    bool open(const std::string& path, LinkPolicy links);
    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // The file really replaced (the end of a followed link chain).
    const std::string& target() const { return m_target; }
    // The temporary file's name, for writers that open it by name.
    const std::string& temporaryPath() const { return m_temp; }
    // Whether the target existed when open started.
    bool replacesAFile() const { return m_hadOld; }

    // Appends bytes; false with errno set on failure.
    bool write(const void* data, std::size_t size);
    // Flushes the file to disk and renames it over the target. False with
    // errno set when that failed; the target is then as it was.
    bool commit();
    // Removes the temporary file; the target is left as it was.
    void abandon();

  private:
    int m_fd = -1;
    bool m_hadOld = false;
    std::string m_target;
    std::string m_temp;
};

// Writes all `size` bytes to `fd`, going on after interrupted writes; false
// with errno set on failure.
bool writeAllBytes(int fd, const void* data, std::size_t size);

// The temporary name a writer of `path` uses beside it.
std::string temporaryNameFor(const std::string& path);

// Replaces `path` (its link replaced, never followed) with `size` bytes of
// `data`; false with errno set as AtomicFile::open and commit set it.
bool writeWholeFile(const std::string& path, const void* data, std::size_t size);

// errno as words for a message: strerror's text, except that EBUSY from
// AtomicFile says the file is being written by another process.
std::string fileErrorText(int error);

} // namespace vortigo
