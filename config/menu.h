#pragma once
// Command menu, procedure mode and help.
//
// The command menu is a tree of one-line bar menus on the top rows of the screen: row 0 the
// title, row 1 the choices with the current one reversed, row 2 its help line, row 3 a rule,
// rows 4 and below the work area. Each leaf calls a handler that prompts on those rows and
// then calls the operation the script command of the same work uses.
#include <string>

// The top menu, run repeatedly while a handler asks to close all menus; -1 for Esc at the
// top, -2 for terminal mode. Always run through enterproc.
int runmenus(int argument);
// The menu a plain start opens: the top menu with a few lines on how to use it.
int startmenu(int argument);
// Runs a full-screen procedure with the emulator's screen state saved around it. With a
// script window open it only rings the bell; inside a procedure it calls the procedure directly.
int enterproc(int (*procedure)(int), int argument);
int m_quit(int argument);
int help(const char* keyword);

// The menu list: slot index, title, choice line, a help line and an action per choice.
struct MenuDef {
    const char* title;
    const char* choices;
    const char* const* helps;
    const int* actions;
};
const MenuDef* menudef(int index); // nullptr for an empty slot
constexpr int NMENUS = 19;
// The choice words of a line (split at runs of blanks) and their hot keys (the first
// character that is not a lower-case letter; a key a choice before already has is 0), and
// where each starts in the line when `starts` is given.
void menuwords(const char* choices, std::string* words, int* keys, int& count, int max,
               int* starts = nullptr);
// Where the keys of the menu come from (the console by default; tests feed their own).
void menukeys(int (*source)());
