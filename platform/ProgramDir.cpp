#include "platform/ProgramDir.h"

#include <cstring>
#include <mutex>
#include <unistd.h>

namespace vortigo {
namespace {

std::string g_directory;
std::once_flag g_once;
bool g_wasSet = false;
bool g_fromShare = false;

std::string directoryOfExecutable() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string path(buffer, static_cast<size_t>(n));
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool holdsProgramFiles(const std::string& directory) {
    return access((directory + "/default_animation_script.anim").c_str(), R_OK) == 0;
}

} // namespace

const std::string& executableDirectory() {
    static const std::string directory = directoryOfExecutable();
    return directory;
}

const std::string& programDirectory() {
    std::call_once(g_once, [] {
        if (!g_directory.empty()) return;
        g_directory = executableDirectory();
        const std::string installed = g_directory + "/../share/vortigo";
        if (!holdsProgramFiles(g_directory) && holdsProgramFiles(installed)) {
            g_directory = installed;
            g_fromShare = true;
        }
    });
    return g_directory;
}

void setProgramDirectory(const std::string& directory, bool installed) {
    std::call_once(g_once, [] {});
    g_directory = directory;
    g_wasSet = true;
    g_fromShare = installed;
}

bool programDirectoryWasSet() {
    return g_wasSet;
}

bool programDirectoryIsInstalled() {
    const std::string& directory = programDirectory();
    return g_fromShare || access(directory.c_str(), W_OK) != 0;
}

void defaultPath(char* field, int size, const char* name) {
    std::string path = programDirectory();
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    const size_t n = std::min(path.size(), static_cast<size_t>(size - 1));
    std::memcpy(field, path.data(), n);
    field[n] = 0;
}

} // namespace vortigo
