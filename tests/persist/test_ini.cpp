#include "persist/Ini.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vortigo;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

class IniTest : public ::testing::Test {
  protected:
    void SetUp() override { m_path = m_dir + "/test.ini"; }

    void writeFile(const std::string& bytes) const { writeFile(m_path, bytes); }
    static void writeFile(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::string readFile() const {
        std::ifstream in(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    size_t entriesInFolder() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(m_dir), {}));
    }

    test::TempDir m_temp;
    std::string m_dir = m_temp.path();
    std::string m_path;
};

TEST_F(IniTest, ReadFindsFirstMatchesInAnyCaseAndTrimsBlanks) {
    EXPECT_EQ(iniRead(m_path, "VORT", "Width"), std::nullopt); // no file
    writeFile("Loose=1\r\n[Other]\r\nHeight=2\r\n[vort]\r\n;Width=5\r\n  wIDTH  =  800  \r\n"
              "width=2\r\nFont=\tCourier New\t\r\nText=a=b\r\nEmpty=\r\nQuoted=\"  x \"\r\n"
              "Half=\"y\r\n[VORT]\r\nLate=9\r\nLast=1");
    EXPECT_EQ(iniRead(m_path, "VORT", "Width"), "800");
    EXPECT_EQ(iniRead(m_path, "Vort", "font"), "Courier New");
    EXPECT_EQ(iniRead(m_path, "VORT", "Text"), "a=b");
    EXPECT_EQ(iniRead(m_path, "VORT", "Empty"), "");
    EXPECT_EQ(iniRead(m_path, "VORT", "Quoted"), "  x ");
    EXPECT_EQ(iniRead(m_path, "VORT", "Half"), "\"y");
    for (const char* key : {"Loose", "Height", "Late", "Last", "Missing"})
        EXPECT_EQ(iniRead(m_path, "VORT", key), std::nullopt) << key;
    EXPECT_EQ(iniRead(m_path, "Other", "Height"), "2");
    EXPECT_EQ(iniRead(m_path, "Missing", "Height"), std::nullopt);
}

TEST_F(IniTest, WriteReplacesOnlyItsLine) {
    const std::string before = "; my options\n\n[Other]\nWidth=1\n[VORT]\n  WIDTH = 5 \n"
                               "# odd line\nWidth=6\n\n[Last]\nx=y";
    writeFile(before);
    ASSERT_TRUE(iniWrite(m_path, "vort", "Width", "800"));
    EXPECT_EQ(readFile(), "; my options\n\n[Other]\nWidth=1\n[VORT]\nWidth=800\n"
                          "# odd line\nWidth=6\n\n[Last]\nx=y");
}

TEST_F(IniTest, MissingKeyGoesAfterTheSectionsLastNonBlankLine) {
    writeFile("[VORT]\nWidth=5\n; note\n\n\n[Last]\nx=y\n");
    ASSERT_TRUE(iniWrite(m_path, "VORT", "Height", "600"));
    EXPECT_EQ(readFile(), "[VORT]\nWidth=5\n; note\nHeight=600\n\n\n[Last]\nx=y\n");

    writeFile("[VORT]\n\n[Last]\n");
    ASSERT_TRUE(iniWrite(m_path, "VORT", "Height", "1"));
    EXPECT_EQ(readFile(), "[VORT]\nHeight=1\n\n[Last]\n");

    writeFile("[VORT]\nWidth=5");
    ASSERT_TRUE(iniWrite(m_path, "VORT", "Height", "2"));
    EXPECT_EQ(readFile(), "[VORT]\nWidth=5\nHeight=2\n");
}

TEST_F(IniTest, MissingSectionIsAppendedAndMissingFileCreated) {
    ASSERT_TRUE(iniWrite(m_path, "VORT", "Width", "640"));
    EXPECT_EQ(readFile(), "[VORT]\nWidth=640\n");

    writeFile("[Other]\nx=1");
    ASSERT_TRUE(iniWrite(m_path, "VORT", "Width", "640"));
    EXPECT_EQ(readFile(), "[Other]\nx=1\n[VORT]\nWidth=640\n");
    EXPECT_EQ(iniRead(m_path, "VORT", "Width"), "640");
}

TEST_F(IniTest, CrLfFilesStayCrLf) {
    writeFile("[VORT]\r\nWidth=5\r\n\r\n");
    ASSERT_TRUE(iniWrite(m_path, "VORT", "Width", "6"));
    ASSERT_TRUE(iniWrite(m_path, "VORT", "Height", "7"));
    ASSERT_TRUE(iniWrite(m_path, "New", "k", "v"));
    EXPECT_EQ(readFile(), "[VORT]\r\nWidth=6\r\nHeight=7\r\n\r\n[New]\r\nk=v\r\n");
}

