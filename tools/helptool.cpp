// Build-time tool for the on-line manual.
//
//   helptool index vorn.hlp vorn.hdx    checks the help text and writes its keyword index
//   helptool man vorn.hlp vorn.1 VERSION DATE   writes the same text as a man page
//
// The index holds, in file order, one 13-byte record per keyword named on the ".k" lines of
// each topic: the keyword lower-cased and NUL-padded to 10 bytes, then the offset of the
// topic's "..m" line in 24 bits, little-endian. The program searches only the first 230
// records and compares at most 10 characters, so the builder refuses an index that would lose
// keywords: more than 230 records, two keywords alike in their first 10 characters, a link or
// related-topic name that no keyword places, and pages that overflow what a page can hold.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int KEYLEN = 10;
constexpr int MAXRECORDS = 230;
constexpr int ROWS = 16, LINKS = 22, RELATED = 10, POOLWARN = 245, WIDTH = 79;

struct Topic {
    long offset = 0;
    int line = 0;
    std::string title, right;
    std::vector<std::string> keys, also, related;
    std::vector<std::pair<int, std::string>> text; // file line number, text
};

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c += 32;
    return s;
}

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

std::vector<std::string> commas(const std::string& s) {
    std::vector<std::string> out;
    std::stringstream in(s);
    std::string w;
    while (std::getline(in, w, ','))
        if (!trim(w).empty()) out.push_back(trim(w));
    return out;
}

// A text line as its parts: plain text runs, bold toggles and links.
struct Part {
    enum Kind { Text, Bold, Link } kind;
    std::string text;
};

std::vector<Part> parse(const std::string& line) {
    std::vector<Part> parts;
    auto text = [&](const std::string& t) {
        if (!parts.empty() && parts.back().kind == Part::Text)
            parts.back().text += t;
        else
            parts.push_back({Part::Text, t});
    };
    for (size_t i = 0; i < line.size(); i++) {
        char c = line[i];
        if (c == 2) {
            parts.push_back({Part::Bold, ""});
        } else if (c == '$' && i + 1 < line.size() && line[i + 1] == '$') {
            text("$");
            i++;
        } else if (c == '$' && i + 1 < line.size() && line[i + 1] != ' ' && line[i + 1] != '\t') {
            std::string w;
            size_t j = i + 1;
            bool blank = false;
            if (line[j] == '(') {
                for (j++; j < line.size() && line[j] != ')'; j++)
                    w += line[j];
                if (j < line.size()) j++;
            } else {
                for (; j < line.size() && !std::strchr(" \t.,;:)", line[j]); j++)
                    w += line[j];
                if (j < line.size() && line[j] == ' ') j++, blank = true;
            }
            if (w.empty())
                text("$");
            else
                parts.push_back({Part::Link, w});
            if (blank) text(" ");
            i = j - 1;
        } else {
            text(std::string(1, c));
        }
    }
    return parts;
}

int width(const std::vector<Part>& parts) {
    int col = 0;
    for (const Part& p : parts)
        for (char c : p.text)
            col = c == '\t' ? (col / 8 + 1) * 8 : col + 1;
    return col;
}

bool readtopics(const char* path, std::vector<Topic>& topics, std::string& all) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << path << ": cannot open\n";
        return false;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    all = ss.str();
    size_t pos = 0;
    int lineno = 0;
    while (pos < all.size()) {
        size_t end = all.find('\n', pos);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(pos, end - pos);
        lineno++;
        if (line.rfind("..m", 0) == 0) {
            Topic t;
            t.offset = static_cast<long>(pos);
            t.line = lineno;
            std::string rest = line.substr(line.find_first_of(" \t") == std::string::npos
                                               ? line.size()
                                               : line.find_first_of(" \t"));
            size_t comma = rest.find(',');
            t.title = trim(rest.substr(0, comma));
            if (comma != std::string::npos) t.right = trim(rest.substr(comma + 1));
            topics.push_back(t);
        } else if (!topics.empty()) {
            Topic& t = topics.back();
            if (line.rfind("..r", 0) == 0) {
                size_t b = line.find_first_of(" \t");
                if (b != std::string::npos)
                    for (auto& n : commas(line.substr(b)))
                        t.related.push_back(n);
            } else if (line.rfind(".k ", 0) == 0) {
                for (auto& k : commas(line.substr(3)))
                    t.keys.push_back(lower(k));
            } else if (line.rfind(".x ", 0) == 0) {
                for (auto& k : commas(line.substr(3)))
                    t.also.push_back(lower(k));
            } else if (line.empty() || line[0] != '.') {
                t.text.push_back({lineno, line});
            }
        }
        pos = end + 1;
    }
    return true;
}

