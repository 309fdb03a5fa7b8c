// Dialing, answering, hanging up, and the dialog language for login and logout.
#include "ports/modem.h"

#include "core/escape.h"
#include "core/fmt.h"
#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/serial.h"
#include "ports/service.h"
#include "ports/settings.h"
#include "script/cmd.h"
#include "script/var.h"

#include <cctype>
#include <chrono>
#include <cstring>
#include <strings.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Lets comwait see the abort key for the length of a wait.
class AbortGuard {
  public:
    AbortGuard() : prev_(canabort) { canabort = 1; }
    AbortGuard(const AbortGuard&) = delete;
    AbortGuard& operator=(const AbortGuard&) = delete;
    ~AbortGuard() { canabort = prev_; }

  private:
    int prev_;
};

// The received text a wait matches against.
class Matcher {
  public:
    explicit Matcher(const std::vector<std::string>& alts) : alts_(alts) {
        for (const std::string& a : alts_)
            longest_ = std::max(longest_, a.size());
    }
    // Index of an awaited string that now ends the text, or -1.
    int add(int c) {
        if (buf_.size() >= MATCHSIZE) {
            // Keep only what a match still in progress can need.
            size_t keep = longest_ > 0 ? std::min(longest_ - 1, buf_.size()) : 0;
            buf_.erase(0, buf_.size() - keep);
        }
        buf_ += static_cast<char>(c & 0x7f);
        for (size_t i = 0; i < alts_.size(); i++) {
            const std::string& a = alts_[i];
            if (a.size() <= buf_.size() &&
                std::memcmp(buf_.data() + buf_.size() - a.size(), a.data(), a.size()) == 0)
                return static_cast<int>(i);
        }
        return -1;
    }
    // An empty awaited string is there at once.
    int empty() const {
        for (size_t i = 0; i < alts_.size(); i++)
            if (alts_[i].empty()) return static_cast<int>(i);
        return -1;
    }

  private:
    const std::vector<std::string>& alts_;
    size_t longest_ = 0;
    std::string buf_;
};

void show(int c) {
    if (viewflag) zzprintf("%kc", c & 0xff);
}

// Strings for the modem go one by one with the character delay.
void msend(const std::string& s) {
    for (char c : s) {
        show(c);
        dcomout(static_cast<unsigned char>(c));
    }
}

// A dialog's collected output. What answers a password prompt is shown as stars.
void sendbuf(std::string& out, bool secret = false) {
    if (out.empty()) return;
    if (viewflag && secret) {
        for (size_t k = 0; k < out.size(); k++)
            zzprintf("*");
        qcomout(reinterpret_cast<const uint8_t*>(out.data()), static_cast<int>(out.size()), 0);
        out.clear();
        return;
    }
    const bool net = (COM->flags & COMF_CONNECTION) != 0;
    if (!net && (viewflag || cdelay || ldelay || tdelay)) {
        for (char c : out) {
            show(c);
            tcomout(static_cast<unsigned char>(c));
        }
    } else {
        qcomout(reinterpret_cast<const uint8_t*>(out.data()), static_cast<int>(out.size()),
                viewflag);
    }
    out.clear();
}

// True when the abort key was typed (it is taken).
bool abortwaiting() {
    keysahead();
    return qtake(iqueue, abochar);
}

// Two decimal digits after a control character, at most; the position moves past them.
int digits(const std::string& s, size_t& i, int most) {
    int v = 0;
    for (int n = 0; n < most && i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); n++)
        v = v * 10 + (s[i++] - '0');
    return v;
}

// A wait string runs to the next ^S; ^K in it takes the next character literally.
std::string waitstring(const std::string& s, size_t& i) {
    std::string w;
    while (i < s.size() && s[i] != '\x13') {
        if (s[i] == '\x0b' && i + 1 < s.size()) i++;
        w += s[i++];
    }
    if (i < s.size()) i++; // the closing ^S
    return w;
}

int runmodemfile(const std::string& cmd) {
    return dofile(cmd.c_str(), 0);
}

const char* const ansnames[] = {"wait", "auto", "now", "off"};

} // namespace

