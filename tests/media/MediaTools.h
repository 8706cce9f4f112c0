// The real FFmpeg and ImageMagick tools as the judges of written files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vortigo::test {

// Standard output of a shell command.
inline std::string runTool(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// "codec,width,height,rate,packets" of the first video stream, as ffprobe reads it.
inline std::string probeVideo(const std::string& path) {
    std::string s = runTool("ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                            "stream=codec_name,width,height,r_frame_rate,nb_read_packets -of "
                            "csv=p=0 '" +
                            path + "'");
    while (!s.empty() && (s.back() == '\n' || s.back() == ','))
        s.pop_back();
    return s;
}

// "codec,rate,channels" of every audio stream, one line each.
inline std::string probeAudio(const std::string& path) {
    return runTool("ffprobe -v error -select_streams a -show_entries "
                   "stream=codec_name,sample_rate,channels -of csv=p=0 '" +
                   path + "'");
}

// Every frame decoded by ffmpeg as top-down BGR rows.
inline std::vector<uint8_t> decodeBgr(const std::string& path) {
    const std::string out =
        runTool("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt bgr24 -");
    return std::vector<uint8_t>(out.begin(), out.end());
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A bottom-up frame as top-down rows.
inline std::vector<uint8_t> flipRows(const uint8_t* frame, int width, int height) {
    std::vector<uint8_t> out;
    const size_t row = static_cast<size_t>(width) * 3;
    for (int y = height - 1; y >= 0; --y)
        out.insert(out.end(), frame + y * row, frame + (y + 1) * row);
    return out;
}

} // namespace vortigo::test