// Whether the topic's text shows `name` (lower case) as a word of its own.
bool mentions(const Topic& t, const std::string& name) {
    auto wordch = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    };
    for (const auto& tl : t.text) {
        std::string plain;
        for (const Part& p : parse(tl.second))
            plain += lower(p.text);
        for (size_t at = plain.find(name); at != std::string::npos; at = plain.find(name, at + 1)) {
            size_t end = at + name.size();
            bool left = at == 0 || !wordch(plain[at - 1]) || !wordch(name[0]);
            bool right = end >= plain.size() || !wordch(plain[end]) || !wordch(name.back());
            if (left && right) return true;
        }
    }
    return false;
}

int index(const char* hlp, const char* hdx) {
    std::vector<Topic> topics;
    std::string all;
    if (!readtopics(hlp, topics, all)) return 1;
    int errors = 0;
    auto err = [&](int line, const std::string& what) {
        std::cerr << hlp << ":" << line << ": " << what << "\n";
        errors++;
    };
    std::map<std::string, std::pair<std::string, int>> seen; // first 10 chars -> keyword, line
    std::vector<std::pair<std::string, long>> records;
    for (const Topic& t : topics) {
        if (t.keys.empty()) err(t.line, "topic \"" + t.title + "\" has no keyword (.k line)");
        if (t.offset >= (1L << 24)) err(t.line, "topic lies past the 24-bit offset range");
        if (t.related.size() > RELATED) err(t.line, "more than 10 related topics");
        if (t.title.size() > 60) err(t.line, "title too long");
        for (const std::string& k : t.keys) {
            if (k == "(continue)" || k == "(backup)") err(t.line, "reserved keyword " + k);
            std::string key = k.substr(0, KEYLEN);
            auto it = seen.find(key);
            if (it != seen.end()) {
                err(t.line, "keyword \"" + k + "\" is the same in its first 10 characters as \"" +
                                it->second.first + "\" (line " + std::to_string(it->second.second) +
                                ")");
                continue;
            }
            seen[key] = {k, t.line};
            records.push_back({key, t.offset});
        }
    }
    if (records.size() > MAXRECORDS)
        err(0, std::to_string(records.size()) + " keywords; only the first 230 are searched");
    auto places = [&](const std::string& name) {
        return seen.count(lower(name).substr(0, KEYLEN)) > 0;
    };
    for (const Topic& t : topics) {
        // Names a page says it documents (".x") must appear in its text.
        for (const std::string& x : t.also)
            if (!mentions(t, x)) err(t.line, "\"" + x + "\" is listed (.x) but not in the text");
        for (const std::string& r : t.related)
            if (!places(r)) err(t.line, "related topic \"" + r + "\" is not in the index");
        // Pages of 16 rows: links and the related names share the page's text pool.
        int pool = 0;
        for (const std::string& r : t.related)
            pool += static_cast<int>(r.size()) + 1;
        const int relpool = pool;
        int nlinks = 0;
        for (size_t i = 0; i < t.text.size(); i++) {
            if (i % ROWS == 0) pool = relpool, nlinks = 0;
            const auto& [lineno, line] = t.text[i];
            auto parts = parse(line);
            if (width(parts) > WIDTH) err(lineno, "line wider than 79 columns");
            for (const Part& p : parts) {
                if (p.kind != Part::Link) continue;
                if (!places(p.text)) err(lineno, "link \"" + p.text + "\" is not in the index");
                nlinks++;
                pool += static_cast<int>(p.text.size()) + 1;
            }
            if (nlinks > LINKS) err(lineno, "more than 22 links on one page");
            if (pool >= POOLWARN) err(lineno, "link texts fill the page's 256-byte pool");
            for (char c : line)
                if (static_cast<unsigned char>(c) < 32 && c != 2 && c != '\t')
                    err(lineno, "control character in text");
        }
    }
    if (errors) return 1;
    std::ofstream out(hdx, std::ios::binary | std::ios::trunc);
    for (const auto& [key, off] : records) {
        char rec[13] = {0};
        std::memcpy(rec, key.data(), key.size());
        rec[10] = static_cast<char>(off & 0xff);
        rec[11] = static_cast<char>(off >> 8 & 0xff);
        rec[12] = static_cast<char>(off >> 16 & 0xff);
        out.write(rec, sizeof rec);
    }
    if (!out) {
        std::cerr << hdx << ": cannot write\n";
        return 1;
    }
    return 0;
}

