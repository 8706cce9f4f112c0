#include "persist/ParamEntries.h"

#include "core/Numbers.h"
#include "core/ShaderParams.h"
#include "persist/ProjectFile.h"

#include <charconv>
#include <cmath>

namespace vortigo {
namespace {

constexpr std::string_view PREFIX = "PARAM";
constexpr int PARAM_DIGITS = 9; // enough for every float to read back the same

bool readValues(std::string_view text, float* values, int& count) {
    count = 0;
    for (size_t start = 0;;) {
        const size_t comma = text.find(',', start);
        const std::string_view part =
            text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
        if (count == 4 || part.empty()) return false;
        if (part.find_first_not_of("0123456789+-.eE") != std::string_view::npos ||
            part.find_first_of("0123456789") == std::string_view::npos)
            return false;
        const std::string piece(part);
        const double value = parseReal(piece.c_str());
        if (!std::isfinite(value)) return false;
        values[count++] = static_cast<float>(value);
        if (comma == std::string_view::npos) return true;
        start = comma + 1;
    }
}

} // namespace

std::string paramEntryLines() {
    std::string text;
    for (int layer = 0; layer < PARAM_LAYERS; ++layer) {
        for (const ParamEntry& entry : shaderParams().entries(layer)) {
            text += std::string(PREFIX) + std::to_string(layer + 1) + "." + entry.decl.name + "=";
            for (int i = 0; i < entry.count; ++i) {
                if (i) text += ',';
                text += formatProjectReal(entry.values[static_cast<size_t>(i)], PARAM_DIGITS);
            }
            text += '\n';
        }
    }
    return text;
}

bool readParamEntry(std::string_view key, const std::string& value) {
    if (key.size() < PREFIX.size() + 3 || key.substr(0, PREFIX.size()) != PREFIX) return false;
    const char digit = key[PREFIX.size()];
    if (digit < '1' || digit > '4' || key[PREFIX.size() + 1] != '.') return false;
    const std::string_view name = key.substr(PREFIX.size() + 2);
    float values[4] = {};
    int count = 0;
    if (validParamName(name) && readValues(value, values, count))
        shaderParams().store(digit - '1', name, values, count);
    return true;
}

bool parseParamAssignment(std::string_view text, ParamAssignment& out, std::string& reason) {
    const size_t dot = text.find('.');
    const size_t equals = text.find('=');
    if (dot != 1 || text[0] < '1' || text[0] > '4' || equals == std::string_view::npos ||
        equals < dot) {
        reason = "takes LAYER.NAME=VALUE with the layer 1 to 4";
        return false;
    }
    out.layer = text[0] - '1';
    out.name = std::string(text.substr(2, equals - 2));
    if (!validParamName(out.name)) {
        reason = "a parameter name has 1 to 63 of the characters A-Z, a-z, 0-9 and _";
        return false;
    }
    if (!readValues(text.substr(equals + 1), out.values, out.count)) {
        reason = "the value must be one to four numbers separated by commas";
        return false;
    }
    return true;
}

} // namespace vortigo
