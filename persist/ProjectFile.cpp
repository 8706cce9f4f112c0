#include "persist/ProjectFile.h"

#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/Numbers.h"
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "core/ShaderParams.h"
#include "core/ViewFlags.h"
#include "flight/FlightRecord.h"
#include "flight/QuatMath.h"
#include "media/Backgrounds.h"
#include "persist/FlightFile.h"
#include "persist/ParamEntries.h"
#include "persist/TextFile.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace vortigo {
namespace {

// No project comes near this; the rest of a larger file is not read.
constexpr size_t PROJECT_READ_LIMIT = size_t{16} << 20;
constexpr int REAL_DIGITS = 15;
constexpr int UDEF_DIGITS = 6;
constexpr int STORED_UDEFS = 16;

enum class Form { Int, Real, Name };
// When the writer writes an entry; the reader takes every entry anywhere.
enum class When { Always, NonEmpty, LongerThanOne, LayerHasBackground };

struct Field {
    const char* key;
    Form form;
    When when;
    int* integer = nullptr;
    float* real = nullptr;
    char* name = nullptr;
    int layer = 0;
    int minimum = INT_MIN; // an int below it is refused when read
};

Field intField(const char* key, int& value, int minimum = INT_MIN) {
    return {key, Form::Int, When::Always, &value, nullptr, nullptr, 0, minimum};
}
Field realField(const char* key, float& value) {
    return {key, Form::Real, When::Always, nullptr, &value};
}
Field nameField(const char* key, char* value, When when = When::Always) {
    return {key, Form::Name, when, nullptr, nullptr, value};
}

// Every entry of the file except VERSION and the udef values, in the order
// they are written.
std::vector<Field> projectFields() {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    CaptureState& capture = captureState();
    std::vector<Field> f = {
        // No frame buffer or capture can be made from a size or rate below 1.
        intField("WIDTH", files.imageWidth, 1),
        intField("HEIGHT", files.imageHeight, 1),
        intField("USEMOTIONBLUR", capture.useMotionBlur),
        intField("DESPECKLE", files.despeckle),
        intField("SUPERSAMPLE", files.superSample),
        intField("MAXAVIFRAMES", capture.maxAviFrames),
        intField("DOF", files.dofEnabled),
        realField("DOF_SCALE", files.dofScale),
        realField("DOF_OFFSET", files.dofOffset),
        realField("MAX_DEPTH", files.maxDepth),
        realField("XCENTER", camera.xCenter),
        realField("YCENTER", camera.yCenter),
        realField("ZLENS", camera.zLens),
        realField("ANGLE", camera.animTime),
        realField("ANIMSPEED", camera.animationSpeed),
        intField("FRAMESPERSEC", capture.aviFps, 1),
    };
    static const char* const frameKeys[] = {"VIDFRAME1", "VIDFRAME2", "VIDFRAME3", "VIDFRAME4"};
    static const char* const backgroundKeys[] = {"BGIMAGE1", "2ND_BGIMAGE", "3RD_BGIMAGE",
                                                 "4TH_BGIMAGE"};
    for (int i = 0; i < LAYER_COUNT; ++i) {
        LayerSlot& layer = files.layers[i];
        f.push_back({frameKeys[i], Form::Int, When::LayerHasBackground, layer.videoFrameCounter,
                     nullptr, nullptr, i});
        f.push_back(nameField(backgroundKeys[i], layer.backgroundFile, When::NonEmpty));
    }
    f.push_back(nameField("OUTPUT", capture.outputFile));
    f.push_back(nameField("AUDIO", capture.audioFile, When::NonEmpty));
    f.push_back(nameField("VSFILE", files.layers[0].vertexFile));
    f.push_back(nameField("FSFILE", files.layers[0].fragmentFile));
    static const char* const shaderKeys[][2] = {
        {"2ND_VSFILE", "2ND_FSFILE"}, {"3RD_VSFILE", "3RD_FSFILE"}, {"4TH_VSFILE", "4TH_FSFILE"}};
    for (int i = 1; i < LAYER_COUNT; ++i) {
        f.push_back(nameField(shaderKeys[i - 1][0], files.layers[i].vertexFile, When::NonEmpty));
        f.push_back(nameField(shaderKeys[i - 1][1], files.layers[i].fragmentFile, When::NonEmpty));
    }
    f.push_back(nameField("ASFILE", files.scriptFile));
    // A one-character name is no file anyone chose.
    f.push_back(nameField("FLIGHTDATA", files.flightFile, When::LongerThanOne));
    f.push_back(realField("CAMERAROTATIONX", camera.cameraRotation[0]));
    f.push_back(realField("CAMERAROTATIONY", camera.cameraRotation[1]));
    f.push_back(realField("CAMERAROTATIONZ", camera.cameraRotation[2]));
    f.push_back(realField("CAMERAQUATX", camera.cameraQuat[0]));
    f.push_back(realField("CAMERAQUATY", camera.cameraQuat[1]));
    f.push_back(realField("CAMERAQUATZ", camera.cameraQuat[2]));
    f.push_back(realField("CAMERAQUATW", camera.cameraQuat[3]));
    return f;
}

bool written(const Field& field) {
    switch (field.when) {
    case When::Always:
        return true;
    case When::NonEmpty:
        return field.name[0] != 0;
    case When::LongerThanOne:
        return std::strlen(field.name) > 1;
    case When::LayerHasBackground:
        return projectFiles().layers[field.layer].backgroundFile[0] != 0;
    }
    return true;
}

void showError(const char* text) {
    platform().messageBox(mainOwner(), text, "Error", MsgButtons::Ok, MsgIcon::Error);
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void stripFractionZeros(std::string& number) {
    const size_t point = number.find('.');
    if (point == std::string::npos) {
        number += '.';
        return;
    }
    const size_t last = number.find_last_not_of('0');
    number.erase(std::max(last, point) + 1);
}

// Splits the bytes into white-space separated tokens, and hands out raw
// bytes for the names that follow their length lines.
class TokenReader {
  public:
    explicit TokenReader(std::string_view bytes) : m_bytes(bytes) {}

    bool next(std::string_view& token) {
        while (m_pos < m_bytes.size() && isSpace(m_bytes[m_pos]))
            ++m_pos;
        if (m_pos >= m_bytes.size()) return false;
        const size_t start = m_pos;
        while (m_pos < m_bytes.size() && !isSpace(m_bytes[m_pos]))
            ++m_pos;
        token = m_bytes.substr(start, m_pos - start);
        return true;
    }

    // The line break after a length line: CR LF counts as one character.
    void skipOneCharacter() {
        if (m_pos >= m_bytes.size()) return;
        const bool crLf =
            m_bytes[m_pos] == '\r' && m_pos + 1 < m_bytes.size() && m_bytes[m_pos + 1] == '\n';
        m_pos += crLf ? 2 : 1;
    }

    std::string_view take(size_t count) {
        const std::string_view bytes = m_bytes.substr(m_pos, count);
        m_pos += bytes.size();
        return bytes;
    }

  private:
    std::string_view m_bytes;
    size_t m_pos = 0;
};

// "UDEF" and an index 0 to 15 without leading zeros, or -1.
int udefIndex(std::string_view key) {
    if (key.size() < 5 || key.size() > 6 || key.substr(0, 4) != "UDEF") return -1;
    const std::string_view digits = key.substr(4);
    if (digits.size() > 1 && digits[0] == '0') return -1;
    int index = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) return -1;
    return index < STORED_UDEFS ? index : -1;
}

void readName(const Field& field, std::string_view value, TokenReader& reader) {
    int length = -1;
    const bool valid = parseIntLiteral(value, length);
    reader.skipOneCharacter();
    if (valid && length >= 0 && length <= PROJECT_TOKEN_LIMIT) {
        const std::string_view name = reader.take(static_cast<size_t>(length));
        std::memcpy(field.name, name.data(), name.size());
        field.name[name.size()] = 0;
    }
    // The capture target is where output goes, not a file that must exist. A
    // flight name of one character means "no flight file": located beside
    // the project it would grow into a name that is then loaded.
    const bool noFlight = std::strcmp(field.key, "FLIGHTDATA") == 0 && std::strlen(field.name) <= 1;
    if (std::strcmp(field.key, "OUTPUT") != 0 && !noFlight)
        locateFile(field.name, projectFiles().projectFile);
}

} // namespace

