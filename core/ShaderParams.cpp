#include "core/ShaderParams.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace vortigo {
namespace {

constexpr std::string_view ANNOTATION = "@param";

std::string_view trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\v\f");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r\v\f");
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t start = text.find_first_not_of(" \t\r\v\f", at);
        if (start == std::string_view::npos) break;
        size_t end = text.find_first_of(" \t\r\v\f", start);
        if (end == std::string_view::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        at = end;
    }
    return out;
}

// The whole word must be a finite decimal number (the files use a point,
// whatever the locale).
bool readNumber(std::string_view word, float& value) {
    if (!word.empty() && word.front() == '+') word.remove_prefix(1);
    double number = 0.0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), number);
    if (word.empty() || error != std::errc() || end != word.data() + word.size()) return false;
    if (!std::isfinite(number) || std::fabs(number) > 3.0e38) return false;
    value = static_cast<float>(number);
    return true;
}

// One number for every component, or exactly one a component.
bool readComponents(std::string_view word, int count, ParamValues& values) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t comma = word.find(',', start);
        parts.push_back(
            word.substr(start, comma == std::string_view::npos ? word.npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (parts.size() != 1 && parts.size() != static_cast<size_t>(count)) return false;
    for (size_t i = 0; i < parts.size(); ++i)
        if (!readNumber(parts[i], values[i])) return false;
    if (parts.size() == 1)
        for (int i = 1; i < count; ++i)
            values[static_cast<size_t>(i)] = values[0];
    return true;
}

std::string number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}

bool whole(float value) {
    return std::nearbyint(value) == value;
}

bool typeOf(std::string_view word, ParamType& type) {
    static const std::pair<std::string_view, ParamType> TYPES[] = {
        {"float", ParamType::Float}, {"int", ParamType::Int},   {"bool", ParamType::Bool},
        {"vec2", ParamType::Vec2},   {"vec3", ParamType::Vec3}, {"vec4", ParamType::Vec4}};
    for (const auto& [name, t] : TYPES)
        if (word == name) {
            type = t;
            return true;
        }
    return false;
}

// The declaration before the comment: "uniform [precision] TYPE NAME;".
// Empty when the line declares no single uniform of a parameter type.
std::string declaration(std::string_view code, ParamDecl& decl, std::string& problem) {
    std::vector<std::string_view> w = words(code);
    // "NAME;" and "NAME ;" read alike.
    if (!w.empty() && w.back() == ";")
        w.pop_back();
    else if (!w.empty() && w.back().size() > 1 && w.back().back() == ';')
        w.back().remove_suffix(1);
    else
        w.clear();
    if (w.size() == 4 && (w[1] == "lowp" || w[1] == "mediump" || w[1] == "highp"))
        w.erase(w.begin() + 1);
    if (w.size() != 3 || w[0] != "uniform" || !typeOf(w[1], decl.type)) {
        problem = "@param needs a uniform declaration of float, int, bool, vec2, vec3 or vec4 "
                  "on its line";
        return {};
    }
    if (!validParamName(w[2])) {
        problem = "the name \"" + std::string(w[2]) +
                  "\" is refused: a parameter name has 1 to 63 of the characters A-Z, a-z, 0-9 "
                  "and _";
        return {};
    }
    return std::string(w[2]);
}

// The words after "@param": fills the range, default, label and the colour
// mark; the message when they cannot be used.
std::string readAnnotation(std::string_view text, ParamDecl& decl) {
    const size_t quote = text.find('"');
    if (quote != std::string_view::npos) {
        const size_t close = text.rfind('"');
        if (close == quote || !trim(text.substr(close + 1)).empty())
            return "the label must be one quoted text at the end";
        decl.label = std::string(text.substr(quote + 1, close - quote - 1));
        text = text.substr(0, quote);
    }
    const std::vector<std::string_view> w = words(text);
    if (decl.type == ParamType::Bool) {
        if (w.size() != 1) return "a bool parameter takes its default (true or false) and a label";
        if (w[0] == "true" || w[0] == "1")
            decl.defaults[0] = 1.0f;
        else if (w[0] == "false" || w[0] == "0")
            decl.defaults[0] = 0.0f;
        else
            return "the default \"" + std::string(w[0]) + "\" is not true or false";
        decl.minimum = 0.0f;
        decl.maximum = 1.0f;
        return {};
    }
    if (!w.empty() && (w[0] == "colour" || w[0] == "color")) {
        if (decl.type != ParamType::Vec3) return "only a vec3 can be a colour";
        decl.type = ParamType::Colour;
        decl.minimum = 0.0f;
        decl.maximum = 1.0f;
        if (w.size() != 2 || !readComponents(w[1], 3, decl.defaults))
            return "a colour takes its default as one number or three, from 0 to 1";
    } else {
        const int count = componentCount(decl.type);
        if (w.size() != 3 || !readNumber(w[0], decl.minimum) || !readNumber(w[1], decl.maximum) ||
            !readComponents(w[2], count, decl.defaults))
            return count == 1 ? "the annotation takes a minimum, a maximum, a default and a label"
                              : "the annotation takes a minimum, a maximum, a default (one number "
                                "or one a component) and a label";
    }
    if (decl.type == ParamType::Int &&
        (!whole(decl.minimum) || !whole(decl.maximum) || !whole(decl.defaults[0])))
        return "an int parameter takes whole numbers";
    if (!(decl.minimum < decl.maximum))
        return "the minimum " + number(decl.minimum) + " must be below the maximum " +
               number(decl.maximum);
    for (int i = 0; i < componentCount(decl.type); ++i) {
        const float value = decl.defaults[static_cast<size_t>(i)];
        if (value < decl.minimum || value > decl.maximum)
            return "the default " + number(value) + " lies outside " + number(decl.minimum) +
                   " to " + number(decl.maximum);
    }
    return {};
}

} // namespace

