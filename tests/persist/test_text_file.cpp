#include "persist/TextFile.h"

#include "FuzzSeeds.h"
#include "core/ProjectTypes.h"
#include "platform/AtomicFile.h"
#include "platform/HeadlessPlatform.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vortigo;
namespace fs = std::filesystem;

namespace {

const char* const SAVE_ERROR = "There has been an error saving the script file.";

class TextFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_path = m_dir + "/script.anim";
        m_buffer = std::make_unique<char[]>(TEXT_SIZE);
        std::memset(m_buffer.get(), '#', TEXT_SIZE);
    }

    static void writeFile(const std::string& path, const std::string& bytes) {
        if (bytes.size() < 4096)
            test::keepAsFuzzSeed("text", std::to_string(std::hash<std::string>{}(bytes)), bytes);
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool load(const std::string& path) {
        return loadText(WindowId::Main, path, m_buffer.get(), TEXT_SIZE);
    }
    size_t entriesInFolder() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(m_dir), {}));
    }
    // The message names the file and says why, after the usual sentence.
    void expectSaveError(const std::string& path, const std::string& reason) const {
        expectOneMessage(std::string(SAVE_ERROR) + "\n" + path + ": " + reason);
    }

    void expectOneMessage(const std::string& text) const {
        const auto boxes = m_headless.messageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].owner, WindowId::Main);
        EXPECT_EQ(boxes[0].text, text);
        EXPECT_EQ(boxes[0].caption, "File Error");
        EXPECT_EQ(boxes[0].buttons, MsgButtons::Ok);
        EXPECT_EQ(boxes[0].icon, MsgIcon::Error);
    }

    HeadlessPlatform m_headless;
    ScopedPlatform m_installed{&m_headless};
    test::TempDir m_temp;
    std::string m_dir = m_temp.path();
    std::string m_path;
    std::unique_ptr<char[]> m_buffer;
};

TEST_F(TextFileTest, LoadCutsLongFilesToTheBufferAndSaysSo) {
    std::string bytes(TEXT_SIZE + 100, 'a');
    bytes[TEXT_SIZE - 2] = 'z'; // the last byte that fits
    bytes[TEXT_SIZE - 1] = 'Q'; // the first byte that does not
    writeFile(m_path, bytes);
    ASSERT_TRUE(load(m_path));
    EXPECT_EQ(m_buffer[TEXT_SIZE - 2], 'z');
    EXPECT_EQ(m_buffer[TEXT_SIZE - 1], '\0');
    EXPECT_EQ(std::strlen(m_buffer.get()), size_t(TEXT_SIZE - 1));

    ASSERT_EQ(m_headless.messageBoxes().size(), 1u);
    EXPECT_EQ(m_headless.messageBoxes()[0].text, TEXT_TOO_LONG);

    char small[4];
    ASSERT_TRUE(loadText(WindowId::Main, m_path, small, sizeof small));
    EXPECT_STREQ(small, "aaa");
    EXPECT_EQ(m_headless.messageBoxes().size(), 2u);

    // A file that fits exactly is no news.
    writeFile(m_path, "abc");
    ASSERT_TRUE(loadText(WindowId::Main, m_path, small, sizeof small));
    EXPECT_EQ(m_headless.messageBoxes().size(), 2u);
}

TEST_F(TextFileTest, LoadKeepsBytesAsTheyStand) {
    writeFile(m_path, "");
    ASSERT_TRUE(load(m_path));
    EXPECT_EQ(m_buffer[0], '\0');
    EXPECT_EQ(m_buffer[1], '#');

    const std::string bytes("line\r\n\xff\xfe\0tail\n", 14);
    writeFile(m_path, bytes);
    ASSERT_TRUE(load(m_path));
    EXPECT_EQ(std::string(m_buffer.get(), bytes.size() + 1), bytes + '\0');
}

TEST_F(TextFileTest, LoadOfAReadOnlyFileSucceeds) {
    writeFile(m_path, "void udSetup() {}\r\n");
    ASSERT_EQ(chmod(m_path.c_str(), 0444), 0);
    ASSERT_TRUE(load(m_path));
    EXPECT_STREQ(m_buffer.get(), "void udSetup() {}\r\n");
}

TEST_F(TextFileTest, FailedLoadNamesThePathAndLeavesTheBuffer) {
    const std::string missing = m_dir + "/missing.frag";
    EXPECT_FALSE(load(missing));
    expectOneMessage("There has been an error opening the text file: " + missing);
    EXPECT_EQ(m_buffer[0], '#');

    m_headless.clearRecords();
    EXPECT_FALSE(load(m_dir)); // a folder is no text
    expectOneMessage("There has been an error opening the text file: " + m_dir);
    EXPECT_EQ(m_buffer[0], '#');
}