void mpause(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (linepending() > 0) waitread(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int mwait(const std::vector<std::string>& alts, int ticks, int* which) {
    Matcher m(alts);
    if (int e = m.empty(); e >= 0) return *which = e, MW_MATCH;
    AbortGuard ag;
    auto tick = Clock::now();
    while (ticks > 0) {
        int c = comwait(1);
        if (c >= 0) {
            show(c);
            if (int k = m.add(c); k >= 0) return *which = k, MW_MATCH;
        } else if (c == -1) {
            if (ticks < 2 || ticks > 4) return MW_ABORT;
            ticks--;
            tick = Clock::now();
            continue;
        }
        // A tick is a second of the clock, whether or not the modem talked in it.
        if (c == -2 || since(tick) >= 1) {
            ticks--;
            tick = Clock::now();
        }
    }
    return MW_TIMEOUT;
}

int okwait(const char* text, int ticks) {
    int which = 0;
    return mwait({text ? text : ""}, ticks, &which);
}

int waitany(const std::vector<std::string>& alts, int seconds, int* which) {
    Matcher m(alts);
    if (int e = m.empty(); e >= 0) return *which = e, MW_MATCH;
    AbortGuard ag;
    const auto start = Clock::now();
    for (;;) {
        const double left = seconds - since(start);
        if (left <= 0) return MW_TIMEOUT;
        int c = comwait(std::max(1, static_cast<int>(left)));
        if (c == -1) return MW_ABORT;
        if (c < 0) continue;
        show(c);
        if (int k = m.add(c); k >= 0) return *which = k, MW_MATCH;
    }
}

int mabort(const char* what) {
    return aberr("Modem not responding, %s aborted\r\n", what);
}

int hangerr(const char* message) {
    zzprintf("%s", message);
    msend("\r");
    mpause(2);
    comflush();
    return 1;
}

int dialog(const char* text) {
    gtimeout = 0;
    gretval = 0;
    const std::string s = text ? text : "";
    int tmo = 30;
    size_t looppt = std::string::npos;
    int loops = 0;
    bool noalt = false;
    bool secret = false; // the last wait matched a password prompt
    std::string out;
    const auto start = Clock::now();
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i++]);
        switch (c) {
        case 19: { // ^S: wait
            sendbuf(out, secret);
            secret = false;
            if (viewflag) zzprintf("^S");
            std::vector<std::string> alts{waitstring(s, i)};
            std::vector<size_t> acts{i};
            if (!noalt) {
                for (size_t j = i; j < s.size();) {
                    if (s[j] == '\x0b') {
                        j += 2;
                        continue;
                    }
                    if (s[j] != '|') {
                        j++;
                        continue;
                    }
                    if (j + 1 >= s.size() || s[j + 1] != '\x13')
                        return aberr("Bad multiple case\r\n");
                    if (alts.size() >= MAXCASES) return aberr("Too many cases\r\n");
                    j += 2;
                    alts.push_back(waitstring(s, j));
                    acts.push_back(j);
                }
            }
            int which = 0;
            const int r = waitany(alts, tmo, &which);
            if (r == MW_ABORT) return r;
            if (r == MW_TIMEOUT) {
                if (looppt == std::string::npos || --loops < 1) {
                    gtimeout = 1;
                    return 0;
                }
                gtimeout = 0;
                i = looppt;
            } else {
                gretval = which;
                i = acts[static_cast<size_t>(which)];
                secret = alts[static_cast<size_t>(which)].find("assword") != std::string::npos;
            }
            if (since(start) >= 60) {
                gtimeout = 1;
                return 0;
            }
            break;
        }
        case 20: // ^T: time-out of the following waits
            tmo = digits(s, i, 2);
            if (tmo == 0) tmo = 30;
            if (viewflag) zzprintf("^T%d", tmo);
            break;
        case 12: // ^L: loop point and count
            loops = digits(s, i, 2);
            looppt = i;
            if (viewflag) zzprintf("^L%d", loops);
            break;
        case 23: // ^W
            sendbuf(out, secret);
            show(c);
            mpause(1);
            break;
        case 6: // ^F
            sendbuf(out, secret);
            show(c);
            comflush();
            break;
        case 2: // ^B
            sendbuf(out, secret);
            show(c);
            COM->brk();
            break;
        case 26: // ^Z
            out += '\0';
            break;
        case 11: // ^K
            if (i < s.size()) out += s[i++];
            break;
        case 14: // ^N
            noalt = true;
            break;
        case 18: { // ^R: end with a result
            sendbuf(out, secret);
            size_t from = i;
            int v = digits(s, i, 1);
            if (i > from) gretval = v;
            from = i;
            int res = digits(s, i, 1);
            if (i == from) res = 1;
            if (viewflag) zzprintf("^R%d%d", static_cast<int>(gretval), res);
            return res;
        }
        case '|':
            sendbuf(out, secret);
            return 0;
        default:
            out += static_cast<char>(c);
        }
    }
    sendbuf(out, secret);
    return 0;
}