int componentCount(ParamType type) {
    switch (type) {
    case ParamType::Vec2:
        return 2;
    case ParamType::Vec3:
    case ParamType::Colour:
        return 3;
    case ParamType::Vec4:
        return 4;
    default:
        return 1;
    }
}

const char* paramTypeName(ParamType type) {
    switch (type) {
    case ParamType::Float:
        return "float";
    case ParamType::Int:
        return "int";
    case ParamType::Bool:
        return "bool";
    case ParamType::Vec2:
        return "vec2";
    case ParamType::Vec3:
        return "vec3";
    case ParamType::Vec4:
        return "vec4";
    case ParamType::Colour:
        return "colour";
    }
    return "float";
}

bool validParamName(std::string_view name) {
    if (name.empty() || name.size() > static_cast<size_t>(PARAM_NAME_LIMIT)) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
}

ParamScan scanShaderParams(std::string_view text) {
    ParamScan scan;
    int line = 0;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view row = text.substr(start, end - start);
        start = end + 1;
        ++line;
        const size_t comment = row.find("//");
        if (comment == std::string_view::npos) continue;
        std::string_view note = trim(row.substr(comment + 2));
        if (note.substr(0, ANNOTATION.size()) != ANNOTATION) continue;
        note.remove_prefix(ANNOTATION.size());
        if (!note.empty() && note[0] != ' ' && note[0] != '\t') continue; // "@parameter" etc.
        ParamDecl decl;
        decl.line = line;
        std::string problem;
        decl.name = declaration(row.substr(0, comment), decl, problem);
        if (problem.empty()) problem = readAnnotation(note, decl);
        if (!problem.empty()) {
            scan.issues.push_back(ParamIssue{line, problem});
            continue;
        }
        if (decl.label.empty()) decl.label = decl.name;
        const bool known = std::any_of(scan.params.begin(), scan.params.end(),
                                       [&](const ParamDecl& d) { return d.name == decl.name; });
        if (known) {
            scan.issues.push_back(
                ParamIssue{line, "the parameter \"" + decl.name + "\" is declared twice"});
            continue;
        }
        scan.params.push_back(std::move(decl));
    }
    return scan;
}

LayerParamScan scanLayerParams(const char* vertexText, const char* fragmentText) {
    LayerParamScan result;
    ParamScan vertex = scanShaderParams(vertexText ? vertexText : "");
    ParamScan fragment = scanShaderParams(fragmentText ? fragmentText : "");
    result.params = std::move(vertex.params);
    result.vertexIssues = std::move(vertex.issues);
    result.fragmentIssues = std::move(fragment.issues);
    for (ParamDecl& decl : fragment.params) {
        auto same = std::find_if(result.params.begin(), result.params.end(),
                                 [&](const ParamDecl& d) { return d.name == decl.name; });
        if (same == result.params.end())
            result.params.push_back(std::move(decl));
        else if (same->type != decl.type)
            result.fragmentIssues.push_back(
                ParamIssue{decl.line, "the parameter \"" + decl.name +
                                          "\" has another type in the vertex "
                                          "shader"});
    }
    return result;
}

ParamValues fitParamValues(const ParamDecl& decl, const ParamValues& values) {
    ParamValues out = decl.defaults;
    for (int i = 0; i < componentCount(decl.type); ++i) {
        float v = values[static_cast<size_t>(i)];
        if (!std::isfinite(v)) v = decl.defaults[static_cast<size_t>(i)];
        if (decl.type == ParamType::Int || decl.type == ParamType::Bool) v = std::nearbyint(v);
        out[static_cast<size_t>(i)] = std::clamp(v, decl.minimum, decl.maximum);
    }
    return out;
}

