#include "script/sfile.h"

#include "script/cmd.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

ScriptFile::ScriptFile(FILE* fp, std::string path) : fp_(fp), path_(std::move(path)) {}

ScriptFile::~ScriptFile() {
    if (fp_) fclose(fp_);
}

bool ScriptFile::fill(size_t upto) {
    while (data_.size() < upto && !eof_) {
        if (!fp_ || data_.size() >= static_cast<size_t>(SFILEMAX)) {
            toolarge_ = fp_ != nullptr;
            eof_ = true;
            break;
        }
        // read() rather than fread(): a pipe or terminal gives what it has, so a file fed
        // line by line runs line by line.
        char buf[4096];
        int fd = fileno(fp_);
        ssize_t got = fd >= 0 ? read(fd, buf, sizeof buf)
                              : static_cast<ssize_t>(fread(buf, 1, sizeof buf, fp_));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            eof_ = true;
            break;
        }
        auto n = static_cast<size_t>(got);
        size_t room = static_cast<size_t>(SFILEMAX) - data_.size();
        data_.append(buf, n < room ? n : room);
    }
    return data_.size() >= upto;
}

ScriptLine* ScriptFile::next() {
    auto hit = lines_.find(pos_);
    if (hit != lines_.end()) {
        ScriptLine& l = hit->second;
        pos_ = l.next;
        lastno_ = l.number;
        nextno_ = l.number + 1;
        return &l;
    }
    // Cut a new line: a line feed or ^Z ends it, carriage returns are dropped, the 256th
    // character starts the next line.
    size_t p = static_cast<size_t>(pos_);
    if (!fill(p + 1)) return nullptr;
    ScriptLine l;
    while (fill(p + 1)) {
        char c = data_[p];
        if (c == '\n' || c == 26) {
            p++;
            break;
        }
        if (l.text.size() == LINEMAX) break;
        p++;
        if (c != '\r') l.text += c;
    }
    l.next = static_cast<long>(p);
    l.number = nextno_;
    for (char c : l.text)
        if (c == '$') l.dollar = true;
    ScriptLine& kept = lines_.emplace(pos_, std::move(l)).first->second;
    pos_ = kept.next;
    lastno_ = kept.number;
    nextno_ = kept.number + 1;
    return &kept;
}

void ScriptFile::seek(long offset) {
    if (offset < 0) offset = 0;
    auto hit = lines_.find(offset);
    if (hit != lines_.end() || offset == 0) {
        pos_ = offset;
        nextno_ = offset == 0 ? 1 : hit->second.number;
        lastno_ = nextno_ - 1; // the line before the position counts as the one last run
        return;
    }
    // Not a line this file has cut yet: cut lines from the start until there, so the line
    // numbers stay right.
    pos_ = 0;
    nextno_ = 1;
    while (pos_ < offset && next()) {
    }
}
