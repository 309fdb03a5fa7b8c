#pragma once
// Connects the display library to the program: fills `disphooks` (screen/hooks.h) with the
// receive queue, the start-up flags, the console, the formatter's messages, the start-up search
// path, the printer and the keyboard. Every program built on the whole system (the binary, its
// tests, fuzz targets and benchmarks) runs it before main; tests of the display library alone
// keep the harmless defaults.
void displayconnect();