bool storePath(char* field, const std::string& path) {
    if (path.size() >= static_cast<size_t>(PATH_SIZE)) return false;
    std::memcpy(field, path.c_str(), path.size() + 1);
    return true;
}

std::string formatProjectReal(double value, int digits) {
    // Only finite values are numbers the reader can read back.
    if (!std::isfinite(value)) value = 0;
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                std::chars_format::scientific, digits - 1);
    const std::string scientific(buffer, result.ptr);
    const size_t e = scientific.find('e');
    int exponent = 0;
    std::from_chars(scientific.data() + e + (scientific[e + 1] == '+' ? 2 : 1),
                    scientific.data() + scientific.size(), exponent);
    if (value == 0) exponent = -1;

    std::string text;
    if (exponent >= -1 && exponent <= digits - 1) {
        result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed,
                               digits - 1 - exponent);
        text.assign(buffer, result.ptr);
        stripFractionZeros(text);
        return text;
    }
    text = scientific.substr(0, e);
    stripFractionZeros(text);
    const int magnitude = std::abs(exponent);
    text += exponent < 0 ? "e-" : "e+";
    const std::string exponentDigits = std::to_string(magnitude);
    text += std::string(exponentDigits.size() < 3 ? 3 - exponentDigits.size() : 0, '0');
    text += exponentDigits;
    return text;
}

