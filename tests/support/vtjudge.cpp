#include "support/vtjudge.h"

#include <vterm.h>

VtJudge::VtJudge(int rows, int cols) : rows_(rows), cols_(cols) {
    vt_ = vterm_new(rows, cols);
    vterm_set_utf8(vt_, 0);
    vs_ = vterm_obtain_screen(vt_);
    vterm_screen_enable_altscreen(vs_, 1);
    vterm_screen_reset(vs_, 1);
    st_ = vterm_obtain_state(vt_);
    vterm_output_set_callback(vt_, &VtJudge::outputCb, this);
}

VtJudge::~VtJudge() {
    vterm_free(vt_);
}

void VtJudge::outputCb(const char* s, size_t len, void* user) {
    auto* self = static_cast<VtJudge*>(user);
    if (self->reply_) self->reply_(std::string_view(s, len));
}

void VtJudge::resize(int rows, int cols) {
    rows_ = rows;
    cols_ = cols;
    vterm_set_size(vt_, rows, cols);
}

void VtJudge::setUtf8(bool on) {
    vterm_set_utf8(vt_, on);
}

void VtJudge::feed(std::string_view bytes) {
    if (!bytes.empty()) vterm_input_write(vt_, bytes.data(), bytes.size());
}

static void appendUtf8(std::string& out, uint32_t c) {
    const int tail = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    static const uint8_t lead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(lead[tail] | (c >> (6 * tail)));
    for (int i = tail - 1; i >= 0; i--)
        out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
}

CellView VtJudge::cell(int r, int c) const {
    CellView v;
    VTermScreenCell cell{};
    if (r < 0 || r >= rows_ || c < 0 || c >= cols_) return v;
    vterm_screen_get_cell(vs_, VTermPos{r, c}, &cell);
    if (cell.chars[0] == static_cast<uint32_t>(-1)) {
        v.wideright = true;
        return v;
    }
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i]; i++)
        appendUtf8(v.text, cell.chars[i]);
    v.bold = cell.attrs.bold;
    v.underline = cell.attrs.underline != 0;
    v.blink = cell.attrs.blink;
    v.reverse = cell.attrs.reverse;
    if (VTERM_COLOR_IS_INDEXED(&cell.fg) && !VTERM_COLOR_IS_DEFAULT_FG(&cell.fg))
        v.fg = cell.fg.indexed.idx;
    if (VTERM_COLOR_IS_INDEXED(&cell.bg) && !VTERM_COLOR_IS_DEFAULT_BG(&cell.bg))
        v.bg = cell.bg.indexed.idx;
    if (VTERM_COLOR_IS_RGB(&cell.fg) && !VTERM_COLOR_IS_DEFAULT_FG(&cell.fg))
        v.rgbfg = cell.fg.rgb.red << 16 | cell.fg.rgb.green << 8 | cell.fg.rgb.blue;
    if (VTERM_COLOR_IS_RGB(&cell.bg) && !VTERM_COLOR_IS_DEFAULT_BG(&cell.bg))
        v.rgbbg = cell.bg.rgb.red << 16 | cell.bg.rgb.green << 8 | cell.bg.rgb.blue;
    return v;
}

std::string VtJudge::row(int r) const {
    std::string out;
    for (int c = 0; c < cols_; c++) {
        CellView v = cell(r, c);
        if (v.wideright) continue;
        out += v.text.empty() ? " " : v.text;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string VtJudge::screen() const {
    std::string out;
    for (int r = 0; r < rows_; r++) {
        out += row(r);
        out += '\n';
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

bool VtJudge::contains(std::string_view text) const {
    return screen().find(text) != std::string::npos;
}

int VtJudge::cursorRow() const {
    VTermPos p;
    vterm_state_get_cursorpos(st_, &p);
    return p.row;
}

int VtJudge::cursorCol() const {
    VTermPos p;
    vterm_state_get_cursorpos(st_, &p);
    return p.col;
}
