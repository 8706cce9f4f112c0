#include "render/ImageShader.h"

#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/FrameQueue.h"
#include "core/ProjectFiles.h"
#include "media/AviGrab.h"
#include "render/PixelStore.h"
#include "render/ScriptTextures.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

namespace vortigo {

// Image shaders are compiled as desktop GLSL 3.30 rather than "#version 300
// es": it takes the texts of that dialect and computes the same on Mesa and
// NVIDIA, and it keeps the studio's own uniforms usable in the same text
// (datatex is a sampler1D, a type the ES dialect lacks). Later versions
// reserve words pasted texts use as names ("sample" from 4.00 on).
const char* const IMAGE_SHADER_VERTEX = "#version 330 compatibility\n"
                                        "void main(){\n"
                                        " gl_Position=gl_Vertex;\n"
                                        "}\n";

namespace {

struct ImageInput {
    const char* name;
    const char* declaration;
};

// In the order of LayerProgram::imageInputs.
enum ImageInputIndex {
    I_RESOLUTION,
    I_TIME,
    I_TIME_DELTA,
    I_FRAME_RATE,
    I_FRAME,
    I_MOUSE,
    I_DATE,
    I_SAMPLE_RATE,
    I_CHANNEL0,
    I_CHANNEL_RESOLUTION = I_CHANNEL0 + 4,
    I_CHANNEL_TIME,
};

const ImageInput INPUTS[IMAGE_INPUT_COUNT] = {
    {"iResolution", "uniform vec3 iResolution;"},
    {"iTime", "uniform float iTime;"},
    {"iTimeDelta", "uniform float iTimeDelta;"},
    {"iFrameRate", "uniform float iFrameRate;"},
    {"iFrame", "uniform int iFrame;"},
    {"iMouse", "uniform vec4 iMouse;"},
    {"iDate", "uniform vec4 iDate;"},
    {"iSampleRate", "uniform float iSampleRate;"},
    {"iChannel0", "uniform sampler2D iChannel0;"},
    {"iChannel1", "uniform sampler2D iChannel1;"},
    {"iChannel2", "uniform sampler2D iChannel2;"},
    {"iChannel3", "uniform sampler2D iChannel3;"},
    {"iChannelResolution", "uniform vec3 iChannelResolution[4];"},
    {"iChannelTime", "uniform float iChannelTime[4];"},
};
static_assert(I_CHANNEL_TIME + 1 == IMAGE_INPUT_COUNT);

constexpr int FIRST_CHANNEL_UNIT = 3; // after tex, datatex and voltex
constexpr float SAMPLE_RATE = 44100.0F;

// Comments become spaces, line breaks stay: the scan below then sees only
// code, and every line keeps its number.
std::string withoutComments(const char* text) {
    std::string s = text;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] == '/' && s[i + 1] == '/') {
            for (; i < s.size() && s[i] != '\n'; ++i)
                s[i] = ' ';
        } else if (s[i] == '/' && s[i + 1] == '*') {
            s[i] = s[i + 1] = ' ';
            for (i += 2; i < s.size() && !(s[i] == '*' && i + 1 < s.size() && s[i + 1] == '/'); ++i)
                if (s[i] != '\n') s[i] = ' ';
            if (i < s.size()) s[i] = ' ';
            if (i + 1 < s.size()) s[i + 1] = ' ';
            ++i;
        }
    }
    return s;
}

bool identifierStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool identifierPart(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

size_t skipSpace(const std::string& s, size_t i) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
    return i;
}

// What one pass over the comment-free text finds.
struct TextScan {
    bool definesMain = false;
    bool definesMainImage = false;
    bool declares[IMAGE_INPUT_COUNT]{};
    std::vector<size_t> versionLines;  // offsets of "#version" lines
    std::vector<size_t> outQualifiers; // offsets of mainImage's "out"
};

TextScan scanText(const std::string& s) {
    TextScan scan;
    int braces = 0, parens = 0;
    bool lineStart = true;
    for (size_t i = 0; i < s.size();) {
        const char c = s[i];
        if (c == '\n') {
            lineStart = true;
            ++i;
            continue;
        }
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        if (c == '#' && lineStart) {
            // A preprocessor line, continued by a backslash at its end.
            const size_t begin = i;
            const size_t word = skipSpace(s, i + 1);
            if (s.compare(word, 7, "version") == 0) scan.versionLines.push_back(begin);
            while (i < s.size() && !(s[i] == '\n' && s[i - 1] != '\\'))
                ++i;
            continue;
        }
        lineStart = false;
        if (identifierStart(c)) {
            const size_t begin = i;
            while (i < s.size() && identifierPart(s[i]))
                ++i;
            const std::string name = s.substr(begin, i - begin);
            if (braces != 0) continue;
            if (parens == 0)
                for (int k = 0; k < IMAGE_INPUT_COUNT; ++k)
                    if (name == INPUTS[k].name) scan.declares[k] = true;
            if (name != "main" && name != "mainImage") continue;
            size_t open = skipSpace(s, i);
            if (open >= s.size() || s[open] != '(') continue;
            const size_t first = skipSpace(s, open + 1);
            if (name == "mainImage" && s.compare(first, 3, "out") == 0 &&
                (first + 3 >= s.size() || !identifierPart(s[first + 3])))
                scan.outQualifiers.push_back(first);
            int depth = 0;
            size_t close = open;
            for (; close < s.size(); ++close) {
                if (s[close] == '(') ++depth;
                if (s[close] == ')' && --depth == 0) break;
            }
            const size_t body = skipSpace(s, close + 1);
            if (body < s.size() && s[body] == '{')
                (name == "main" ? scan.definesMain : scan.definesMainImage) = true;
            continue;
        }
        if (c == '{') ++braces;
        if (c == '}' && braces > 0) --braces;
        if (c == '(') ++parens;
        if (c == ')' && parens > 0) --parens;
        ++i;
    }
    return scan;
}

