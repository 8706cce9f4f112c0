// The project file: round trips of every field, the number forms, the token
// rules, locate file, the after-load sequence and the refusals that must keep
// the open project.
#include "FuzzSeeds.h"
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/Numbers.h"
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "core/ShaderParams.h"
#include "flight/QuatMath.h"
#include "persist/FlightFile.h"
#include "persist/ProjectFile.h"
#include "script/ScriptFixture.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/fs.h>
#include <random>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace vortigo {
namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A name entry as the writer writes it.
std::string nameEntry(const std::string& key, const std::string& name) {
    return key + "=" + std::to_string(name.size()) + "\n" + name + "\n";
}

class ProjectFileTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        m_project = m_dir.file("my project/scene.vort");
        fs::create_directories(m_dir.file("my project"));
    }

    // A text file inside the project folder, named `name`.
    std::string text(const std::string& name, const std::string& bytes) const {
        const std::string path = m_dir.file("my project/" + name);
        m_dir.write("my project/" + name, bytes);
        return path;
    }

    std::string header() const { return std::string(PROJECT_MAGIC) + "\nVERSION=2.00\n"; }

    // A project whose texts all exist, so loading it shows no message.
    std::string minimalProject(const std::string& extra = "") const {
        return header() + extra + nameEntry("VSFILE", text("a.vert", "vertex")) +
               nameEntry("FSFILE", text("a.frag", "fragment")) +
               nameEntry("ASFILE", text("a.anim", "script"));
    }

    bool loadText(const std::string& bytes) {
        test::keepAsFuzzSeed("project", "loaded_" + std::to_string(++m_loads) + ".vort", bytes);
        m_dir.write("my project/scene.vort", bytes);
        return loadProject(m_project, &m_shown);
    }

    std::string m_project;
    ShownText m_shown;
    int m_loads = 0;
};

