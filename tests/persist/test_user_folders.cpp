// Where settings and new files go: the user's configuration and document
// folders, except for a portable copy, and never into an installation.
#include "TempDir.h"
#include "core/CaptureState.h"
#include "core/ProjectFiles.h"
#include "persist/Options.h"
#include "persist/ProjectDefaults.h"
#include "persist/TextFile.h"
#include "platform/HeadlessPlatform.h"
#include "platform/ProgramDir.h"
#include "platform/UserDirs.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>

namespace vortigo {
namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Sets an environment variable for the test's scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        setenv(name, value.c_str(), 1);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

  private:
    const char* m_name;
    std::optional<std::string> m_old;
};

class UserFoldersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::copyDefaultTexts(m_program);
        fs::create_directories(m_home.file("Documents"));
        fs::create_directories(m_home.file("Videos"));
    }
    void TearDown() override { setProgramDirectory(m_previousProgram); }

    std::string m_previousProgram = programDirectory();
    test::TempDir m_program;
    test::TempDir m_home;
    ScopedEnv m_homeEnv{"HOME", m_home.path()};
    HeadlessPlatform m_platform;
    ScopedPlatform m_installed{&m_platform};
};

TEST_F(UserFoldersTest, SettingsLiveInTheConfigFolderUnlessAPortableCopyHasThem) {
    setProgramDirectory(m_program.path());
    const std::string config = m_home.file("config");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", config);
        EXPECT_EQ(optionsPath(), config + "/vortigo/VORTOptions.ini");
        readOptions();
        EXPECT_FALSE(fs::exists(config)) << "reading settings made a folder";

        EXPECT_EQ(optionsPathForWriting(), config + "/vortigo/VORTOptions.ini");
        EXPECT_TRUE(fs::is_directory(config + "/vortigo"));
        writeDefaults(optionsPath(), SavedDefaults{.width = 320});
        readOptions();
        EXPECT_EQ(projectFiles().imageWidth, 320);

        m_program.write("VORTOptions.ini", "[VORT]\nWidth=200\n");
        EXPECT_EQ(optionsPath(), m_program.file("VORTOptions.ini"));
        readOptions();
        EXPECT_EQ(projectFiles().imageWidth, 200);
        fs::remove(m_program.file("VORTOptions.ini"));
    }
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the standard says.
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(optionsPath(), m_home.path() + "/.config/vortigo/VORTOptions.ini");
}

TEST_F(UserFoldersTest, UserDirsFileNamesTheDesktopsFolders) {
    const std::string text = "# written by xdg-user-dirs-update\n"
                             "XDG_DOCUMENTS_DIR=\"$HOME/My Papers\"\n"
                             "XDG_VIDEOS_DIR=\"films\"\n"
                             "  XDG_MUSIC_DIR=\"/srv/music/\"\n";
    EXPECT_EQ(userDirsValue(text, "XDG_DOCUMENTS_DIR", "/home/ann"), "/home/ann/My Papers");
    EXPECT_EQ(userDirsValue(text, "XDG_MUSIC_DIR", "/home/ann"), "/srv/music");
    EXPECT_EQ(userDirsValue(text, "XDG_VIDEOS_DIR", "/home/ann"), "") << "relative";
    EXPECT_EQ(userDirsValue(text, "XDG_DOCUMENTS", "/home/ann"), "") << "a prefix of a key";

    ScopedEnv xdg("XDG_CONFIG_HOME", m_home.file("config"));
    fs::create_directories(m_home.file("config"));
    fs::create_directories(m_home.file("My Papers"));
    m_home.write("config/user-dirs.dirs", text);
    EXPECT_EQ(desktopUserFolder(UserFolder::Documents), m_home.file("My Papers"));
    // A named folder that is not there falls back to the usual one.
    EXPECT_EQ(desktopUserFolder(UserFolder::Videos), m_home.file("Videos"));
    fs::remove(m_home.file("Videos"));
    EXPECT_EQ(desktopUserFolder(UserFolder::Videos), m_home.path());
}

// An installed studio reads its default texts from the installation but
// names the user's folders for the project, the texts and the capture, so a
// Save (even as root) cannot write over a packaged file.
TEST_F(UserFoldersTest, NewProjectOfAnInstalledStudioSavesIntoTheUsersFolders) {
    const std::string installedScript = readFile(m_program.file("default_animation_script.anim"));
    setProgramDirectory(m_program.path(), true);
    ASSERT_TRUE(initialiseProjectState()); // resets to the defaults
    const ProjectFiles& files = projectFiles();
    const std::string documents = userFolder(UserFolder::Documents);
    EXPECT_EQ(std::string(files.projectFile), documents + "/default.vort");
    EXPECT_EQ(std::string(files.scriptFile), documents + "/default_animation_script.anim");
    EXPECT_EQ(std::string(files.layers[0].fragmentFile),
              documents + "/default_fragment_shader.frag");
    EXPECT_EQ(std::string(captureState().outputFile),
              userFolder(UserFolder::Videos) + "/mandelbrot.avi");
    EXPECT_EQ(std::string(files.scriptText.get()), installedScript);
    EXPECT_EQ(std::string(files.scriptFile).rfind(m_program.path(), 0), std::string::npos);

    // A build tree or portable copy keeps them beside the program.
    setProgramDirectory(m_program.path());
    resetToDefaults();
    EXPECT_EQ(std::string(files.scriptFile), m_program.file("default_animation_script.anim"));
}

} // namespace
} // namespace vortigo
