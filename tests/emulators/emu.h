#pragma once
// The emulator in-process on a known console: bytes go in through ttyout, the screen is read
// back from screen memory, replies to the host are collected, and everything sent to the
// console is captured (and can be judged by libvterm).
#include "ports/settings.h"
#include "support/emusetup.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

class Emu {
  public:
    // `term` is the console's type from the system database; `rows` its height.
    explicit Emu(int emulation = EM_VT100, const char* term = "xterm", int rows = 24) {
        settingsreset();
        emconsole(term, [this](const char* p, size_t n) { out_.append(p, n); });
        current = &replies_;
        emselect(emulation, rows,
                 [](const char* p, int n) { current->append(p, static_cast<size_t>(n)); });
        vclear();
        oflush();
        out_.clear();
    }
    ~Emu() {
        setconswriter(nullptr);
        replyhook = nullptr;
        current = nullptr;
        qflag = 0;
        unsetenv("TERMCAP");
    }
    Emu(const Emu&) = delete;
    Emu& operator=(const Emu&) = delete;

    void feed(std::string_view bytes) {
        for (unsigned char c : bytes)
            ttyout(c);
        oflush();
    }
    // As terminal mode hands over a block read from the line.
    void feedBlock(std::string_view bytes) {
        ttyouts(reinterpret_cast<const unsigned char*>(bytes.data()),
                static_cast<int>(bytes.size()));
        oflush();
    }
    // Row r of screen memory as characters, trailing blanks removed. A line-drawing glyph reads
    // as the letter that designates it (q for a horizontal line); a PC glyph as its code.
    std::string row(int r) const {
        std::string s;
        for (int c = 0; c < vcols; c++) {
            int cell = vscreen[r][c];
            int code = cell & 0xff;
            if ((cell & A_GLYPH) && !pcset && !pcscreen) code = (code & 31) + 0x5f;
            s += static_cast<char>(code);
        }
        return s.erase(s.find_last_not_of(' ') + 1);
    }
    // All emulated rows joined with '\n', trailing blank rows removed.
    std::string screen() const {
        std::string s;
        for (int r = 0; r < vlines; r++)
            s += row(r) + "\n";
        return s.erase(s.find_last_not_of('\n') + 1);
    }
    int rend(int r, int c) const { return vscreen[r][c] & 0xff00; }
    std::string takeReplies() { return std::exchange(replies_, {}); }
    std::string takeOutput() {
        oflush();
        return std::exchange(out_, {});
    }
    // Feeds `bytes` byte by byte or in the blocks terminal mode hands over from the line; each
    // block's console output goes to `console` as it comes.
    template <class Judge> void feedJudged(std::string_view bytes, bool blocks, Judge& console) {
        for (size_t i = 0; i < bytes.size(); i += 1200) {
            auto block = bytes.substr(i, 1200);
            blocks ? feedBlock(block) : feed(block);
            console.feed(takeOutput());
        }
    }

  private:
    static inline std::string* current = nullptr; // where replyhook appends
    std::string out_;
    std::string replies_;
};

// A stream recorded from a real program (tests/emulators/streams/NAME.bin).
inline std::string loadstream(const std::string& name) {
    std::ifstream f(std::filesystem::path(VORN_SOURCE_DIR) / "tests" / "emulators" / "streams" /
                        (name + ".bin"),
                    std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}