TEST_F(ProjectFileTest, EveryFieldSurvivesASaveAndALoad) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    CaptureState& capture = captureState();
    files.imageWidth = 800;
    files.imageHeight = 601;
    capture.useMotionBlur = 1;
    files.despeckle = 1;
    files.superSample = 1;
    capture.maxAviFrames = 250;
    files.dofEnabled = 1;
    files.dofScale = 2.75f;
    files.dofOffset = 0.05f;
    files.maxDepth = 123456.789f;
    camera.xCenter = -1.0e-7f;
    camera.yCenter = 3.4e38f;
    camera.zLens = -2.5f;
    camera.animTime = 1.0f / 3.0f;
    camera.animationSpeed = 0.01f;
    capture.aviFps = 30;
    setCameraQuat(normalizeQuat({0.1f, -0.2f, 0.3f, 0.9f}));
    for (int i = 0; i < 16; ++i)
        camera.udef[i] = 0.05f * static_cast<float>(i) - 0.3f;
    // Names with spaces and "=" are read by length.
    const std::string names[] = {"v 1=x.vert", "f 1.frag", "v=2.vert", "f 2.frag",
                                 "v3.vert",    "f 3.frag", "v4.vert",  "f4 = .frag"};
    for (int i = 0; i < LAYER_COUNT; ++i) {
        storePath(files.layers[i].vertexFile, text(names[2 * i], "vertex " + std::to_string(i)));
        storePath(files.layers[i].fragmentFile,
                  text(names[2 * i + 1], "fragment " + std::to_string(i)));
        storePath(files.layers[i].backgroundFile, text("bg " + std::to_string(i) + ".jpg", "x"));
        *files.layers[i].videoFrameCounter = 10 + i;
    }
    storePath(files.scriptFile, text("my = script.anim", "int x;"));
    storePath(capture.outputFile, m_dir.file("out put.avi"));
    storePath(capture.audioFile, text("sound track.wav", "RIFF"));
    const std::string flight = text("path.vorn", std::string(1, '\x0c'));
    storePath(files.flightFile, flight);

    ASSERT_TRUE(saveProject(m_project));
    EXPECT_EQ(std::string(files.projectFile), m_project);
    const std::string written = readFile(m_project);
    test::keepAsFuzzSeed("project", "every_field.vort", written);
    EXPECT_EQ(written.find('\r'), std::string::npos) << "LF line ends only";
    const float rotation[3] = {camera.cameraRotation[0], camera.cameraRotation[1],
                               camera.cameraRotation[2]};
    const float quat[4] = {camera.cameraQuat[0], camera.cameraQuat[1], camera.cameraQuat[2],
                           camera.cameraQuat[3]};

    // Everything else: what a new project holds.
    resetToDefaults();
    files.imageWidth = 1;
    std::fill(camera.udef.get(), camera.udef.get() + 16, 9.0f);
    camera.cameraRotation[0] = 7;
    ASSERT_TRUE(loadProject(m_project));
    EXPECT_TRUE(m_platform.messageBoxes().empty()) << m_platform.messageBoxes()[0].text;

    EXPECT_EQ(std::tuple(files.imageWidth, files.imageHeight, capture.useMotionBlur,
                         files.despeckle, files.superSample, capture.maxAviFrames, files.dofEnabled,
                         capture.aviFps),
              std::tuple(800, 601, 1, 1, 1, 250, 1, 30));
    // 15 significant digits carry every float exactly.
    EXPECT_EQ(files.dofScale, 2.75f);
    EXPECT_EQ(files.dofOffset, 0.05f);
    EXPECT_EQ(files.maxDepth, 123456.789f);
    EXPECT_EQ(camera.xCenter, -1.0e-7f);
    EXPECT_EQ(camera.yCenter, 3.4e38f);
    EXPECT_EQ(camera.zLens, -2.5f);
    EXPECT_EQ(camera.animTime, 1.0f / 3.0f);
    EXPECT_EQ(camera.animationSpeed, 0.01f);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(camera.cameraRotation[i], rotation[i]) << i;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(camera.cameraQuat[i], quat[i]) << i;
    Matrix3 expected;
    quatToMatrix(quatFrom(quat), expected);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(camera.cameraMatrix[r][c], expected[r][c]);
    // udef values keep six significant digits.
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(camera.udef[i],
                  parseFloat(formatC("%.5e", 0.05f * static_cast<float>(i) - 0.3f).c_str()))
            << i;

    for (int i = 0; i < LAYER_COUNT; ++i) {
        const LayerSlot& layer = files.layers[i];
        EXPECT_EQ(std::string(layer.vertexFile), m_dir.file("my project/" + names[2 * i]));
        EXPECT_EQ(std::string(layer.fragmentFile), m_dir.file("my project/" + names[2 * i + 1]));
        EXPECT_EQ(std::string(layer.vertexText.get()), "vertex " + std::to_string(i));
        EXPECT_EQ(std::string(layer.fragmentText.get()), "fragment " + std::to_string(i));
        EXPECT_EQ(std::string(layer.backgroundFile),
                  m_dir.file("my project/bg " + std::to_string(i) + ".jpg"));
        EXPECT_EQ(*layer.videoFrameCounter, 10 + i);
    }
    EXPECT_EQ(std::string(files.scriptText.get()), "int x;");
    EXPECT_EQ(std::string(capture.outputFile), m_dir.file("out put.avi"));
    EXPECT_EQ(std::string(capture.audioFile), m_dir.file("my project/sound track.wav"));
    EXPECT_EQ(std::string(files.flightFile), flight);

    // Written again, the file is the same byte for byte.
    ASSERT_TRUE(saveProject(m_dir.file("again.vort")));
    EXPECT_EQ(readFile(m_dir.file("again.vort")), written);
}

