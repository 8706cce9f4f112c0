#include "app/StudioArguments.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace vortigo {
namespace {

// QGuiApplication and QApplication read these (with one or two dashes).
constexpr std::array<std::string_view, 12> QT_OPTIONS_WITH_VALUE = {
    "platform",        "platformpluginpath",
    "platformtheme",   "plugin",
    "qwindowgeometry", "qwindowicon",
    "qwindowtitle",    "style",
    "stylesheet",      "session",
    "display",         "geometry"};
constexpr std::array<std::string_view, 3> QT_FLAGS = {"reverse", "widgetcount", "nograb"};

template <size_t N>
bool listed(const std::array<std::string_view, N>& list, std::string_view name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

} // namespace

StudioArguments parseStudioArguments(int argc, const char* const* argv) {
    StudioArguments result;
    result.qt.emplace_back(argc > 0 ? argv[0] : "vortigo");
    auto fail = [&result](const std::string& text) {
        result.action = StudioArguments::Action::Error;
        result.error = text;
        return result;
    };
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (!result.file.empty()) return fail("more than one file named: " + arg);
            result.file = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            result.action = StudioArguments::Action::Help;
            return result;
        }
        if (arg == "-V" || arg == "--version") {
            result.action = StudioArguments::Action::Version;
            return result;
        }
        const size_t dashes = arg.compare(0, 2, "--") == 0 ? 2 : 1;
        const size_t equals = arg.find('=');
        const std::string_view name = std::string_view(arg).substr(
            dashes, equals == std::string::npos ? std::string::npos : equals - dashes);
        if (listed(QT_FLAGS, name) && equals == std::string::npos) {
            result.qt.push_back(arg);
            continue;
        }
        if (listed(QT_OPTIONS_WITH_VALUE, name)) {
            if (name == "platform") result.platformChosen = true;
            if (equals != std::string::npos) {
                // Qt reads "-style=fusion" but not "-platform=x"; hand on both as two words.
                result.qt.push_back(arg.substr(0, equals));
                result.qt.push_back(arg.substr(equals + 1));
                continue;
            }
            if (i + 1 >= argc) return fail("option " + arg + " needs a value");
            result.qt.push_back(arg);
            result.qt.emplace_back(argv[++i]);
            continue;
        }
        return fail("unknown option " + arg);
    }
    return result;
}

} // namespace vortigo