// The inputs the Trace window's mouse sets (user-interface thread) and the
// render thread reads.
std::atomic<float> g_mouse[4]{0.0F, 0.0F, 0.0F, 0.0F};
std::atomic<int> g_firstFrame{0};
int g_nextFrame = 0;    // render thread
int g_currentFrame = 0; // render thread

std::vector<uint8_t> g_upright; // render thread

// The channel's own texture, mipmapped and repeating as pasted shaders
// expect, so the layer's background keeps its own filtering. Pictures arrive
// top row first and are turned upright; video frames arrive bottom row first.
void uploadChannel(GlState& gls, int n, const LayerSlot& slot) {
    const int width = slot.backgroundWidth, height = slot.backgroundHeight;
    const uint8_t* pixels = slot.backgroundPixels.get();
    if (width <= 0 || height <= 0) return;
    const size_t row = static_cast<size_t>(width) * 4;
    if (!slot.backgroundIsVideo) {
        g_upright.resize(row * static_cast<size_t>(height));
        for (int y = 0; y < height; ++y)
            std::memcpy(g_upright.data() + row * static_cast<size_t>(y),
                        pixels + row * static_cast<size_t>(height - 1 - y), row);
        pixels = g_upright.data();
    }
    if (!gls.channelTexture[n]) glGenTextures(1, &gls.channelTexture[n]);
    if (gls.gl.glActiveTexture) gls.gl.glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, gls.channelTexture[n]);
    {
        TightUnpack unpack(gls.gl);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    }
    const bool mipmaps = gls.gl.glGenerateMipmap != nullptr;
    if (mipmaps) gls.gl.glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                    mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    gls.channelUpload[n] = gls.layerUploads[n];
}

} // namespace

bool isImageShaderText(const char* text) {
    if (!text || !std::strstr(text, "mainImage")) return false;
    const TextScan scan = scanText(withoutComments(text));
    return scan.definesMainImage && !scan.definesMain;
}

std::string wrapImageShader(const char* text) {
    std::string body = withoutComments(text);
    const TextScan scan = scanText(body);
    // A second #version would be refused; the line stays, blank.
    for (const size_t at : scan.versionLines)
        for (size_t i = at; i < body.size() && body[i] != '\n'; ++i)
            body[i] = ' ';
    // mainImage's colour is passed in cleared, so a text that never writes
    // it gives black instead of whatever the register held.
    for (auto at = scan.outQualifiers.rbegin(); at != scan.outQualifiers.rend(); ++at)
        body.replace(*at, 3, "inout");

    std::string wrapped = "#version 330\n"
                          "#extension GL_ARB_shading_language_packing : enable\n"
                          "precision highp float;\n"
                          "precision highp int;\n";
    for (int k = 0; k < IMAGE_INPUT_COUNT; ++k)
        if (!scan.declares[k]) wrapped += std::string(INPUTS[k].declaration) + "\n";
    // In a tile gl_FragCoord counts from the tile's corner; fragCoord is
    // always the whole picture's.
    if (!std::strstr(text, "tileOffset")) wrapped += "uniform ivec2 tileOffset;\n";
    wrapped += "out vec4 vortigoImageColour;\n"
               "#line 1\n";
    wrapped += body;
    wrapped += "\nvoid main(){\n"
               " vec4 colour=vec4(0.0,0.0,0.0,1.0);\n"
               " mainImage(colour,gl_FragCoord.xy+vec2(tileOffset));\n"
               " vortigoImageColour=vec4(colour.rgb,1.0);\n"
               "}\n";
    return wrapped;
}

void lookUpImageInputs(const GlState& gls, LayerProgram& layer) {
    for (int k = 0; k < IMAGE_INPUT_COUNT; ++k)
        layer.imageInputs[k] = gls.gl.glGetUniformLocation(layer.program, INPUTS[k].name);
}