TEST_F(IniTest, RefusesWhatOneLineCannotHold) {
    writeFile("[VORT]\nWidth=5\n");
    EXPECT_FALSE(iniWrite(m_path, "VORT", "Width", "1\n[Evil]\nx=1"));
    EXPECT_FALSE(iniWrite(m_path, "VORT", "Width",
                          std::string("1\0"
                                      "2",
                                      3)));
    EXPECT_FALSE(iniWrite(m_path, "VORT", "Wi=dth", "1"));
    EXPECT_FALSE(iniWrite(m_path, "VORT", "", "1"));
    EXPECT_FALSE(iniWrite(m_path, "VORT", " Width", "1"));
    EXPECT_FALSE(iniWrite(m_path, "VORT", ";Width", "1"));
    EXPECT_FALSE(iniWrite(m_path, "VO]RT", "Width", "1"));
    EXPECT_FALSE(iniWrite(m_path, "", "Width", "1"));
    EXPECT_EQ(readFile(), "[VORT]\nWidth=5\n");
}

TEST_F(IniTest, WriteFailsWhereNoFileCanBe) {
    EXPECT_FALSE(iniWrite(m_dir + "/missing/test.ini", "VORT", "Width", "1"));
    EXPECT_FALSE(iniWrite(m_dir, "VORT", "Width", "1"));
    EXPECT_TRUE(fs::is_directory(m_dir));
    EXPECT_EQ(iniRead(m_dir, "VORT", "Width"), std::nullopt);
}

TEST_F(IniTest, WriteIsAtomicAndKeepsModeAndLinks) {
    const std::string real = m_dir + "/real.ini";
    writeFile(real, "[VORT]\nWidth=5\n");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(symlink("real.ini", m_path.c_str()), 0);

    ASSERT_TRUE(iniWrite(m_path, "VORT", "Width", "6"));
    EXPECT_TRUE(fs::is_symlink(m_path));
    EXPECT_EQ(iniRead(real, "VORT", "Width"), "6");
    struct stat info;
    ASSERT_EQ(stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(entriesInFolder(), 2u); // no temporary file left behind
}

TEST_F(IniTest, BinaryGarbageAndNulsAreKeptAndSkipped) {
    std::mt19937 random(7);
    std::string garbage;
    for (int i = 0; i < 20000; ++i)
        garbage += static_cast<char>(random() & 0xFF);
    garbage += std::string("\0\0[VORT\0]\n", 10);
    writeFile(garbage + "\n[VORT]\nWidth=800\nFont=a\0b\n"s);

    EXPECT_EQ(iniRead(m_path, "VORT", "Width"), "800");
    EXPECT_EQ(iniRead(m_path, "VORT", "Font"), std::string("a\0b", 3));
    ASSERT_TRUE(iniWrite(m_path, "VORT", "Width", "1"));
    EXPECT_EQ(readFile(), garbage + "\n[VORT]\nWidth=1\nFont=a\0b\n"s);
}

TEST_F(IniTest, VeryLongLinesAreOrdinaryLines) {
    const std::string longValue(100000, 'v');
    const std::string longComment = "; " + std::string(70000, 'c') + "\n";
    writeFile(longComment + "[VORT]\nLong=" + longValue + "\nWidth=5\n");
    EXPECT_EQ(iniRead(m_path, "VORT", "Long"), longValue);
    ASSERT_TRUE(iniWrite(m_path, "VORT", "Width", "6"));
    EXPECT_EQ(readFile(), longComment + "[VORT]\nLong=" + longValue + "\nWidth=6\n");
}

TEST_F(IniTest, OversizedFilesAreNeitherReadNorRewritten) {
    writeFile("[VORT]\nWidth=5\n");
    ASSERT_EQ(truncate(m_path.c_str(), static_cast<off_t>(INI_MAX_BYTES) + 1), 0);
    EXPECT_EQ(iniRead(m_path, "VORT", "Width"), std::nullopt);
    EXPECT_FALSE(iniWrite(m_path, "VORT", "Width", "6"));
    EXPECT_EQ(fs::file_size(m_path), INI_MAX_BYTES + 1);
    std::ifstream in(m_path, std::ios::binary);
    std::string head(15, '\0');
    in.read(head.data(), 15);
    EXPECT_EQ(head, "[VORT]\nWidth=5\n");
}

} // namespace
