#include "platform/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace vortigo {
namespace {

constexpr int MAX_LINK_HOPS = 40; // the kernel's own limit for a path walk
constexpr const char* TEMP_SUFFIX = ".vortigo-tmp";

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links one hop at a time, so a dangling link still names
// the file to create. Returns an empty string for a loop or an unreadable link.
std::string resolveLinks(const std::string& path) {
    std::string current = path;
    std::vector<char> target(4096);
    for (int hop = 0; hop < MAX_LINK_HOPS; ++hop) {
        struct stat info;
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<size_t>(length) >= target.size()) return {};
        std::string next(target.data(), static_cast<size_t>(length));
        if (next[0] != '/') next.insert(0, folderOf(current) + "/");
        current = std::move(next);
    }
    return {};
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Makes the rename itself durable; a failure here cannot undo the write and
// is not worth reporting.
void syncFolder(const std::string& folder) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

// Creates the temporary file and locks it. A file already there is either a
// live writer's (locked: EBUSY) or a dead one's leftover (removed, then the
// creation is tried again). O_EXCL and O_NOFOLLOW make sure the file we
// write is the one we made, not something planted under the name.
int createLocked(const std::string& temp, mode_t mode) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd =
            ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            // Where the file system has no locks, the check before the
            // rename still keeps two writers from mixing.
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) return fd;
            // Taken for a leftover by another writer in the moment between
            // creation and lock: it is that writer's now.
            ::close(fd);
            errno = EBUSY;
            return -1;
        }
        if (errno != EEXIST) return -1;
        // Any access serves for the lock; the copied mode may allow writing only.
        constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int other = ::open(temp.c_str(), O_RDONLY | flags);
        if (other < 0 && errno == EACCES) other = ::open(temp.c_str(), O_WRONLY | flags);
        if (other < 0) {
            if (errno == ENOENT) continue; // renamed into place meanwhile
            if (errno != ELOOP) return -1;
            ::unlink(temp.c_str()); // a link under our name is never ours
            continue;
        }
        if (::flock(other, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(other);
            errno = EBUSY;
            return -1;
        }
        // Nobody holds it: a leftover, removed if it is still the one locked.
        struct stat held, named;
        if (::fstat(other, &held) == 0 && S_ISREG(held.st_mode) &&
            ::lstat(temp.c_str(), &named) == 0 && sameFile(held, named) &&
            ::unlink(temp.c_str()) != 0 && errno != ENOENT) {
            const int error = errno; // another user's leftover in a shared folder
            ::close(other);
            errno = error;
            return -1;
        }
        ::close(other);
    }
    errno = EBUSY;
    return -1;
}

} // namespace

std::string temporaryNameFor(const std::string& path) {
    std::string name = nameOf(path);
    // The temporary name must fit the folder's limit on a name's length.
    const size_t room = NAME_MAX - 1 - std::strlen(TEMP_SUFFIX);
    if (name.size() > room) name.resize(room);
    return folderOf(path) + "/." + name + TEMP_SUFFIX;
}

AtomicFile::~AtomicFile() {
    abandon();
}

bool AtomicFile::open(const std::string& path, LinkPolicy links) {
    abandon();
    m_hadOld = false;
    m_target = links == LinkPolicy::Follow ? resolveLinks(path) : path;
    if (path.empty() || m_target.empty()) {
        errno = path.empty() ? ENOENT : ELOOP;
        return false;
    }
    struct stat old;
    if (::lstat(m_target.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode)) {
            errno = EISDIR;
            return false;
        }
        // A link is replaced itself (the policy Replace); anything else but
        // a regular file (a device, a pipe) is never renamed over.
        if (!S_ISLNK(old.st_mode) && !S_ISREG(old.st_mode)) {
            errno = EINVAL;
            return false;
        }
        m_hadOld = S_ISREG(old.st_mode);
        // A file the user may not write is never replaced, even where the
        // folder would allow it; without any write bit it counts as
        // read-only for everyone, as it does on the desktop.
        if (m_hadOld && ((old.st_mode & 0222) == 0 || ::access(m_target.c_str(), W_OK) != 0)) {
            errno = EACCES;
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }
    const std::string temp = temporaryNameFor(m_target);
    m_fd = createLocked(temp, 0666);
    if (m_fd < 0) return false;
    m_temp = temp;
    if (m_hadOld) {
        // chown may clear set-id bits, so the mode goes on afterwards.
        if (::fchown(m_fd, old.st_uid, old.st_gid) != 0) {
            // Only a privileged process may give a file away; the file then
            // belongs to us, which is all an ordinary write can do.
        }
        if (::fchmod(m_fd, old.st_mode & 07777) != 0) {
            const int error = errno;
            abandon();
            errno = error;
            return false;
        }
    }
    return true;
}

bool AtomicFile::write(const void* data, std::size_t size) {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    return writeAllBytes(m_fd, data, size);
}

bool AtomicFile::commit() {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    // The lock is held through the rename, so nobody takes the file for a
    // leftover; the check makes sure the name still holds our file.
    struct stat held, named;
    if (::fsync(m_fd) != 0 || ::fstat(m_fd, &held) != 0) {
        const int error = errno;
        abandon();
        errno = error;
        return false;
    }
    if (::lstat(m_temp.c_str(), &named) != 0 || !sameFile(held, named)) {
        ::close(m_fd);
        m_fd = -1;
        m_temp.clear();
        errno = EBUSY;
        return false;
    }
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        const int error = errno;
        abandon();
        errno = error;
        return false;
    }
    ::close(m_fd);
    m_fd = -1;
    m_temp.clear();
    syncFolder(folderOf(m_target));
    return true;
}

void AtomicFile::abandon() {
    if (m_fd < 0) return;
    // Unlinked while still locked, so no other writer has taken it over.
    if (!m_temp.empty()) {
        struct stat held, named;
        if (::fstat(m_fd, &held) == 0 && ::lstat(m_temp.c_str(), &named) == 0 &&
            sameFile(held, named))
            ::unlink(m_temp.c_str());
    }
    ::close(m_fd);
    m_fd = -1;
    m_temp.clear();
}

bool writeAllBytes(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool writeWholeFile(const std::string& path, const void* data, std::size_t size) {
    AtomicFile file;
    return file.open(path, LinkPolicy::Replace) && file.write(data, size) && file.commit();
}

std::string fileErrorText(int error) {
    if (error == EBUSY) return "the file is in use (another process is writing it)";
    return std::generic_category().message(error);
}

} // namespace vortigo
