// The text rules of the editor that need no widget: where Find next lands,
// how a line number is read, and how line breaks travel between a text
// buffer and the editor control.
#pragma once

#include <string>

namespace vortigo {

// Byte position of the next occurrence of `needle` that starts after
// `selectionStart` (at selectionStart + 1 or later), or npos. Letter case
// matters; there is no wrap-around.
size_t findNextMatch(const std::string& text, size_t selectionStart, const std::string& needle);

// A line number as the Find dialog reads it: like atoi, 0 for no number.
int readLineNumber(const std::string& text);

// The control shows LF line breaks; a buffer that held CR LF gets CR LF
// back when the control is stored, so loading and storing keeps the bytes.
std::string textForEditor(const char* buffer);
std::string textFromEditor(const std::string& edited, bool bufferUsedCrLf);
bool usesCrLf(const char* buffer);

} // namespace vortigo