void ShaderParams::declare(int layer, const std::vector<ParamDecl>& decls) {
    if (layer < 0 || layer >= PARAM_LAYERS) return;
    const std::lock_guard<std::mutex> hold(m_lock);
    std::vector<ParamEntry>& old = m_layers[static_cast<size_t>(layer)];
    std::vector<ParamEntry> next;
    next.reserve(decls.size() + old.size());
    std::vector<bool> taken(old.size(), false);
    for (const ParamDecl& decl : decls) {
        ParamEntry entry{decl, true, true, componentCount(decl.type), decl.defaults};
        for (size_t i = 0; i < old.size(); ++i) {
            const ParamEntry& was = old[i];
            if (taken[i] || was.decl.name != decl.name) continue;
            taken[i] = true;
            const bool keeps =
                was.typeKnown ? was.decl.type == decl.type : was.count == entry.count;
            if (keeps) entry.values = fitParamValues(decl, was.values);
            break;
        }
        next.push_back(std::move(entry));
    }
    for (size_t i = 0; i < old.size(); ++i) {
        if (taken[i]) continue;
        ParamEntry kept = std::move(old[i]);
        kept.declared = false;
        next.push_back(std::move(kept));
    }
    old = std::move(next);
    ++m_generation;
    ++m_valueRevision;
}

void ShaderParams::clear() {
    const std::lock_guard<std::mutex> hold(m_lock);
    for (auto& layer : m_layers)
        layer.clear();
    ++m_generation;
    ++m_valueRevision;
}

ParamEntry* ShaderParams::find(int layer, std::string_view name) {
    if (layer < 0 || layer >= PARAM_LAYERS) return nullptr;
    for (ParamEntry& entry : m_layers[static_cast<size_t>(layer)])
        if (entry.decl.name == name) return &entry;
    return nullptr;
}

const ParamEntry* ShaderParams::find(int layer, std::string_view name) const {
    return const_cast<ShaderParams*>(this)->find(layer, name);
}

bool ShaderParams::store(int layer, std::string_view name, const float* values, int count) {
    if (layer < 0 || layer >= PARAM_LAYERS || !validParamName(name) || !values || count < 1 ||
        count > 4)
        return false;
    ParamValues given{};
    std::copy(values, values + count, given.begin());
    if (!std::all_of(given.begin(), given.begin() + count,
                     [](float v) { return std::isfinite(v); }))
        return false;
    const std::lock_guard<std::mutex> hold(m_lock);
    ++m_valueRevision;
    if (ParamEntry* entry = find(layer, name)) {
        if (entry->declared) {
            if (entry->count != count) return false;
            entry->values = fitParamValues(entry->decl, given);
            return true;
        }
        entry->typeKnown = false;
        entry->count = count;
        entry->values = given;
        return true;
    }
    ParamEntry entry;
    entry.decl.name = std::string(name);
    entry.decl.label = entry.decl.name;
    entry.count = count;
    entry.values = given;
    m_layers[static_cast<size_t>(layer)].push_back(std::move(entry));
    ++m_generation;
    return true;
}

int ShaderParams::get(int layer, std::string_view name, ParamValues& values) const {
    const std::lock_guard<std::mutex> hold(m_lock);
    const ParamEntry* entry = find(layer, name);
    if (!entry || !entry->declared) return -1;
    values = entry->values;
    return entry->count;
}

int ShaderParams::set(int layer, std::string_view name, const float* values, int count) {
    if (!values || count < 1) return -1;
    const std::lock_guard<std::mutex> hold(m_lock);
    ParamEntry* entry = find(layer, name);
    if (!entry || !entry->declared) return -1;
    ParamValues given = entry->values;
    std::copy(values, values + std::min(count, entry->count), given.begin());
    entry->values = fitParamValues(entry->decl, given);
    ++m_valueRevision;
    return entry->count;
}

bool ShaderParams::resetToDefault(int layer, std::string_view name) {
    const std::lock_guard<std::mutex> hold(m_lock);
    ParamEntry* entry = find(layer, name);
    if (!entry || !entry->declared) return false;
    entry->values = entry->decl.defaults;
    ++m_valueRevision;
    return true;
}

void ShaderParams::resetAllToDefaults() {
    const std::lock_guard<std::mutex> hold(m_lock);
    for (auto& layer : m_layers)
        for (ParamEntry& entry : layer)
            if (entry.declared) entry.values = entry.decl.defaults;
    ++m_valueRevision;
}

std::vector<ParamEntry> ShaderParams::entries(int layer) const {
    if (layer < 0 || layer >= PARAM_LAYERS) return {};
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_layers[static_cast<size_t>(layer)];
}

bool ShaderParams::copyDeclared(int layer, uint64_t generation,
                                std::vector<ParamValues>& out) const {
    if (layer < 0 || layer >= PARAM_LAYERS) return false;
    const std::lock_guard<std::mutex> hold(m_lock);
    if (generation != m_generation) return false;
    out.clear();
    for (const ParamEntry& entry : m_layers[static_cast<size_t>(layer)])
        if (entry.declared) out.push_back(entry.values);
    return true;
}

uint64_t ShaderParams::generation() const {
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_generation;
}

uint64_t ShaderParams::valueRevision() const {
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_valueRevision;
}

ShaderParams& shaderParams() {
    static ShaderParams params;
    return params;
}

} // namespace vortigo
