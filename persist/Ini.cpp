#include "persist/Ini.h"

#include "persist/TextFile.h"

#include <cerrno>
#include <cstring>

namespace vortigo {

namespace {

struct Line {
    size_t begin = 0; // first byte of the line
    size_t end = 0;   // end of its text, before any CR LF or LF
    size_t next = 0;  // first byte of the following line
    bool terminated = false;
};

enum class LineKind { Blank, Section, Key, Other };

struct Parsed {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::string_view value;
};

bool nextLine(const std::string& bytes, size_t& pos, Line& line) {
    if (pos >= bytes.size()) return false;
    const char* base = bytes.data();
    // A byte search over the rest of the text, not a string copy.
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
    const void* newline = std::memchr(base + pos, '\n', bytes.size() - pos);
    const size_t stop =
        newline ? static_cast<size_t>(static_cast<const char*>(newline) - base) : bytes.size();
    line.begin = pos;
    line.end = stop;
    if (line.end > line.begin && bytes[line.end - 1] == '\r') --line.end;
    line.terminated = newline != nullptr;
    line.next = newline ? stop + 1 : bytes.size();
    pos = line.next;
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

Parsed classify(const std::string& bytes, const Line& line) {
    const std::string_view text =
        trim(std::string_view(bytes).substr(line.begin, line.end - line.begin));
    if (text.empty()) return {LineKind::Blank, {}, {}};
    if (text.front() == '[') {
        const auto close = text.find(']');
        const auto name =
            close == std::string_view::npos ? text.substr(1) : text.substr(1, close - 1);
        return {LineKind::Section, trim(name), {}};
    }
    if (text.front() == ';') return {LineKind::Other, {}, {}};
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) return {LineKind::Other, {}, {}};
    return {LineKind::Key, trim(text.substr(0, equals)), trim(text.substr(equals + 1))};
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

bool holdsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool validName(std::string_view name, char forbidden) {
    return !name.empty() && !holdsLineBreakOrNul(name) && trim(name).size() == name.size() &&
           name.find(forbidden) == std::string_view::npos;
}

} // namespace

bool IniFile::load(const std::string& path) {
    m_bytes.clear();
    std::string bytes;
    const int error = readFilePrefix(path, INI_MAX_BYTES + 1, bytes);
    if (error == ENOENT || error == ENOTDIR) return true;
    if (error != 0 || bytes.size() > INI_MAX_BYTES) return false;
    m_bytes = std::move(bytes);
    return true;
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const {
    bool inSection = false;
    size_t pos = 0;
    Line line;
    while (nextLine(m_bytes, pos, line)) {
        const Parsed parsed = classify(m_bytes, line);
        if (parsed.kind == LineKind::Section) {
            if (inSection) return std::nullopt;
            inSection = sameName(parsed.name, section);
        } else if (inSection && parsed.kind == LineKind::Key && sameName(parsed.name, key)) {
            std::string_view value = parsed.value;
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            return std::string(value);
        }
    }
    return std::nullopt;
}

bool IniFile::set(std::string_view section, std::string_view key, std::string_view value) {
    if (!validName(section, ']') || !validName(key, '=') || key.front() == '[' ||
        key.front() == ';' || holdsLineBreakOrNul(value))
        return false;

    // Added lines follow the file's first line break so a CR LF file stays one.
    const auto firstNewline = m_bytes.find('\n');
    const std::string eol =
        firstNewline != std::string::npos && firstNewline > 0 && m_bytes[firstNewline - 1] == '\r'
            ? "\r\n"
            : "\n";
    std::string entry(key);
    entry += '=';
    entry += value;

    bool inSection = false;
    bool sectionFound = false;
    Line lastSolid; // the section's last non-blank line, its header at least
    size_t pos = 0;
    Line line;
    while (nextLine(m_bytes, pos, line)) {
        const Parsed parsed = classify(m_bytes, line);
        if (parsed.kind == LineKind::Section) {
            if (inSection) break;
            if (!sectionFound && sameName(parsed.name, section)) {
                inSection = sectionFound = true;
                lastSolid = line;
            }
            continue;
        }
        if (!inSection) continue;
        if (parsed.kind == LineKind::Key && sameName(parsed.name, key)) {
            m_bytes.replace(line.begin, line.end - line.begin, entry);
            return true;
        }
        if (parsed.kind != LineKind::Blank) lastSolid = line;
    }

    if (sectionFound) {
        const std::string insert = lastSolid.terminated ? entry + eol : eol + entry + eol;
        m_bytes.insert(lastSolid.next, insert);
        return true;
    }
    if (!m_bytes.empty() && m_bytes.back() != '\n') m_bytes += eol;
    m_bytes += '[';
    m_bytes += section;
    m_bytes += ']';
    m_bytes += eol;
    m_bytes += entry;
    m_bytes += eol;
    return true;
}

bool IniFile::save(const std::string& path) const {
    return replaceFileContents(path, m_bytes.data(), m_bytes.size());
}

std::optional<std::string> iniRead(const std::string& path, const std::string& section,
                                   const std::string& key) {
    IniFile file;
    if (!file.load(path)) return std::nullopt;
    return file.get(section, key);
}

bool iniWrite(const std::string& path, const std::string& section, const std::string& key,
              const std::string& value) {
    IniFile file;
    return file.load(path) && file.set(section, key, value) && file.save(path);
}

} // namespace vortigo
