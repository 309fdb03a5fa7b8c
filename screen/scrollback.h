#pragma once
// Scrollback: rows leaving the top of the screen are kept for viewing later.

// Offers screen row `row` to the scrollback buffer before it scrolls away or is cleared.
void sbaddline(int row);
// Makes screen page `page` (0-based) the one shown and written.
void selpage(int page);
