#pragma once
// The emulator's output entry: every received byte and every message reaches the screen here.

void ttyout(int c);