int dologin() {
    const int r = dialog(getstr(loginstr));
    if (gtimeout) return aberr("Login timeout\r\n");
    return r;
}

int dologout() {
    const int r = dialog(getstr(logoutstr));
    if (gtimeout) {
        zzprintf("Logout timeout\r\n");
        return 1;
    }
    return r;
}

int chklogin() {
    if (loginstr.empty()) return 0;
    zzprintf("Logging In...\r\n");
    if (!hardwired) mpause(3);
    int r = dialog(loginstr.c_str());
    if (gtimeout) {
        zzprintf("Login timeout\r\n");
        r = 1;
    } else if (r == 0) {
        zzprintf("Login complete\r\n");
    }
    if (r != 0 && !hardwired) hangup(0);
    return r;
}

int dostserver(int start) {
    zzprintf("%s server...\r\n", start ? "Starting" : "Stopping");
    int r = dialog((start ? startstr : stopstr).c_str());
    if (gtimeout && start) {
        zzprintf("Startserver timeout\r\n");
        r = 1;
    }
    return r;
}

bool isnumber(const char* text) {
    if (!text) return false;
    while (*text == ' ' || *text == '\t')
        text++;
    if (!*text || std::strchr(text, ':')) return false;
    return std::strchr("0123456789,#*+", *text) != nullptr;
}

int reopenline() {
    if (COM == &nulfunc || (COM->flags & COMF_CONNECTION)) return 0;
    const std::string name = comline;
    COM->exit();
    if (cominit(name.c_str()) < 0 || COM->vt("") < 0) return 1;
    return 0;
}

int call2(const char* number) {
    cnumber = number ? number : "";
    if (hardwired) return 0;
    if (!modemfile.empty())
        return runmodemfile(
            sfmt("%s@call %s %d %d", modemfile.c_str(), cnumber.c_str(), dredial, dtimout));
    zzprintf("Calling %s\r\n", cnumber.c_str());
    if (!istr.empty()) {
        msend(istr);
        if (!okstr.empty()) {
            const int r = okwait(okstr.c_str(), 3);
            if (r == MW_TIMEOUT) {
                zzprintf("Modem not responding\r\n");
                return 1;
            }
            if (r == MW_ABORT) return hangerr("Call aborted, hanging up\r\n"), 2;
        }
        mpause(1);
    }
    msend(dprefix);
    msend(cnumber);
    msend(dsuffix);
    mpause(5);
    if (dconnect.empty()) {
        zzprintf("Call connected\r\n");
        return 0;
    }
    // A modem that reports a failed call ends the wait at once instead of after `dtimout`.
    int which = 0;
    int r = mwait({dconnect, "BUSY", "NO CARRIER", "NO DIALTONE", "NO ANSWER"}, dtimout, &which);
    if (r == MW_MATCH && which > 0) r = MW_TIMEOUT;
    if (r == MW_MATCH) {
        zzprintf("Call connected\r\n");
        return 0;
    }
    if (r == MW_ABORT) return hangerr("Call aborted, hanging up\r\n"), 2;
    return hangerr("No carrier, hanging up\r\n");
}

