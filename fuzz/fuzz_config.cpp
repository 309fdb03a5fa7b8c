// Feeds arbitrary bytes as a configuration file to config read and config write, and to the
// menus' working-copy reader and writer. Lines whose
// first byte is below 0x40 get a setting's keyword in front (chosen by that byte), so the
// values reach the setting parsers; a control byte after it is glued to the keyword. Checks: the
// rewrite keeps every line that is not a setting line, in order and byte for byte; the setting
// lines it writes fit a line; and reading the rewritten file and writing again gives the same bytes
// (what is written reads back the same).
#include "config/conffile.h"
#include "script/cmd.h"
#include "script/settab.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string dir;

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> out;
    for (size_t a = 0; a < text.size();) {
        size_t e = text.find('\n', a);
        if (e == std::string::npos) e = text.size();
        out.push_back(text.substr(a, e - a));
        a = e + 1;
    }
    return out;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Whether the line sets something: a piece of it between ^Z bytes, as the reader sees it
// (carriage returns dropped, cut to a line, skipped for a NUL), starts with a setting's keyword
// or `set` and an option.
bool settingline(const std::string& line) {
    if (size_t z = line.find('\x1a'); z != std::string::npos)
        return settingline(line.substr(0, z)) || settingline(line.substr(z + 1));
    std::string l;
    for (char c : line)
        if (c == 0)
            return false;
        else if (c != '\r' && l.size() < static_cast<size_t>(LINEMAX))
            l += c;
    size_t a = l.find_first_not_of(" \t");
    if (a == std::string::npos) return false;
    auto next = [&](size_t& p) {
        std::string w;
        while (p < l.size() && l[p] != ' ' && l[p] != '\t')
            w += static_cast<char>(tolower(static_cast<unsigned char>(l[p++])));
        while (p < l.size() && (l[p] == ' ' || l[p] == '\t'))
            p++;
        return w;
    };
    std::string w = next(a);
    if (w == "set") return findsetting(next(a).c_str(), true) != nullptr;
    return findsetting(w.c_str(), false) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0) dup2(fd, 1);
    // Every input rewrites the file four times, each synced: TMPDIR on a memory file system
    // makes long runs many times faster.
    const char* t = getenv("TMPDIR");
    std::string tmpl = std::string(t && *t ? t : "/tmp") + "/fuzz_config.XXXXXX";
    if (!mkdtemp(tmpl.data())) abort();
    dir = tmpl;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (dir.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    std::string text(reinterpret_cast<const char*>(data), size < 4096 ? size : 4096);
    std::vector<const Setting*> rows;
    for (const Setting& s : settingstable())
        if (!(s.flags & (SF_NOSAVE | SF_NOCMD)) && std::string(s.name) != "modem")
            rows.push_back(&s);
    std::string file;
    for (const std::string& l : split(text)) {
        const unsigned char c = l.empty() ? 0x40 : static_cast<unsigned char>(l[0]);
        if (c < 0x40) {
            const Setting* s = rows[c % rows.size()];
            // A control byte next is glued to the keyword, so a NUL or ^Z can end it.
            const bool glued = l.size() > 1 && static_cast<unsigned char>(l[1]) < 0x20;
            file += std::string(s->flags & SF_SET ? "set " : "") + s->name + (glued ? "" : " ") +
                    l.substr(1);
        } else {
            file += l;
        }
        file += "\n";
    }
    // `modem` runs the file it names: such a line is dropped rather than followed.
    std::string kept;
    for (const std::string& l : split(file)) {
        std::string low = l.substr(0, 8);
        for (char& ch : low)
            ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        if (low.find("modem") == std::string::npos) kept += l + "\n";
    }
    const std::string path = dir + "/f.con";
    put(path, kept);
    settingsdefaults();
    rdconfig(path.c_str());
    if (wrconfig(path.c_str()) != 0) abort();
    const std::string once = slurp(path);
    const std::vector<std::string> in = split(kept), out = split(once);
    size_t j = 0;
    for (const std::string& l : in) {
        if (settingline(l)) continue;
        while (j < out.size() && out[j] != l)
            j++;
        if (j == out.size()) abort(); // a user line was lost or moved
        j++;
    }
    for (const std::string& l : out)
        for (size_t a = 0, e = 0; e < l.size(); a = e + 1) { // each piece between ^Z bytes
            e = std::min(l.find('\x1a', a), l.size());
            if (e - a > static_cast<size_t>(LINEMAX) && settingline(l.substr(a, e - a))) abort();
        }
    rdconfig(path.c_str());
    if (wrconfig(path.c_str()) != 0 || slurp(path) != once) abort();
    // The working copy the menus edit: what it writes reads back and writes the same bytes.
    put(path, kept);
    ConfVars v, w;
    if (!rdconfvars(path.c_str(), v) || wrconfvars(path.c_str(), v) != 0) abort();
    const std::string first = slurp(path);
    if (!rdconfvars(path.c_str(), w) || wrconfvars(path.c_str(), w) != 0) abort();
    if (slurp(path) != first) abort();
    settingsdefaults();
    return 0;
}