TEST_F(ProjectFileTest, EntriesAreWrittenInTheTableOrderAndOptionalOnesOnlyWhenSet) {
    ProjectFiles& files = projectFiles();
    CaptureState& capture = captureState();
    storePath(files.flightFile, "x");      // one character: no file anyone chose
    files.layers[0].backgroundFile[0] = 0; // a reset keeps layer 1's background
    capture.audioFile[0] = 0;
    capture.outputFile[0] = 0;
    ASSERT_TRUE(saveProject(m_project));
    std::istringstream lines(readFile(m_project));
    std::vector<std::string> keys;
    for (std::string line; std::getline(lines, line);)
        keys.push_back(line.substr(0, line.find('=')));
    const std::vector<std::string> head = {
        PROJECT_MAGIC, "VERSION",     "WIDTH",        "HEIGHT",  "USEMOTIONBLUR",
        "DESPECKLE",   "SUPERSAMPLE", "MAXAVIFRAMES", "DOF",     "DOF_SCALE",
        "DOF_OFFSET",  "MAX_DEPTH",   "XCENTER",      "YCENTER", "ZLENS",
        "ANGLE",       "ANIMSPEED",   "FRAMESPERSEC", "OUTPUT",  "",
        "VSFILE"};
    ASSERT_GE(keys.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + head.size()), head);
    const std::string text = readFile(m_project);
    EXPECT_NE(text.find("\nOUTPUT=0\n\nVSFILE="), std::string::npos);
    for (const char* absent : {"AUDIO", "FLIGHTDATA", "VIDFRAME", "BGIMAGE", "2ND_"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;
    EXPECT_NE(text.find("\nCAMERAQUATW=1.\nUDEF0=0.\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("\nUDEF15=0.\n"));
}

TEST(ProjectReal, WritesTheDesignedNumberForms) {
    EXPECT_EQ(formatProjectReal(0.5, 15), "0.5");
    EXPECT_EQ(formatProjectReal(1, 15), "1.");
    EXPECT_EQ(formatProjectReal(0.05f, 15), "5.00000007450581e-002");
    EXPECT_EQ(formatProjectReal(0.05f, 6), "5.e-002");
    EXPECT_EQ(formatProjectReal(0, 15), "0.");
    EXPECT_EQ(formatProjectReal(-2.5, 15), "-2.5");
    EXPECT_EQ(formatProjectReal(10, 6), "10.");
    EXPECT_EQ(formatProjectReal(123456789012345.0, 15), "123456789012345.");
    EXPECT_EQ(formatProjectReal(1e15, 15), "1.e+015");
    EXPECT_EQ(formatProjectReal(-3.4e38f, 6), "-3.4e+038");
    EXPECT_EQ(formatProjectReal(1e-300, 15), "1.e-300");
    EXPECT_EQ(formatProjectReal(0.0999999999999999999, 15), "0.1");
}

TEST(ProjectReal, FifteenDigitsReadBackAsTheSameFloat) {
    std::mt19937 random(7);
    std::uniform_int_distribution<uint32_t> bits;
    for (int i = 0; i < 20000; ++i) {
        const uint32_t word = bits(random);
        float value;
        std::memcpy(&value, &word, sizeof value);
        if (!std::isfinite(value)) continue;
        const std::string text = formatProjectReal(value, 15);
        ASSERT_EQ(parseFloat(text.c_str()), value) << text;
    }
}

TEST_F(ProjectFileTest, AProjectWrittenHereLoadsInALocaleWithADecimalComma) {
    projectFiles().dofScale = 2.5f;
    cameraFlight().udef[3] = 0.125f;
    ASSERT_TRUE(saveProject(m_project));
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
        chosen = chosen ? chosen : std::setlocale(LC_ALL, name);
    if (!chosen) GTEST_SKIP() << "no locale with a decimal comma is installed";
    projectFiles().dofScale = 0;
    cameraFlight().udef[3] = 0;
    ASSERT_TRUE(saveProject(m_dir.file("comma.vort")));
    const bool loaded = loadProject(m_project);
    std::setlocale(LC_ALL, "C");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(projectFiles().dofScale, 2.5f);
    EXPECT_EQ(cameraView().udef[3], 0.125f);
    EXPECT_EQ(readFile(m_dir.file("comma.vort")).find(','), std::string::npos);
}

TEST_F(ProjectFileTest, TheTokenRules) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    CaptureState& capture = captureState();
    files.despeckle = 0;
    capture.maxAviFrames = 5;
    camera.udef[2] = 2.0f;
    camera.udef[1] = 1.0f;
    files.dofScale = 4.0f;
    const std::string longToken = std::string(300, 'x') + "DESPECKLE=3";
    ASSERT_TRUE(
        loadText(minimalProject("WIDTH=0x10\r\n"
                                "HEIGHT=0640\n"
                                "FRAMESPERSEC=abc\n"
                                "MAXAVIFRAMES=-0x1f\n"
                                "USEMOTIONBLUR==7\n" // key "USEMOTIONBLUR=": no match
                                "DOF_SCALE=1,5\n"    // stops at the comma
                                "DOF_OFFSET=junk\n"  // no number: 0
                                "UDEF16=9 UDEF01=9 UDEF2=0.5e1\n" +
                                longToken + "\nANTIALIASING=4 VERSION=3\twidth=9 garbage\n")));
    EXPECT_EQ(files.imageWidth, 16);
    EXPECT_EQ(files.imageHeight, 416);
    EXPECT_EQ(capture.aviFps, 25);
    EXPECT_EQ(capture.maxAviFrames, -31);
    EXPECT_EQ(capture.useMotionBlur, 0);
    EXPECT_EQ(files.dofScale, 1.0f);
    EXPECT_EQ(files.dofOffset, 0.0f);
    EXPECT_EQ(camera.udef[1], 1.0f);
    EXPECT_EQ(camera.udef[2], 5.0f);
    EXPECT_EQ(files.despeckle, 0);
}

TEST_F(ProjectFileTest, SizesAndRatesBelowOneAreNamedWithTheirValueAndKept) {
    ProjectFiles& files = projectFiles();
    const CaptureState& capture = captureView();
    files.despeckle = 0;
    ASSERT_TRUE(
        loadText(minimalProject("WIDTH=0 HEIGHT=-1\nFRAMESPERSEC=0\nDESPECKLE=1\nHEIGHT=0x10\n")));
    EXPECT_EQ(boxTexts(), std::vector<std::string>{
                              "WIDTH=0 cannot be used: it must be 1 or more. WIDTH stays 640.\n"
                              "HEIGHT=-1 cannot be used: it must be 1 or more. HEIGHT stays 480.\n"
                              "FRAMESPERSEC=0 cannot be used: it must be 1 or more. FRAMESPERSEC "
                              "stays 25."});
    EXPECT_EQ(std::tuple(files.imageWidth, files.imageHeight, capture.aviFps),
              std::tuple(640, 16, 25));
    EXPECT_EQ(files.despeckle, 1); // the rest of the project loads
    EXPECT_TRUE(runState().compileRequest);
}

TEST_F(ProjectFileTest, ABadNameLengthLeavesTheFieldAndItsLineIsReadAsTokens) {
    ProjectFiles& files = projectFiles();
    const CaptureState& capture = captureView();
    const std::string keptOutput = capture.outputFile;
    files.despeckle = 0;
    files.superSample = 0;
    ASSERT_TRUE(loadText(minimalProject("OUTPUT=260\r\nDESPECKLE=1\nAUDIO=-1\nSUPERSAMPLE=1\n"
                                        "FLIGHTDATA=x\nVIDFRAME1=1\n")));
    EXPECT_EQ(std::string(capture.outputFile), keptOutput);
    EXPECT_EQ(files.despeckle, 1);
    EXPECT_EQ(files.superSample, 1);
    EXPECT_STREQ(capture.audioFile, "");
    // A CR LF after the length line is one character, and the name is
    // exactly its bytes.
    ASSERT_TRUE(loadText(minimalProject("OUTPUT=6\r\nc:\\a b\r\nAUDIO=0\r\n\r\n")));
    EXPECT_EQ(std::string(capture.outputFile), "c:\\a b");
    EXPECT_STREQ(capture.audioFile, "");
}

TEST_F(ProjectFileTest, LocateFileFindsMovedFilesBesideTheProject) {
    const std::string beside = text("wave.frag", "x");
    const std::string project = m_project;
    for (const std::string stored :
         {"C:\\Users\\me\\old place\\wave.frag", "/home/me/old place/wave.frag", "wave.frag"}) {
        char field[PATH_SIZE];
        storePath(field, stored);
        locateFile(field, project);
        EXPECT_EQ(std::string(field), beside) << stored;
    }
    // A project path from Windows splits at its backslash too.
    char field[PATH_SIZE];
    storePath(field, "/gone/a.vert");
    locateFile(field, "D:\\work\\p.vort");
    EXPECT_EQ(std::string(field), "D:\\work\\a.vert");

    // An existing file stays; without a folder, an empty name or a result
    // that would not fit, nothing changes.
    storePath(field, beside);
    locateFile(field, "/elsewhere/p.vort");
    EXPECT_EQ(std::string(field), beside);
    storePath(field, "/gone/a.vert");
    locateFile(field, "p.vort");
    EXPECT_EQ(std::string(field), "/gone/a.vert");
    field[0] = 0;
    locateFile(field, project);
    EXPECT_STREQ(field, "");
    const std::string deepFolder = "/" + std::string(250, 'd') + "/";
    storePath(field, "/gone/long-name.vert");
    locateFile(field, deepFolder + "p.vort");
    EXPECT_EQ(std::string(field), "/gone/long-name.vert");
}

TEST_F(ProjectFileTest, AfterLoadRunsInOrderAndAFailingTextKeepsLoadingTheRest) {
    ProjectFiles& files = projectFiles();
    const CameraFlight& camera = cameraView();
    const std::string good = text("good.frag", "good");
    text("ring.vorn", std::string(1, '\x0b')); // a wrong count byte
    runState().compileRequest.clear();
    runState().resizeRequest.clear();
    runState().buffersReady.set();
    const std::string missingVertex = m_dir.file("my project/missing.vert");
    const std::string missingScript = m_dir.file("my project/missing.anim");
    ASSERT_TRUE(loadText(header() + nameEntry("VSFILE", missingVertex) + nameEntry("FSFILE", good) +
                         nameEntry("2ND_VSFILE", good) +
                         nameEntry("3RD_FSFILE", m_dir.file("my project/missing3.frag")) +
                         nameEntry("ASFILE", missingScript) +
                         nameEntry("FLIGHTDATA", m_dir.file("my project/ring.vorn")) +
                         "CAMERAQUATX=1\nCAMERAQUATW=0\nXCENTER=4\n"));
    const std::vector<std::string> expected = {
        "There has been an error opening the text file: " + missingVertex,
        "There has been an error opening the text file: " + m_dir.file("my project/missing3.frag"),
        "There has been an error opening the text file: " + missingScript,
        "Could not read from file"};
    EXPECT_EQ(boxTexts(), expected);
    EXPECT_STREQ(files.layers[0].fragmentText.get(), "good");
    EXPECT_STREQ(files.layers[1].vertexText.get(), "good");
    // The last text that loaded decides what the editor shows.
    EXPECT_EQ(m_shown.layer, 1);
    EXPECT_EQ(m_shown.kind, KIND_VERTEX);
    // The ring holds the one record of the loaded camera.
    EXPECT_EQ(flightRecordCount(), 1);
    EXPECT_EQ(camera.flightBuffer[0], 4.0f);
    EXPECT_EQ(camera.cameraMatrix[1][1], -1.0);
    EXPECT_TRUE(runState().compileRequest);
    EXPECT_TRUE(runState().resizeRequest);
    EXPECT_FALSE(runState().buffersReady);
}

TEST_F(ProjectFileTest, AFileThatIsNotAProjectChangesNothing) {
    ProjectFiles& files = projectFiles();
    const std::string projectBefore = files.projectFile;
    const std::string vertexBefore = files.layers[0].vertexText.get();
    const std::string fileBefore = files.layers[0].vertexFile;
    files.layers[0].fragmentDirty = 1;
    runState().buffersReady.set();
    runState().compileRequest.clear();
    for (const std::string& bytes :
         {std::string("cobblewick_vortigo_file\nWIDTH=3\n"), std::string(""),
          std::string("Cobblewick_Vortigo_FileX WIDTH=3")}) {
        m_platform.clearRecords();
        EXPECT_FALSE(loadText(bytes));
        EXPECT_EQ(boxTexts(), std::vector<std::string>{"Not a proper .vort file:"});
    }
    m_platform.clearRecords();
    EXPECT_FALSE(loadProject(m_dir.file("nothing here.vort")));
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Could not open file."});
    EXPECT_EQ(std::string(files.projectFile), projectBefore);
    EXPECT_EQ(std::string(files.layers[0].vertexText.get()), vertexBefore);
    EXPECT_EQ(std::string(files.layers[0].vertexFile), fileBefore);
    EXPECT_EQ(files.layers[0].fragmentDirty, 1);
    EXPECT_EQ(files.imageWidth, 640);
    EXPECT_TRUE(runState().buffersReady);
    EXPECT_FALSE(runState().compileRequest);
}

TEST_F(ProjectFileTest, MissingEntriesKeepTheirFieldsAndOneCharacterFlightNamesAreUnused) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    camera.udef[5] = 5.5f;
    camera.animTime = 2.0f;
    const std::string flight = text("keep.vorn", std::string(1, '\x0c'));
    storePath(files.flightFile, flight);
    ASSERT_TRUE(loadText(minimalProject("UDEF4=1\n")));
    EXPECT_EQ(camera.udef[5], 5.5f);
    EXPECT_EQ(camera.udef[4], 1.0f);
    EXPECT_EQ(camera.animTime, 2.0f);
    // The flight file of the previous project is read again: it is empty.
    EXPECT_EQ(std::string(files.flightFile), flight);
    EXPECT_EQ(flightRecordCount(), 0);

    storePath(files.flightFile, "q");
    m_platform.clearRecords();
    ASSERT_TRUE(loadText(minimalProject()));
    EXPECT_TRUE(m_platform.messageBoxes().empty());
    EXPECT_EQ(flightRecordCount(), 1);

    // Stored in the file, the one-character name is not moved beside the
    // project (which would make it a long name that is then loaded).
    ASSERT_TRUE(loadText(minimalProject(nameEntry("FLIGHTDATA", "q"))));
    EXPECT_TRUE(m_platform.messageBoxes().empty());
    EXPECT_STREQ(files.flightFile, "q");
    EXPECT_EQ(flightRecordCount(), 1);
    EXPECT_EQ(projectFileText().find("FLIGHTDATA"), std::string::npos);
}

TEST_F(ProjectFileTest, AFailedSaveKeepsTheOldFileAndTheProjectName) {
    ASSERT_TRUE(loadText(minimalProject()));
    const std::string old = readFile(m_project);
    const std::string projectBefore = projectFiles().projectFile;

    // A write that fails half-way (the file size limit).
    rlimit previous;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = saveProject(m_dir.file("my project/other.vort"));
    const bool savedOver = saveProject(m_project);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(saved);
    EXPECT_FALSE(savedOver);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{
                              "Could not write to file\n" + m_dir.file("my project/other.vort") +
                                  ": File too large",
                              "Could not write to file\n" + m_project + ": File too large"}));
    EXPECT_EQ(readFile(m_project), old);
    EXPECT_FALSE(fs::exists(m_dir.file("my project/other.vort")));
    EXPECT_EQ(std::string(projectFiles().projectFile), projectBefore);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.file("my project")), {}), 4);
}

