// A temporary folder for one test, removed with everything in it. When no
// folder can be made the constructor throws, which fails the test: it never
// hands out (and later removes) a folder it did not create.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace vortigo::test {

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/vortigo-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made)
            throw std::runtime_error(std::string("cannot make a temporary folder: ") +
                                     std::strerror(errno));
        m_path = made;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(file(name), std::ios::binary) << bytes;
    }

  private:
    std::string m_path;
};

// A program folder holding what the build puts beside the executable: the
// default texts and the script's "lib" folder.
inline void copyDefaultTexts(const TempDir& dir) {
    for (const char* name : {"default_vertex_shader.vert", "default_fragment_shader.frag",
                             "default_animation_script.anim"})
        std::filesystem::copy_file(std::string(VORTIGO_DEFAULTS_DIR) + "/" + name, dir.file(name));
    std::filesystem::create_directory(dir.file("lib"));
    std::filesystem::copy_file(std::string(VORTIGO_SCRIPT_LIB_DIR) + "/vortigo.h",
                               dir.file("lib/vortigo.h"));
}

} // namespace vortigo::test
