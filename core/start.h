#pragma once
// Start-up and the single exit path. vornmain() reads the program name, the options, the
// environment and the start-up scripts, prepares the console and the line, and runs the
// terminal-mode loop; every end of the program goes through doneterm().

[[noreturn]] int vornmain(int argc, char** argv);
[[noreturn]] void doneterm(int status);