TEST_F(TextFileTest, SavedTextLoadsBackByteForByte) {
    writeFile(m_path, std::string(5000, 'o')); // an older, longer text
    const std::string text = "float x;\r\nvoid main()\r\n{\r\n}\r\n\xc3\xa9\n\r";
    ASSERT_TRUE(saveText(WindowId::Main, m_path, text.c_str()));
    EXPECT_EQ(readFile(m_path), text);
    ASSERT_TRUE(load(m_path));
    EXPECT_EQ(std::string(m_buffer.get()), text);

    ASSERT_TRUE(saveText(WindowId::Main, m_path, ""));
    EXPECT_EQ(fs::file_size(m_path), 0u);
    EXPECT_EQ(entriesInFolder(), 1u); // no temporary file left behind
    EXPECT_TRUE(m_headless.messageBoxes().empty());
}

TEST_F(TextFileTest, SaveKeepsPermissionBits) {
    writeFile(m_path, "old");
    for (mode_t mode : {0640, 0600, 0755}) {
        ASSERT_EQ(chmod(m_path.c_str(), mode), 0);
        ASSERT_TRUE(saveText(WindowId::Main, m_path, "new"));
        struct stat info;
        ASSERT_EQ(stat(m_path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode);
    }
}

TEST_F(TextFileTest, SaveWritesThroughSymbolicLinks) {
    fs::create_directory(m_dir + "/real");
    const std::string target = m_dir + "/real/shader.frag";
    writeFile(target, "old");
    const std::string hop = m_dir + "/hop.frag";
    ASSERT_EQ(symlink("real/shader.frag", hop.c_str()), 0); // relative link
    ASSERT_EQ(symlink(hop.c_str(), m_path.c_str()), 0);     // a chain of two

    ASSERT_TRUE(saveText(WindowId::Main, m_path, "new"));
    EXPECT_TRUE(fs::is_symlink(m_path));
    EXPECT_TRUE(fs::is_symlink(hop));
    EXPECT_EQ(readFile(target), "new");

    const std::string dangling = m_dir + "/dangling.vert";
    ASSERT_EQ(symlink("created.vert", dangling.c_str()), 0);
    ASSERT_TRUE(saveText(WindowId::Main, dangling, "made"));
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(readFile(m_dir + "/created.vert"), "made");
}

TEST_F(TextFileTest, SaveThatCannotStartReportsAndTouchesNothing) {
    EXPECT_FALSE(saveText(WindowId::Main, m_dir + "/missing/script.anim", "text"));
    expectSaveError(m_dir + "/missing/script.anim", "No such file or directory");

    const std::string folder = m_dir + "/folder.anim";
    fs::create_directory(folder);
    writeFile(folder + "/inside", "kept");
    m_headless.clearRecords();
    EXPECT_FALSE(saveText(WindowId::Main, folder, "text"));
    expectSaveError(folder, "Is a directory");
    EXPECT_EQ(readFile(folder + "/inside"), "kept");

    const std::string loop = m_dir + "/loop.anim";
    ASSERT_EQ(symlink("loop.anim", loop.c_str()), 0);
    m_headless.clearRecords();
    EXPECT_FALSE(saveText(WindowId::Main, loop, "text"));
    expectSaveError(loop, "Too many levels of symbolic links");
}

// A write that fails half-way (here: the file size limit) must leave the old
// text whole, because the editor's copy may be the only other one.
TEST_F(TextFileTest, SaveFailingWhileWritingKeepsTheOldFile) {
    writeFile(m_path, "the old script");
    rlimit previous;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    const bool saved = saveText(WindowId::Main, m_path, std::string(1000, 'n').c_str());

    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(saved);
    expectSaveError(m_path, "File too large");
    EXPECT_EQ(readFile(m_path), "the old script");
    EXPECT_EQ(entriesInFolder(), 1u);
}

// What a killed save leaves is recognised by its name and the lock nobody
// holds, and the next save of that file clears it; a save running at the
// same moment is refused instead of mixing bytes with this one.
TEST_F(TextFileTest, SaveClearsALeftoverAndIsRefusedWhileAnotherRuns) {
    writeFile(m_path, "old");
    writeFile(temporaryNameFor(m_path), "half a scr");
    ASSERT_TRUE(saveText(WindowId::Main, m_path, "new"));
    EXPECT_EQ(readFile(m_path), "new");
    EXPECT_EQ(entriesInFolder(), 1u);

    AtomicFile other;
    ASSERT_TRUE(other.open(m_path, LinkPolicy::Follow));
    EXPECT_FALSE(saveText(WindowId::Main, m_path, "mixed"));
    expectSaveError(m_path, "the file is in use (another process is writing it)");
    ASSERT_TRUE(other.write("theirs", 6));
    ASSERT_TRUE(other.commit());
    EXPECT_EQ(readFile(m_path), "theirs");
    EXPECT_EQ(entriesInFolder(), 1u);
}

} // namespace
