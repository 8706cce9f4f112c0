// The studio's command line: its own options, one file to open, and Qt's
// own options (-platform, -style, ...), which are handed on to Qt untouched.
#pragma once

#include <string>
#include <vector>

namespace vortigo {

struct StudioArguments {
    enum class Action { Run, Help, Version, Error } action = Action::Run;
    std::string file;            // empty: none named
    std::vector<std::string> qt; // the program name, then Qt's options in order
    std::string error;           // for Action::Error: the line to print
    bool platformChosen = false; // -platform given: Qt checks the display itself
};

// "--" ends the options: the argument after it is a file even when it starts
// with "-". More than one file is an error, as is an option neither we nor
// Qt know. A Qt option that takes a value takes the next argument, or the
// text after "=".
StudioArguments parseStudioArguments(int argc, const char* const* argv);

} // namespace vortigo
