#include "ports/service.h"

#include "core/escape.h"
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "ports/com.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
const char* const DEFAULT_TRANSPORT = "default";
const char* const SERVICE_FILE = "service.sys";
constexpr size_t SERVICE_LINE = 255; // longest service line kept

bool isblank(char c) {
    return c == ' ' || c == '\t';
}

// Reads a line at a prompt with echo. ^D on an empty line ends the program while no line is
// open (at start-up, or after the line was lost); with a live connection it only cancels, since
// the prompt then comes from a script or the escape prompt of a session the user wants to keep.
bool askline(const char* prompt, std::string& answer) {
    char buf[NGETS_MAX + 1] = {};
    zzprintf("%s", prompt);
    if (ngets(buf, NG_ECHO | NG_EOF)) {
        if (COM == &nulfunc || comfd < 0) doneterm(0);
        answer.clear();
        return false;
    }
    answer = buf;
    return true;
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The next line of `f` without its newline; the tail of a line longer than SERVICE_LINE is
// read and thrown away (it must not become a line of its own). false at the end of the file.
bool readline(FILE* f, std::string& line, bool& toolong) {
    line.clear();
    toolong = false;
    int c;
    bool any = false;
    while ((c = std::fgetc(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line.size() < SERVICE_LINE)
            line += static_cast<char>(c);
        else
            toolong = true;
    }
    return any;
}
} // namespace

int trustedfile(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    if (st.st_uid != 0 && st.st_uid != getuid()) return 0;
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return 0;
    return 1;
}

int usablefile(const char* path) {
    if (trustedfile(path)) return 1;
    zzprintf("%s can be written by other users: not used\r\n", path);
    return 0;
}

int getsafepath(std::string& path, const char* name) {
    path.clear();
    if (!name || !*name) return 0;
    if (std::strchr(name, '/')) { // named by the user, "./x" included
        path = name;
        return access(name, F_OK) == 0 ? 1 : 0;
    }
    const char* vd = std::getenv("VORNDIR");
    const char* dirs[] = {gethomedir(), vd && *vd ? vd : "/usr/vorn"};
    for (const char* dir : dirs) {
        if (!dir || !*dir) continue;
        std::string p = dir;
        if (p.back() != '/') p += '/';
        p += name;
        if (access(p.c_str(), F_OK) != 0 || !usablefile(p.c_str())) continue;
        path = p;
        return 1;
    }
    return 0;
}

void getranshost(const char* text, std::string& transport, std::string& node) {
    transport.clear();
    node.clear();
    if (!text) return;
    while (isblank(*text))
        text++;
    const char* colon = std::strchr(text, ':');
    if (!colon) {
        transport = text;
        return;
    }
    transport.assign(text, static_cast<size_t>(colon - text));
    node = colon + 1;
}

int getsrvtype(const char* transport) {
    const Transport* t = findtransport(transport);
    return t && t->driver && (t->driver->flags & COMF_PIPEBREAK) ? 'N' : 'D';
}

int chkservice(const char* file, const char* name, std::string& transport, std::string& node,
               int& type) {
    FILE* f = file ? std::fopen(file, "r") : nullptr;
    if (!f) return 0;
    const std::string want = lower(name ? name : "");
    std::string line;
    bool toolong;
    int lineno = 0, found = 0;
    while (!found && readline(f, line, toolong)) {
        lineno++;
        if (toolong) zzprintf("%s: line %d: line too long\r\n", file, lineno);
        std::vector<std::string> words;
        size_t i = 0;
        while (i < line.size() && words.size() < 3) {
            while (i < line.size() && (isblank(line[i]) || line[i] == '\r'))
                i++;
            size_t start = i;
            while (i < line.size() && !isblank(line[i]) && line[i] != '\r')
                i++;
            if (i > start) words.push_back(line.substr(start, i - start));
        }
        if (words.empty() || words[0][0] == '!') continue;
        if (lower(words[0]) != want) continue;
        found = 1;
        type = words.size() > 1 ? std::toupper(static_cast<unsigned char>(words[1][0])) : 'D';
        transport.clear();
        node.clear();
        if (words.size() > 2) {
            // A device path alone ("/dev/ttyS1") is a transport; only ":" brings a node.
            size_t colon = words[2].find(':');
            transport = words[2].substr(0, colon);
            if (colon != std::string::npos) node = words[2].substr(colon + 1);
        }
    }
    std::fclose(f);
    return found;
}

int getservice(const char* name, std::string& transport, std::string& node, int interactive) {
    std::string file;
    const bool havefile = getsafepath(file, SERVICE_FILE) != 0;
    const char* path = file.c_str();
    std::string given = name ? name : "";
    size_t skip = given.find_first_not_of(" \t");
    given.erase(0, skip == std::string::npos ? given.size() : skip);

    int type = 'D';
    std::string svtrans, svnode;
    if (given.find(':') == std::string::npos && given.find('/') == std::string::npos) {
        // A service name; one the directory does not know is taken as a transport.
        transport = given;
        node.clear();
        if (havefile && chkservice(path, given.c_str(), svtrans, svnode, type)) {
            transport = svtrans;
            if (!svnode.empty()) node = svnode;
        }
    } else {
        getranshost(given.c_str(), transport, node);
        if (transport.empty()) transport = DEFAULT_TRANSPORT;
        type = getsrvtype(transport.c_str());
        // A directory entry may stand for a transport.
        if (havefile && chkservice(path, transport.c_str(), svtrans, svnode, type)) {
            transport = svtrans;
            if (node.empty()) node = svnode;
        }
    }
    if (transport.empty()) {
        aberr("Unknown service: %s\r\n", given.c_str());
        return -1;
    }
    if (type == 'N') {
        if (!node.empty()) return 1;
        if (!interactive) return 0;
        askline("Connect to Nodename:", node);
        return node.empty() ? 0 : 1;
    }
    if (type == 'D' && !parmptr.empty()) node = parmptr;
    return 1;
}

void connmsg(int attempt, const char* name, const char* transport, const char* node) {
    std::string where = std::strcmp(name, transport) != 0
                            ? sfmt("%s (%s:%s)...\r\n", name, transport, node)
                            : sfmt("%s:%s...\r\n", name, node);
    if (attempt)
        zzprintf("Attempting connection to %s", where.c_str());
    else
        aberr("Can't connect to %s", where.c_str()); // kept for standard error at start-up
}

namespace {
// Opens `transport` and connects to `node`, with the progress messages; `name` is what the
// user asked for. 1 connected, -1 failure (the null line is current again).
int openline(const std::string& name, const std::string& transport, const std::string& node) {
    connmsg(1, name.c_str(), transport.c_str(), node.c_str());
    comexit();
    bool opened = cominit(transport.c_str()) >= 0;
    if (opened && COM->vt(node.c_str()) >= 0) {
        curnodename = node;
        return 1;
    }
    if (opened) comexit();
    connmsg(0, name.c_str(), transport.c_str(), node.c_str());
    cominit(nullptr);
    return -1;
}
} // namespace

int connservice(const char* name, int interactive) {
    std::string asked = name ? name : "";
    if (asked.empty()) {
        if (!interactive) return -1;
        if (!askline("Connect to: ", asked) || asked.empty()) return 0;
    }
    if (asked.find(';') != std::string::npos) {
        // A port list of device names goes to the port layer whole, which takes the first one
        // free; a list naming services or addresses is tried one member at a time.
        if (asked.find(':') == std::string::npos) return openline(asked, asked, parmptr);
        int r = -1;
        size_t pos = 0;
        while (r < 1 && pos <= asked.size()) {
            size_t end = asked.find(';', pos);
            if (end == std::string::npos) end = asked.size();
            std::string one = asked.substr(pos, end - pos);
            pos = end + 1;
            if (!one.empty()) r = connservice(one.c_str(), interactive);
        }
        return r;
    }
    std::string transport, node;
    int r = getservice(asked.c_str(), transport, node, interactive);
    if (r < 1) return r;
    return openline(asked, transport, node);
}

int servicename(const char* name) {
    std::string n = name ? name : "";
    size_t a = n.find_first_not_of(" \t"), b = n.find_last_not_of(" \t\r\n");
    if (a == std::string::npos) return 0;
    n = n.substr(a, b - a + 1);
    if (n.find_first_of(":;") != std::string::npos) return 1;
    std::string file, t, node;
    int type;
    return getsafepath(file, SERVICE_FILE) && chkservice(file.c_str(), n.c_str(), t, node, type);
}

int try3conn(const char* name) {
    int empty = 0;
    std::string asked = name ? name : "";
    for (;;) {
        int r = connservice(asked.c_str(), 1);
        if (r > 0) return 0;
        if (r < 0) {
            empty = 0;
        } else if (++empty >= 3) {
            return -1;
        }
        asked.clear();
    }
}

int chkconnect() {
    if (xflag || connected) return 0;
    if (portlist.empty()) return aberr("No connection specified\r\n");
    return connservice(portlist.c_str(), 0) < 1 ? 1 : 0;
}

void servicereset() {
    curnodename.clear();
}
