// The studio's fixed texts and the numbers of its menu commands, which never
// change, so that tests and the function keys reach any command by its number.
#pragma once

namespace vortigo {

constexpr const char* APP_TITLE = "Vortigo";
constexpr const char* APP_CLASS_NAME = "VORTIGO";
constexpr int TITLE_LIMIT = 100;

constexpr const char* ABOUT_TITLE = "About";
constexpr const char* ABOUT_VERSION = "Vortigo Version 1.0";
constexpr const char* ABOUT_KEYS =
    "Arrow Keys to fly. 'S' to stop. 'T' toggles timer. 'Q' and 'E' for replay. 'C' toggles "
    "capture. 'X' releases video file.";

constexpr int EDITOR_CONTROL_ID = 1160;

enum Command : int {
    CMD_ABOUT = 104,
    CMD_EXIT = 105,
    CMD_COPY_IMAGE = 32771,
    CMD_OPEN = 32772,
    CMD_SAVE_AS = 32773,
    CMD_NEW = 32774,
    CMD_OUTPUT = 32783,
    CMD_PARAMETERS = 32786,
    CMD_RUN = 32794,
    CMD_COPY = 32795,
    CMD_CUT = 32796,
    CMD_UNDO = 32797,
    CMD_PASTE = 32798,
    CMD_FIND = 32799,
    CMD_COMPILE = 32800,
    CMD_SHOW_SCRIPT = 32801,
    CMD_SHOW_FRAGMENT = 32802,
    CMD_SHOW_VERTEX = 32803,
    CMD_LAYER_1 = 32804,
    CMD_LAYER_2 = 32805,
    CMD_LAYER_3 = 32806,
    CMD_LAYER_4 = 32807,
    CMD_SAVE_ALL = 32808,
    CMD_SAVE = 32809,
    CMD_DELETE_LAYER = 32810,
    CMD_REWIND = 32811,
    CMD_JUMP_TO_END = 32812,
    CMD_REPLAY_BACKWARD = 32813,
    CMD_REPLAY_FORWARD = 32814,
    CMD_SLERP = 32815,
    CMD_MARK_BEGINNING = 32816,
    CMD_MARK_END = 32817,
    CMD_RECORD_DATA = 32818,
    CMD_CLEAR_FLIGHT = 32819,
    CMD_SHOW_DEBUG = 32822,
    CMD_WATCH = 32823,
    CMD_SMOOTH = 32824,
    CMD_SLIDERS = 32825,
    CMD_STOP = 32826,
    CMD_SHADER_PARAMS = 32840,
};

} // namespace vortigo