int docall(const char* text, int) {
    std::string t = text ? text : "";
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t'))
        t.erase(0, 1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
        t.pop_back();
    if (t.empty()) return 0;
    if (strcasecmp(t.c_str(), "none") == 0) {
        hardwired = 1;
        cnumber.clear();
        return chklogin();
    }
    if (!isnumber(t.c_str())) {
        hardwired = 0;
        if (connservice(t.c_str(), 1) != 1) return 1;
        return chklogin();
    }
    hardwired = 0;
    // Dialing needs a modem line; the null line would only wait for replies that never come.
    if (chkconnect()) return 1;
    if (COM == &nulfunc) return aberr("No connection specified\r\n");
    // Numbers lose their blanks, so one number stays one argument for a modem file.
    std::vector<std::string> numbers;
    size_t pos = 0;
    while (pos <= t.size()) {
        size_t end = t.find(';', pos);
        if (end == std::string::npos) end = t.size();
        std::string n;
        for (size_t k = pos; k < end; k++)
            if (t[k] != ' ' && t[k] != '\t') n += t[k];
        if (!n.empty()) numbers.push_back(n);
        pos = end + 1;
    }
    if (numbers.empty()) return 0;
    for (int count = std::max(dredial, 0);; count--) {
        for (const std::string& n : numbers) {
            if (abortwaiting()) return 2;
            if (!preoflag && reopenline()) return 1;
            const int r = call2(n.c_str());
            if (r == 2) return 2;
            if (r == 0) {
                const int l = chklogin();
                if (l != 1) return l;
                break;
            }
        }
        if (count < 1) return aberr("Too many redials, call aborted\r\n");
        zzprintf("Redialing... ");
        hangup(2);
    }
}

int answer(int mode) {
    if (mode < ANS_WAIT || mode > ANS_OFF) return 1;
    if (!modemfile.empty()) {
        const int r = runmodemfile(sfmt("%s@answer %s", modemfile.c_str(), ansnames[mode]));
        return r ? r : 0;
    }
    if (!istr.empty()) msend(istr);
    if (!okstr.empty()) {
        if (okwait(okstr.c_str(), 3) != MW_MATCH) return mabort("answer");
    } else {
        mpause(1);
    }
    mpause(1);
    if (mode == ANS_AUTO || mode == ANS_OFF) {
        msend(mode == ANS_AUTO ? autoans : ansoff);
        if (!okstr.empty() && okwait(okstr.c_str(), 3) != MW_MATCH) return mabort("answer");
        return 0;
    }
    if (mode == ANS_WAIT) {
        zzprintf("Waiting for ring, %kc to abort\r\n", abochar);
        if (!ringstr.empty()) {
            for (;;) {
                const int r = okwait(ringstr.c_str(), 32767);
                if (r == MW_MATCH) break;
                if (r == MW_ABORT) return aberr("Answer aborted\r\n");
            }
        }
    }
    zzprintf("Answering phone\r\n");
    msend(offhook);
    return 0;
}

int hangup(int mode) {
    int result = 0;
    if (mode == 1 && !logoutstr.empty()) {
        zzprintf("Logging Out...\r\n");
        result = dialog(logoutstr.c_str());
        if (gtimeout) {
            zzprintf("Logout timeout\r\n");
            result = 1;
        }
        // The logout dialog belongs to the session it ended.
        if (result == 0) logoutstr.clear();
        if (!hardwired) mpause(2);
    }
    if (COM->flags & COMF_CONNECTION) {
        comexit();
        zzprintf("[Disconnected]\r\n");
        return result;
    }
    // A hard-wired line, or no line at all, has no modem to hang up.
    if (hardwired || COM == &nulfunc) return result;
    if (!modemfile.empty()) {
        const int r = runmodemfile(sfmt("%s@hangup %d", modemfile.c_str(), ddtr));
        return r ? r : result;
    }
    zzprintf("Hanging up phone\r\n");
    const int saveddtr = dtr;
    if (ddtr) {
        dtr = 0;
        COM->baud(0);
        mpause(1);
        setstat();
        setbaud(baud);
    }
    // The escape needs a second of silence before it.
    mpause(1);
    msend(estr);
    if (!okstr.empty() && okwait(okstr.c_str(), 3) == MW_ABORT) {
        mpause(1);
        msend(estr);
        mpause(1);
    }
    msend(hstr);
    if (!okstr.empty() && okwait(okstr.c_str(), 3) == MW_ABORT) {
        msend(hstr);
        okwait(okstr.c_str(), 3);
    }
    if (ddtr) {
        dtr = saveddtr;
        setbaud(baud);
        setstat();
    }
    if (!preoflag && reopenline()) return 1;
    return result;
}

int hangcmd() {
    zzprintf(" (y/n):");
    const int k = getch();
    zzprintf("\r\n");
    if (k == 'y' || k == 'Y') return hangup(1);
    return 0;
}

void modemreset() {
    loginstr.clear();
    logoutstr.clear();
    startstr.clear();
    stopstr.clear();
    modemfile.clear();
    dredial = 2;
    dtimout = 60;
    ddtr = 1;
    hardwired = 0;
    cnumber.clear();
}
