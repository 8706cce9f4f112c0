#include "ui/EditorText.h"

#include <cstdlib>
#include <cstring>

namespace vortigo {

size_t findNextMatch(const std::string& text, size_t selectionStart, const std::string& needle) {
    if (needle.empty()) return std::string::npos;
    const size_t from = selectionStart + 1;
    if (from > text.size()) return std::string::npos;
    return text.find(needle, from);
}

int readLineNumber(const std::string& text) {
    return std::atoi(text.c_str());
}

bool usesCrLf(const char* buffer) {
    return buffer && std::strstr(buffer, "\r\n") != nullptr;
}

std::string textForEditor(const char* buffer) {
    std::string text;
    if (!buffer) return text;
    for (const char* p = buffer; *p; ++p)
        if (!(p[0] == '\r' && p[1] == '\n')) text += *p;
    return text;
}

std::string textFromEditor(const std::string& edited, bool bufferUsedCrLf) {
    if (!bufferUsedCrLf) return edited;
    std::string text;
    text.reserve(edited.size() + edited.size() / 32);
    for (char c : edited) {
        if (c == '\n') text += '\r';
        text += c;
    }
    return text;
}

} // namespace vortigo
