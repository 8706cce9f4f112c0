#include "platform/UserDirs.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vortigo {
namespace {

std::string absoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return {};
    std::string text = value;
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string currentFolder() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string(".");
}

} // namespace

std::string configHome() {
    std::string config = absoluteEnv("XDG_CONFIG_HOME");
    if (!config.empty()) return config;
    const std::string home = absoluteEnv("HOME");
    return home.empty() ? std::string() : home + "/.config";
}

std::string userDirsValue(const std::string& text, const std::string& key,
                          const std::string& home) {
    std::istringstream lines(text);
    std::string line;
    std::string found;
    while (std::getline(lines, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
        const size_t at = start + key.size();
        if (at >= line.size() || line[at] != '=') continue;
        std::string value = line.substr(at + 1);
        if (value.size() >= 2 && value.front() == '"') {
            const size_t close = value.find('"', 1);
            if (close == std::string::npos) continue;
            value = value.substr(1, close - 1);
        }
        if (value.rfind("$HOME", 0) == 0) {
            if (home.empty()) continue;
            value.replace(0, 5, home);
        }
        if (value.empty() || value[0] != '/') continue;
        while (value.size() > 1 && value.back() == '/')
            value.pop_back();
        found = value; // the last assignment wins, as in the shell that reads it
    }
    return found;
}

std::string desktopUserFolder(UserFolder kind) {
    const std::string home = absoluteEnv("HOME");
    const bool videos = kind == UserFolder::Videos;
    const std::string config = configHome();
    if (!config.empty()) {
        std::ifstream in(config + "/user-dirs.dirs");
        std::stringstream text;
        text << in.rdbuf();
        std::string named =
            userDirsValue(text.str(), videos ? "XDG_VIDEOS_DIR" : "XDG_DOCUMENTS_DIR", home);
        if (isDirectory(named)) return named;
    }
    if (home.empty()) return currentFolder();
    const std::string usual = home + (videos ? "/Videos" : "/Documents");
    return isDirectory(usual) ? usual : home;
}

std::string userFolder(UserFolder kind) {
    // Started from a shell, the user expects the files where they stand.
    if (isatty(STDIN_FILENO) != 0) return currentFolder();
    return desktopUserFolder(kind);
}

} // namespace vortigo