bool parseIntLiteral(std::string_view text, int& value) {
    size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    auto digitValue = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return 99;
    };
    if (pos >= text.size() || digitValue(text[pos]) > 9) return false;
    int base = 10;
    if (text[pos] == '0') {
        base = 8;
        const bool hex = pos + 2 < text.size() && (text[pos + 1] == 'x' || text[pos + 1] == 'X') &&
                         digitValue(text[pos + 2]) < 16;
        if (hex) {
            base = 16;
            pos += 2;
        }
    }
    // Saturate just past int's range so long digit runs cannot overflow.
    constexpr int64_t cap = int64_t{INT_MAX} + 2;
    int64_t magnitude = 0;
    for (; pos < text.size() && digitValue(text[pos]) < base; ++pos)
        magnitude = std::min(cap, magnitude * base + digitValue(text[pos]));
    const int64_t signedValue = negative ? -magnitude : magnitude;
    value = static_cast<int>(std::clamp<int64_t>(signedValue, INT_MIN, INT_MAX));
    return true;
}

void locateFile(char* field, const std::string& projectPath) {
    if (!field[0]) return;
    struct stat info;
    if (::stat(field, &info) == 0 && S_ISREG(info.st_mode)) return;
    const size_t folderEnd = projectPath.find_last_of("/\\");
    if (folderEnd == std::string::npos) return;
    const std::string name = field;
    const size_t cut = name.find_last_of("/\\");
    const std::string last = cut == std::string::npos ? name : name.substr(cut + 1);
    if (last.empty()) return;
    storePath(field, projectPath.substr(0, folderEnd + 1) + last);
}

std::string projectFileText() {
    orientationToAngles();
    std::string text = std::string(PROJECT_MAGIC) + "\nVERSION=2.00\n";
    for (const Field& field : projectFields()) {
        if (!written(field)) continue;
        text += field.key;
        text += '=';
        switch (field.form) {
        case Form::Int:
            text += std::to_string(*field.integer);
            break;
        case Form::Real:
            text += formatProjectReal(*field.real, REAL_DIGITS);
            break;
        case Form::Name:
            text += std::to_string(std::strlen(field.name)) + "\n" + field.name;
            break;
        }
        text += '\n';
    }
    const CameraFlight& camera = cameraView();
    for (int i = 0; camera.udef && i < STORED_UDEFS; ++i)
        text += "UDEF" + std::to_string(i) + "=" + formatProjectReal(camera.udef[i], UDEF_DIGITS) +
                "\n";
    text += paramEntryLines();
    return text;
}

bool hasProjectMagic(std::string_view bytes) {
    TokenReader reader(bytes);
    std::string_view token;
    return reader.next(token) && token == PROJECT_MAGIC;
}

std::string readProjectEntries(std::string_view bytes) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    runState().buffersReady.clear();
    runState().scriptReady.clear();
    for (LayerSlot& layer : files.layers) {
        layer.fragmentFile[0] = layer.vertexFile[0] = 0;
        layer.vertexText[0] = layer.fragmentText[0] = 0;
        layer.backgroundFile[0] = 0;
        *layer.videoFrameCounter = 0;
        // The edited texts are gone, so nothing of them is left to save.
        layer.vertexDirty = layer.fragmentDirty = 0;
    }
    shaderParams().clear();

    const std::vector<Field> fields = projectFields();
    std::string refused;
    TokenReader reader(bytes);
    std::string_view token;
    if (!reader.next(token)) return refused; // the magic word
    while (reader.next(token)) {
        // Longer tokens are no entry of ours; they are skipped whole.
        if (token.size() > static_cast<size_t>(PROJECT_TOKEN_LIMIT)) continue;
        const size_t equals = token.rfind('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = token.substr(0, equals);
        const std::string value(token.substr(equals + 1));
        if (readParamEntry(key, value)) continue;
        if (const int index = udefIndex(key); index >= 0) {
            if (camera.udef) camera.udef[index] = parseFloat(value.c_str());
            continue;
        }
        for (const Field& field : fields) {
            if (key != field.key) continue;
            int number = 0;
            switch (field.form) {
            case Form::Int:
                if (!parseIntLiteral(value, number)) break;
                if (number >= field.minimum) {
                    *field.integer = number;
                    break;
                }
                refused += formatC("%s=%d cannot be used: it must be %d or more. %s stays %d.\n",
                                   field.key, number, field.minimum, field.key, *field.integer);
                break;
            case Form::Real:
                *field.real = parseFloat(value.c_str());
                break;
            case Form::Name:
                readName(field, value, reader);
                break;
            }
            break;
        }
    }
    if (!refused.empty()) refused.pop_back();
    return refused;
}