// Text for roff: backslashes escaped, a leading control character neutralised.
std::string roff(const std::string& s) {
    std::string o;
    for (char c : s) {
        if (c == '\\')
            o += "\\e";
        else if (c == '-')
            o += "\\-";
        else
            o += c;
    }
    return o;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c -= 32;
    return s;
}

int man(const char* hlp, const char* outpath, const char* version, const char* date) {
    std::vector<Topic> topics;
    std::string all;
    if (!readtopics(hlp, topics, all)) return 1;
    std::ofstream out(outpath, std::ios::trunc);
    out << ".\\\" Generated from vorn.hlp by helptool; edit the help text instead.\n"
        << ".TH VORN 1 \"" << date << "\" \"VORN " << version << "\" \"User Commands\"\n"
        << ".SH NAME\nvorn \\- interactive data communications for character terminals\n"
        << ".SH SYNOPSIS\n.B vorn\n[\\fB\\-acdefhikmoqtuvxz1257\\fR]\n[\\fB\\-b\\fR "
           "\\fIsize\\fR]\n[\\fB\\-l\\fR \\fIports\\fR]\n[\\fB\\-p\\fR \\fIsize\\fR]\n"
           "[\\fB\\-s\\fR \\fIparameters\\fR]\n[\\fIscript\\fR [\\fIarguments\\fR]]\n"
           ".br\n.B vorn \\-\\-help\n|\n.B \\-\\-version\n";
    for (const Topic& t : topics) {
        out << ".SH \"" << upper(roff(t.title)) << "\"\n";
        bool nofill = false, bold = false, para = false;
        for (const auto& [lineno, line] : t.text) {
            (void)lineno;
            if (trim(line).empty()) {
                if (nofill) out << ".fi\n", nofill = false;
                para = true;
                continue;
            }
            bool literal = line[0] == ' ' || line[0] == '\t';
            if (para) out << ".PP\n", para = false;
            if (literal && !nofill) out << ".nf\n", nofill = true;
            if (!literal && nofill) out << ".fi\n", nofill = false;
            std::string o;
            for (const Part& p : parse(line)) {
                if (p.kind == Part::Bold) {
                    bold = !bold;
                    o += bold ? "\\fB" : "\\fR";
                } else {
                    std::string txt = p.text;
                    if (p.kind == Part::Text && literal) {
                        // Tabs to blanks, so columns line up as on the help screen.
                        std::string e;
                        for (char c : txt)
                            if (c == '\t')
                                e.append(8 - e.size() % 8, ' ');
                            else
                                e += c;
                        txt = e;
                    }
                    o += p.kind == Part::Link ? "\\fI" + roff(txt) + (bold ? "\\fB" : "\\fR")
                                              : roff(txt);
                }
            }
            if (!literal) {
                size_t a = o.find_first_not_of(' ');
                o = a == std::string::npos ? "" : o.substr(a);
            }
            if (!o.empty() && (o[0] == '.' || o[0] == '\'')) o = "\\&" + o;
            out << o << "\n";
        }
        if (nofill) out << ".fi\n";
        if (bold) out << "\\fR\n";
        if (!t.related.empty()) {
            out << ".PP\nRelated topics: ";
            for (size_t i = 0; i < t.related.size(); i++)
                out << (i ? ", " : "") << roff(t.related[i]);
            out << ".\n";
        }
    }
    if (!out) {
        std::cerr << outpath << ": cannot write\n";
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && !std::strcmp(argv[1], "index")) return index(argv[2], argv[3]);
    if (argc == 6 && !std::strcmp(argv[1], "man")) return man(argv[2], argv[3], argv[4], argv[5]);
    std::cerr << "usage: helptool index vorn.hlp vorn.hdx\n"
                 "       helptool man vorn.hlp vorn.1 version date\n";
    return 2;
}