void prepareImageChannels(GlState& gls, const LayerProgram& layer) {
    ProjectFiles& files = projectFiles();
    for (int n = 0; n < 4; ++n) {
        if (layer.imageInputs[I_CHANNEL0 + n] < 0) continue;
        LayerSlot& slot = files.layers[n];
        if (!slot.backgroundPixels) continue;
        // A layer without a program of its own never uploads its background.
        if (slot.backgroundChanged) {
            uploadBackground(n, slot.backgroundWidth, slot.backgroundHeight,
                             slot.backgroundPixels.get(), 0);
            slot.backgroundChanged = 0;
        }
        if (!gls.channelTexture[n] || gls.channelUpload[n] != gls.layerUploads[n])
            uploadChannel(gls, n, slot);
    }
}

void setImageInputs(GlState& gls, const LayerProgram& layer, int frame, int width, int height) {
    const GlEntryPoints& gl = gls.gl;
    const ProjectFiles& files = projectFiles();
    const CameraFlight& camera = cameraView();
    const int fps = captureView().aviFps;
    const GLint* u = layer.imageInputs;

    const float resolution[3] = {static_cast<float>(width), static_cast<float>(height), 1.0F};
    const float time = imageShaderTime(camera.animTime, camera.animationSpeed, fps);
    const float delta = fps > 0 ? 1.0F / static_cast<float>(fps) : 0.0F;
    const float rate = static_cast<float>(fps);
    float mouse[4];
    for (int k = 0; k < 4; ++k)
        mouse[k] = g_mouse[k].load(std::memory_order_relaxed);

    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const double fraction =
        std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(seconds))
            .count();
    const float date[4] = {
        static_cast<float>(local.tm_year + 1900), static_cast<float>(local.tm_mon),
        static_cast<float>(local.tm_mday),
        static_cast<float>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec + fraction)};

    gl.glUniform3fv(u[I_RESOLUTION], 1, resolution);
    gl.glUniform1fv(u[I_TIME], 1, &time);
    gl.glUniform1fv(u[I_TIME_DELTA], 1, &delta);
    gl.glUniform1fv(u[I_FRAME_RATE], 1, &rate);
    gl.glUniform1iv(u[I_FRAME], 1, &frame);
    gl.glUniform4fv(u[I_MOUSE], 1, mouse);
    gl.glUniform4fv(u[I_DATE], 1, date);
    gl.glUniform1fv(u[I_SAMPLE_RATE], 1, &SAMPLE_RATE);

    float channelResolution[4][3]{};
    float channelTime[4]{};
    for (int n = 0; n < 4; ++n) {
        if (u[I_CHANNEL0 + n] < 0 || !gl.glActiveTexture) continue;
        const LayerSlot& slot = files.layers[n];
        const int unit = FIRST_CHANNEL_UNIT + n;
        gl.glActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + unit));
        // A layer without a background samples black (texture 0 is empty).
        glBindTexture(GL_TEXTURE_2D, slot.backgroundPixels ? gls.channelTexture[n] : 0);
        gl.glUniform1iv(u[I_CHANNEL0 + n], 1, &unit);
        if (slot.backgroundPixels) {
            channelResolution[n][0] = static_cast<float>(slot.backgroundWidth);
            channelResolution[n][1] = static_cast<float>(slot.backgroundHeight);
            channelResolution[n][2] = 1.0F;
        }
        const AVIGrab& video = videoReader(n);
        if (video.isOpen && video.videoFps > 0)
            channelTime[n] =
                static_cast<float>(video.currentFrame) / static_cast<float>(video.videoFps);
    }
    if (gl.glActiveTexture) gl.glActiveTexture(GL_TEXTURE0);
    gl.glUniform3fv(u[I_CHANNEL_RESOLUTION], 4, &channelResolution[0][0]);
    gl.glUniform1fv(u[I_CHANNEL_TIME], 4, channelTime);
}

void setImageShaderFirstFrame(int index) {
    g_firstFrame = index;
}

void restartImageShaderFrames() {
    g_nextFrame = g_firstFrame;
    g_currentFrame = g_nextFrame;
}

int imageShaderFrame(int pass) {
    if (pass == 0) g_currentFrame = g_nextFrame++;
    return g_currentFrame;
}

float imageShaderTime(float animTime, float animationSpeed, int fps) {
    if (!(animationSpeed > 0) || fps <= 0) return animTime;
    return animTime / (animationSpeed * static_cast<float>(fps));
}

float animTimeForImageShader(float seconds, float animationSpeed, int fps) {
    if (!(animationSpeed > 0) || fps <= 0) return seconds;
    return seconds * animationSpeed * static_cast<float>(fps);
}

void setImageShaderMouse(float x, float y, bool press) {
    g_mouse[0] = x;
    g_mouse[1] = y;
    if (press) {
        g_mouse[2] = x;
        g_mouse[3] = y;
    }
}

void releaseImageShaderMouse() {
    // The press position stays, negative: released.
    g_mouse[2] = -std::abs(g_mouse[2].load());
    g_mouse[3] = -std::abs(g_mouse[3].load());
}

} // namespace vortigo