ShownText runAfterLoad() {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    ShownText shown;
    // Every named background is replaced below: none of the old pictures
    // may count against the budget the new ones share.
    for (LayerSlot& layer : files.layers)
        if (layer.backgroundFile[0]) layer.backgroundPixels.reset();
    for (int i = 0; i < LAYER_COUNT; ++i) {
        LayerSlot& layer = files.layers[i];
        layer.backgroundChanged = layer.backgroundFile[0] ? loadBackground(i, layer.backgroundFile,
                                                                           layer.videoFrameCounter)
                                                          : 0;
        if (layer.vertexFile[0] &&
            loadText(mainOwner(), layer.vertexFile, layer.vertexText.get(), TEXT_SIZE)) {
            shown = ShownText{i, KIND_VERTEX};
        }
        if (layer.fragmentFile[0] &&
            loadText(mainOwner(), layer.fragmentFile, layer.fragmentText.get(), TEXT_SIZE)) {
            shown = ShownText{i, KIND_FRAGMENT};
        }
    }
    if (loadText(mainOwner(), files.scriptFile, files.scriptText.get(), TEXT_SIZE))
        files.scriptDirty = 0;

    camera.flightStart = camera.flightHead = camera.flightEnd = 0;
    recordFlightSample();
    if (std::strlen(files.flightFile) > 1) loadFlightData(files.flightFile);

    quatToMatrix(quatFrom(camera.cameraQuat), camera.cameraMatrix);
    runState().compileRequest.set();
    runState().resizeRequest.set();
    return shown;
}

bool saveProject(const std::string& path) {
    const std::string text = projectFileText();
    if (path.size() >= static_cast<size_t>(PATH_SIZE) ||
        !replaceFileContents(path, text.data(), text.size())) {
        const int error = path.size() >= static_cast<size_t>(PATH_SIZE) ? ENAMETOOLONG : errno;
        showError(saveFailureText("Could not write to file", path, error).c_str());
        return false;
    }
    storePath(projectFiles().projectFile, path);
    return true;
}

bool loadProject(const std::string& path, ShownText* shown) {
    std::string bytes;
    if (path.size() >= static_cast<size_t>(PATH_SIZE) ||
        readFilePrefix(path, PROJECT_READ_LIMIT, bytes) != 0) {
        showError("Could not open file.");
        return false;
    }
    if (!hasProjectMagic(bytes)) {
        showError("Not a proper .vort file:");
        return false;
    }
    storePath(projectFiles().projectFile, path);
    const std::string refused = readProjectEntries(bytes);
    if (!refused.empty()) showError(refused.c_str());
    const ShownText first = runAfterLoad();
    if (shown) *shown = first;
    return true;
}

std::string describeProject() {
    std::string text;
    for (const Field& field : projectFields()) {
        text += field.key;
        text += '=';
        switch (field.form) {
        case Form::Int:
            text += std::to_string(*field.integer);
            break;
        case Form::Real:
            // + 0.0 shows a negative zero as 0: the same angle either way.
            text += formatC("%.9g", static_cast<double>(*field.real) + 0.0);
            break;
        case Form::Name:
            text += field.name;
            break;
        }
        text += '\n';
    }
    const CameraFlight& camera = cameraView();
    for (int i = 0; camera.udef && i < STORED_UDEFS; ++i)
        text += formatC("UDEF%d=%.9g\n", i, static_cast<double>(camera.udef[i]) + 0.0);
    text += "FLIGHTRECORDS=" + std::to_string(flightRecordCount()) + "\n";
    return text;
}

} // namespace vortigo
