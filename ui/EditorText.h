// The text rules of the editor that need no widget: where Find next lands,
// how a line number is read, how a text buffer's bytes become characters
// and back, and the replace-first rule of the Sliders dialog's Insert.
#pragma once

#include "persist/TextFile.h"

#include <QString>
#include <QStringView>
#include <string>
#include <string_view>
#include <vector>

namespace vortigo {

// The most bytes a text buffer holds (the NUL not counted).
constexpr size_t TEXT_LIMIT = 65535;

// Byte position of the next occurrence of `needle` that starts after
// `selectionStart` (at selectionStart + 1 or later), or npos. Letter case
// matters; there is no wrap-around.
size_t findNextMatch(const std::string& text, size_t selectionStart, const std::string& needle);

// A line number as the Find dialog reads it: like atoi, 0 for no number.
int readLineNumber(const std::string& text);

// How a text's bytes are shown as characters. A text of valid UTF-8 is
// UTF-8; any other text is Latin-1, one character a byte, so every byte
// comes back as it was. A character typed into a Latin-1 text that Latin-1
// cannot hold is stored as its UTF-8 bytes rather than lost.
enum class TextEncoding { Utf8, Latin1 };

bool isValidUtf8(std::string_view bytes);
// Latin-1 also for valid UTF-8 holding a character that the editor control
// turns into a line break (U+2029) or drops (U+FDD0, U+FDD1), so no text can
// change by being shown.
TextEncoding encodingOf(std::string_view bytes);
// A leading byte-order mark stays a character, so it survives too.
QString decodeText(std::string_view bytes, TextEncoding encoding);
std::string encodeText(QStringView text, TextEncoding encoding);
size_t encodedSize(QStringView text, TextEncoding encoding);
// The number of characters at the start of `text` whose encoding fits in
// `room` bytes, a line break counting `lineBreakBytes`; a surrogate pair is
// never split.
qsizetype prefixThatFits(QStringView text, TextEncoding encoding, size_t lineBreakBytes,
                         size_t room);

// How a line of a buffer ended. The editor shows every kind as one line
// break and gives each unedited line its own ending back.
enum LineEnd : int { LINE_END_LF = 0, LINE_END_CRLF = 1, LINE_END_CR = 2 };
const char* lineEndBytes(int lineEnd);

struct BufferLine {
    std::string_view text; // without its ending
    int end = -1;          // a LineEnd, or -1 for the last line
};
std::vector<BufferLine> splitLines(std::string_view bytes);
// The ending new lines get: the commonest one of the buffer (LF on a tie or
// when it has none).
int dominantLineEnd(const std::vector<BufferLine>& lines);

// Replaces the first occurrence of `name` in `text` by `value` when none of
// them is empty and the result stays within `capacity` bytes; otherwise
// changes nothing and returns false.
bool replaceFirst(std::string& text, std::string_view name, std::string_view value,
                  size_t capacity);

} // namespace vortigo