TEST_F(ProjectFileTest, ReadOnlyFilesAreRefusedAndUnwritableFoldersAreWrittenInPlace) {
    const std::string readOnly = text("locked.vort", "locked");
    ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
    EXPECT_FALSE(saveProject(readOnly));
    EXPECT_FALSE(saveFlightData(readOnly));
    EXPECT_EQ(boxTexts(), std::vector<std::string>(2, "Could not write to file\n" + readOnly +
                                                          ": Permission denied"));
    EXPECT_EQ(readFile(readOnly), "locked");
    struct stat info;
    ASSERT_EQ(stat(readOnly.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);

    // A folder that takes no new files: the file itself is rewritten.
    const std::string folder = m_dir.file("sealed");
    fs::create_directory(folder);
    m_dir.write("sealed/p.vort", std::string(5000, 'o'));
    const std::string sealed = folder + "/p.vort";
    bool immutable = false;
    if (geteuid() == 0) {
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        immutable = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                    (flags |= FS_IMMUTABLE_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
        if (fd >= 0) close(fd);
        if (!immutable) GTEST_SKIP() << "cannot make a folder refuse new files as root here";
    } else {
        ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    }
    const bool saved = saveProject(sealed);
    if (immutable) {
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        ioctl(fd, FS_IOC_GETFLAGS, &flags);
        flags &= ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
        close(fd);
    } else {
        chmod(folder.c_str(), 0755);
    }
    EXPECT_TRUE(saved);
    EXPECT_EQ(readFile(sealed), projectFileText());
}

TEST_F(ProjectFileTest, DescribeListsEveryFieldWithNineDigitReals) {
    cameraFlight().udef[15] = 0.1f;
    ASSERT_TRUE(loadText(minimalProject("DOF_SCALE=0.3\nBGIMAGE1=6\n/x.jpg\n")));
    cameraFlight().cameraRotation[1] = -0.0f; // what an upright camera's angles give
    const std::string described = describeProject();
    for (const std::string& line : std::vector<std::string>{
             "WIDTH=640\n", "DOF_SCALE=0.300000012\n", "VIDFRAME1=0\n",
             "BGIMAGE1=" + m_dir.file("my project/x.jpg") + "\n", "2ND_VSFILE=\n", "UDEF0=0\n",
             "UDEF15=0.100000001\n", "FLIGHTRECORDS=1\n",
             "VSFILE=" + m_dir.file("my project/a.vert") + "\n", "CAMERAQUATW=1\n",
             "CAMERAROTATIONY=0\n"})
        EXPECT_NE(described.find(line), std::string::npos) << line;
    EXPECT_EQ(std::count(described.begin(), described.end(), '\n'), 60);
}

// Parameter values go into lines an older reader skips as unknown keys: the
// file without them is the file of the same project without parameters, and
// the reader brings back the other fields and the values, declared or not.
TEST_F(ProjectFileTest, ShaderParametersRoundTripInLinesOlderReadersSkip) {
    ProjectFiles& files = projectFiles();
    files.imageWidth = 800;
    cameraFlight().zLens = -2.25f;
    cameraFlight().udef[3] = 0.5f;
    storePath(files.layers[0].vertexFile, text("a.vert", "vertex"));
    storePath(files.layers[0].fragmentFile, text("a.frag", "fragment"));
    storePath(files.scriptFile, text("a.anim", "int x;"));
    const std::string withoutParams = projectFileText();

    ShaderParams& params = shaderParams();
    ParamDecl power;
    power.name = power.label = "power";
    power.minimum = 2.0f;
    power.maximum = 16.0f;
    power.defaults = {8.0f};
    ParamDecl tint = power;
    tint.name = "tint";
    tint.type = ParamType::Colour;
    tint.minimum = 0.0f;
    tint.maximum = 1.0f;
    params.declare(0, {power});
    params.declare(1, {power, tint});
    const float values[] = {9.5f, 3.0f, 1.0f, 0.5f, 0.1f, 7.0f};
    params.set(0, "power", &values[0], 1);
    params.set(1, "power", &values[1], 1);
    params.set(1, "tint", &values[2], 3);
    params.store(2, "gone", &values[5], 1); // named by the project, declared by no shader
    ASSERT_TRUE(saveProject(m_project));
    const std::string written = readFile(m_project);

    std::istringstream lines(written);
    std::string line;
    std::string others;
    std::vector<std::string> paramLines;
    while (std::getline(lines, line)) {
        if (line.rfind("PARAM", 0) == 0)
            paramLines.push_back(line);
        else
            others += line + "\n";
    }
    EXPECT_EQ(others, withoutParams);
    EXPECT_EQ(paramLines,
              (std::vector<std::string>{"PARAM1.power=9.5", "PARAM2.power=3.",
                                        "PARAM2.tint=1.,0.5,0.100000001", "PARAM3.gone=7."}));
    for (const std::string& entry : paramLines) {
        // One token with one "=": the reader's rule for an unknown key.
        EXPECT_EQ(entry.find_first_of(" \t"), std::string::npos) << entry;
        EXPECT_EQ(std::count(entry.begin(), entry.end(), '='), 1) << entry;
    }

    files.imageWidth = 320;
    cameraFlight().zLens = 0.0f;
    ASSERT_TRUE(loadProject(m_project));
    EXPECT_TRUE(m_platform.messageBoxes().empty());
    EXPECT_EQ(files.imageWidth, 800);
    EXPECT_FLOAT_EQ(cameraView().zLens, -2.25f);
    EXPECT_FLOAT_EQ(cameraView().udef[3], 0.5f);
    // Until the compile declares them the values wait; all are saved again.
    EXPECT_EQ(projectFileText(), written);
    params.declare(1, {power, tint});
    ParamValues v{};
    ASSERT_EQ(params.get(1, "tint", v), 3);
    EXPECT_EQ(v, (ParamValues{1.0f, 0.5f, 0.1f, 0.0f}));
    EXPECT_EQ(params.get(2, "gone", v), -1);
}

} // namespace
} // namespace vortigo
