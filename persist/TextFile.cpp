#include "persist/TextFile.h"

#include "platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vortigo {

namespace {

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

// A read-only file is refused before a temporary file is tried; this tells
// that refusal from a folder that takes no new files.
bool canWriteInPlace(const std::string& target) {
    struct stat info;
    return ::stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           (info.st_mode & 0222) != 0 && ::access(target.c_str(), W_OK) == 0;
}

// Where no file can be made beside the target, the target itself is the
// only way to keep the user's work; a failure half-way leaves it cut short.
bool writeInPlace(const std::string& target, const char* data, size_t size) {
    Fd file(::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (file.get() < 0) return false;
    // Truncating only after the new bytes are written keeps as much of the
    // old file as possible when the write stops early.
    return writeAllBytes(file.get(), data, size) &&
           ::ftruncate(file.get(), static_cast<off_t>(size)) == 0 && ::fsync(file.get()) == 0 &&
           file.close();
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
    int error = 0;
    {
        AtomicFile file;
        if (!file.open(path, LinkPolicy::Follow)) {
            error = errno;
            const bool folderRefused = error == EACCES || error == EPERM || error == EROFS;
            if (folderRefused && file.replacesAFile() && !file.isOpen() &&
                canWriteInPlace(file.target())) {
                if (writeInPlace(file.target(), data, size)) return true;
                error = errno;
            }
        } else {
            if (file.write(data, size) && file.commit()) return true;
            error = errno;
        }
    } // the temporary file's removal may change errno
    errno = error;
    return false;
}

std::string saveFailureText(const std::string& message, const std::string& path, int error) {
    return message + "\n" + path + ": " + fileErrorText(error);
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
        platform().messageBox(
            owner, saveFailureText("There has been an error saving the script file.", path, errno),
            "File Error", MsgButtons::Ok, MsgIcon::Error);
        return false;
    }
    return true;
}

} // namespace vortigo
