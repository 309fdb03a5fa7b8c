#include "ports/service.h"

#include "core/escape.h"
#include "core/fmt.h"
#include "core/start.h"
#include "ports/com.h"

#include <cstring>

namespace {
const char* const DEFAULT_TRANSPORT = "default";
const char* const SERVICE_FILE = "service.sys";

bool isblank(char c) {
    return c == ' ' || c == '\t';
}

// Reads a line at a prompt with echo; ^D on an empty line ends the program.
std::string askline(const char* prompt) {
    char buf[NGETS_MAX + 1] = {};
    zzprintf("%s", prompt);
    if (ngets(buf, NG_ECHO | NG_EOF)) doneterm(0);
    return buf;
}
} // namespace

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

// stand-in until the service directory exists: no name is found in it.
int chkservice(const char*, const char*, std::string&, std::string&, int&) {
    zzprintf("Service directory is not built yet\r\n");
    return 0;
}

int getservice(const char* name, std::string& transport, std::string& node, int interactive) {
    char path[PATHMAX + 1] = {};
    const bool havefile = getpath(path, SERVICE_FILE) != 0;
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
        node = askline("Connect to Nodename:");
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

int connservice(const char* name, int interactive) {
    std::string asked = name ? name : "";
    if (asked.empty()) {
        if (!interactive) return -1;
        asked = askline("Connect to: ");
        if (asked.empty()) return 0;
    }
    std::string transport, node;
    int r = getservice(asked.c_str(), transport, node, interactive);
    if (r < 1) return r;
    connmsg(1, asked.c_str(), transport.c_str(), node.c_str());
    comexit();
    bool opened = cominit(transport.c_str()) >= 0;
    if (opened && COM->vt(node.c_str()) >= 0) {
        curnodename = node;
        return 1;
    }
    if (opened) comexit();
    connmsg(0, asked.c_str(), transport.c_str(), node.c_str());
    cominit(nullptr);
    return -1;
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
