#include "screen/keynames.h"

// Order matters when printing: the first entry whose code (control code tested first) matches
// names the key, so 297 prints C-HOME and 296 PGUP.
// clang-format off
const KeyName keytrans[NKEYTRANS] = {
    {"up", 276, 320},     {"down", 277, 321},    {"right", 278, 302},   {"left", 279, 303},
    {"home", 280, 297},   {"end", 298, 299},     {"pgup", 296, 306},    {"pgdn", 295, 307},
    {"ins", 300, 322},    {"del", 301, 323},
    {"kp0", 281, 0},      {"kp1", 282, 0},       {"kp2", 283, 0},       {"kp3", 284, 0},
    {"kp4", 285, 0},      {"kp5", 286, 0},       {"kp6", 287, 0},       {"kp7", 288, 0},
    {"kp8", 289, 0},      {"kp9", 290, 0},
    {"kp/", 316, 327},    {"kp*", 314, 313},     {"kp-", 291, 311},     {"kp+", 315, 312},
    {"kpenter", 294, 328}, {"kp.", 293, 0},      {"kp,", 292, 0},       {"five", 324, 325},
    {"numlock", 317, 0},  {"scrlock", 318, 0},   {"bs", 319, 308},      {"enter", 13, 309},
    {"esc", 27, 310},     {"tab", 9, 326},       {"s-tab", 305, 0},     {"print", 304, 313},
    {"delline", 303, 0},  {"insline", 302, 0},   {"clear", 297, 0},     {"clreol", 298, 0},
    {"clreos", 299, 0},   {"next", 295, 0},      {"prev", 296, 0},      {"scrup", 306, 0},
    {"scrdn", 307, 0},    {"inschar", 300, 0},   {"delchar", 301, 0},   {"kpr", 294, 328},
    {"backtab", 305, 0},
};
// clang-format on
