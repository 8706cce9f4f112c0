#include "ui/EditorText.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vortigo {
namespace {

// Decodes one UTF-8 sequence at bytes[i]; 0 when it is not valid (overlong
// forms, surrogates and values past U+10FFFF included).
size_t utf8Sequence(std::string_view bytes, size_t i, char32_t& cp) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char b0 = at(i);
    size_t length;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        length = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > bytes.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (at(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

size_t utf8Length(char32_t cp) {
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The code point at text[i] and how many UTF-16 units it takes; a lone
// surrogate stands for itself.
char32_t codePointAt(QStringView text, qsizetype i, qsizetype& units) {
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        units = 2;
        return QChar::surrogateToUcs4(c, text[i + 1]);
    }
    units = 1;
    return c.unicode();
}

size_t characterBytes(char32_t cp, TextEncoding encoding) {
    if (encoding == TextEncoding::Latin1 && cp <= 0xFF) return 1;
    return utf8Length(cp);
}

} // namespace

size_t findNextMatch(const std::string& text, size_t selectionStart, const std::string& needle) {
    if (needle.empty()) return std::string::npos;
    const size_t from = selectionStart + 1;
    if (from > text.size()) return std::string::npos;
    return text.find(needle, from);
}

int readLineNumber(const std::string& text) {
    return std::atoi(text.c_str());
}

bool isValidUtf8(std::string_view bytes) {
    char32_t cp;
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = utf8Sequence(bytes, i, cp);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

TextEncoding encodingOf(std::string_view bytes) {
    char32_t cp;
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = utf8Sequence(bytes, i, cp);
        if (n == 0 || cp == 0x2029 || cp == 0xFDD0 || cp == 0xFDD1) return TextEncoding::Latin1;
        i += n;
    }
    return TextEncoding::Utf8;
}

QString decodeText(std::string_view bytes, TextEncoding encoding) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    if (encoding == TextEncoding::Latin1) {
        for (char b : bytes)
            text += QChar(static_cast<unsigned char>(b));
        return text;
    }
    // Our own decoder: Qt's drops a leading byte-order mark.
    char32_t cp;
    for (size_t i = 0; i < bytes.size();) {
        size_t n = utf8Sequence(bytes, i, cp);
        if (n == 0) cp = 0xFFFD, n = 1; // only reached for a text that is not UTF-8
        if (cp >= 0x10000) {
            text += QChar(QChar::highSurrogate(cp));
            text += QChar(QChar::lowSurrogate(cp));
        } else {
            text += QChar(static_cast<char16_t>(cp));
        }
        i += n;
    }
    return text;
}

std::string encodeText(QStringView text, TextEncoding encoding) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    qsizetype units;
    for (qsizetype i = 0; i < text.size(); i += units) {
        const char32_t cp = codePointAt(text, i, units);
        if (encoding == TextEncoding::Latin1 && cp <= 0xFF)
            out += static_cast<char>(cp);
        else
            appendUtf8(out, cp);
    }
    return out;
}

size_t encodedSize(QStringView text, TextEncoding encoding) {
    size_t size = 0;
    qsizetype units;
    for (qsizetype i = 0; i < text.size(); i += units)
        size += characterBytes(codePointAt(text, i, units), encoding);
    return size;
}

qsizetype prefixThatFits(QStringView text, TextEncoding encoding, size_t lineBreakBytes,
                         size_t room) {
    size_t used = 0;
    qsizetype units;
    for (qsizetype i = 0; i < text.size(); i += units) {
        const char32_t cp = codePointAt(text, i, units);
        const size_t bytes = cp == '\n' ? lineBreakBytes : characterBytes(cp, encoding);
        if (used + bytes > room) return i;
        used += bytes;
    }
    return text.size();
}

const char* lineEndBytes(int lineEnd) {
    switch (lineEnd) {
    case LINE_END_CRLF:
        return "\r\n";
    case LINE_END_CR:
        return "\r";
    case LINE_END_LF:
        return "\n";
    default:
        return "";
    }
}

std::vector<BufferLine> splitLines(std::string_view bytes) {
    std::vector<BufferLine> lines;
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        int end;
        size_t next;
        if (bytes[i] == '\n') {
            end = LINE_END_LF, next = i + 1;
        } else if (bytes[i] == '\r') {
            const bool pair = i + 1 < bytes.size() && bytes[i + 1] == '\n';
            end = pair ? LINE_END_CRLF : LINE_END_CR, next = i + (pair ? 2 : 1);
        } else {
            continue;
        }
        lines.push_back({bytes.substr(start, i - start), end});
        start = next;
        i = next - 1;
    }
    lines.push_back({bytes.substr(start), -1});
    return lines;
}

int dominantLineEnd(const std::vector<BufferLine>& lines) {
    std::array<size_t, 3> counts{};
    for (const BufferLine& line : lines)
        if (line.end >= 0) ++counts[static_cast<size_t>(line.end)];
    int best = LINE_END_LF;
    for (int end : {LINE_END_CRLF, LINE_END_CR})
        if (counts[static_cast<size_t>(end)] > counts[static_cast<size_t>(best)]) best = end;
    return best;
}

bool replaceFirst(std::string& text, std::string_view name, std::string_view value,
                  size_t capacity) {
    if (text.empty() || name.empty() || value.empty()) return false;
    const size_t at = text.find(name);
    if (at == std::string::npos) return false;
    if (text.size() - name.size() + value.size() > capacity) return false;
    text.replace(at, name.size(), value);
    return true;
}

} // namespace vortigo
