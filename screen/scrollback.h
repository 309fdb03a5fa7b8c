#pragma once
// Scrollback: rows leaving the top of the screen are kept for viewing later.

// Offers screen row `row` to the scrollback buffer before it scrolls away or is cleared.
void sbaddline(int row);
