#include "persist/TextFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vortigo {

namespace {

constexpr int MAX_LINK_HOPS = 40; // the kernel's own limit for a path walk

// Closes the descriptor on every exit path.
class Fd {
  public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    // Closing reports delayed write errors, so the success path closes here.
    bool close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

  private:
    int m_fd;
};

// Removes the temporary file unless it has been renamed into place.
class TempFile {
  public:
    ~TempFile() {
        if (!path.empty()) ::unlink(path.c_str());
    }
    void committed() { path.clear(); }
    std::string path;
};

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
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
        if (next[0] != '/') next = folderOf(current) + "/" + next;
        current = std::move(next);
    }
    return {};
}

// Creates a fresh file beside the target. O_EXCL and O_NOFOLLOW make sure it
// is ours and not something planted under the same name.
int createTempIn(const std::string& folder, std::string& tempPath) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder + "/.vortigo-";
        uint64_t bits = random();
        for (int i = 0; i < 12; ++i, bits >>= 4)
            name += digits[bits & 15];
        name += ".tmp";
        const int fd =
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            tempPath = std::move(name);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Where no file can be made beside the target, the target itself is the
// only way to keep the user's work; a failure half-way leaves it cut short.
bool writeInPlace(const std::string& target, const char* data, size_t size) {
    Fd file(::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (file.get() < 0) return false;
    // Truncating only after the new bytes are written keeps as much of the
    // old file as possible when the write stops early.
    return writeAll(file.get(), data, size) &&
           ::ftruncate(file.get(), static_cast<off_t>(size)) == 0 && ::fsync(file.get()) == 0 &&
           file.close();
}

// Makes the rename itself durable; a failure here cannot undo the save and
// is not worth reporting.
void syncFolder(const std::string& folder) {
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

} // namespace

int readFilePrefix(const std::string& path, std::size_t maxBytes, std::string& out) {
    out.clear();
    // O_NONBLOCK keeps a FIFO from stalling the open; it is refused below.
    Fd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) return errno;
    struct stat info;
    if (::fstat(file.get(), &info) != 0) return errno;
    if (!S_ISREG(info.st_mode)) return EINVAL;

    out.reserve(std::min(maxBytes, static_cast<size_t>(info.st_size)));
    constexpr size_t chunk = 1 << 16;
    size_t used = 0;
    while (used < maxBytes) {
        size_t want = std::min(chunk, maxBytes - used);
        // Up to the size the file had, and one byte more to see its end: a
        // small file needs no chunk-sized buffer.
        const size_t known = info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
        if (used <= known) want = std::min(want, known - used + 1);
        out.resize(used + want);
        const ssize_t got = ::read(file.get(), out.data() + used, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            out.clear();
            return error;
        }
        if (got == 0) break;
        used += static_cast<size_t>(got);
    }
    out.resize(used);
    return 0;
}

bool replaceFileContents(const std::string& path, const char* data, std::size_t size) {
    if (path.empty()) return false;
    const std::string target = resolveLinks(path);
    if (target.empty()) return false;

    struct stat old;
    const bool hadOld = ::stat(target.c_str(), &old) == 0;
    if (!hadOld && errno != ENOENT) return false;
    if (hadOld && !S_ISREG(old.st_mode)) return false;

    // A file the user may not write is never replaced, even where the folder
    // would allow it; without any write bit it counts as read-only for
    // everyone, as it does on the desktop.
    if (hadOld && ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) return false;

    const std::string folder = folderOf(target);
    TempFile temp;
    Fd file(createTempIn(folder, temp.path));
    if (file.get() < 0) {
        const bool folderRefused = errno == EACCES || errno == EPERM || errno == EROFS;
        return hadOld && folderRefused && writeInPlace(target, data, size);
    }
    if (hadOld) {
        // chown may clear set-id bits, so the mode goes on afterwards.
        if (::fchown(file.get(), old.st_uid, old.st_gid) != 0) {
            // Only a privileged process may give a file away; the file then
            // belongs to us, which is all an ordinary save can do.
        }
        if (::fchmod(file.get(), old.st_mode & 07777) != 0) return false;
    }
    if (!writeAll(file.get(), data, size) || ::fsync(file.get()) != 0 || !file.close())
        return false;
    if (::rename(temp.path.c_str(), target.c_str()) != 0) return false;
    temp.committed();
    syncFolder(folder);
    return true;
}

bool loadText(WindowId owner, const std::string& path, char* buffer, int capacity) {
    std::string bytes;
    const bool usable = buffer != nullptr && capacity > 0;
    // One byte more than fits tells a file that is too long.
    if (!usable || readFilePrefix(path, static_cast<size_t>(capacity), bytes) != 0) {
        platform().messageBox(owner, "There has been an error opening the text file: " + path,
                              "File Error", MsgButtons::Ok, MsgIcon::Error);
        return false;
    }
    const bool cut = bytes.size() > static_cast<size_t>(capacity) - 1;
    if (cut) bytes.resize(static_cast<size_t>(capacity) - 1);
    std::memcpy(buffer, bytes.data(), bytes.size());
    buffer[bytes.size()] = '\0';
    if (cut)
        platform().messageBox(owner, TEXT_TOO_LONG, TEXT_TOO_LONG_CAPTION, MsgButtons::Ok,
                              MsgIcon::Warning);
    return true;
}

bool saveText(WindowId owner, const std::string& path, const char* text) {
    const char* bytes = text ? text : "";
    if (!replaceFileContents(path, bytes, std::strlen(bytes))) {
        platform().messageBox(owner, "There has been an error saving the script file.",
                              "File Error", MsgButtons::Ok, MsgIcon::Error);
        return false;
    }
    return true;
}

} // namespace vortigo
