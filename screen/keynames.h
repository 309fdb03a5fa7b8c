#pragma once
// Key names: the table by which scripts, configuration files and the "%kk" conversion name the
// special keys. Each entry has the key's plain code and, when the key has one, the code of its
// control form (0 = none). Shared by the formatter (printing) and the keyboard (parsing).

struct KeyName {
    const char* name; // lower case, as scripts write it
    int code;         // plain key code
    int ccode;        // control form ("c-" before the name), 0 = none
};

inline constexpr int NKEYTRANS = 49;
extern const KeyName keytrans[NKEYTRANS];
