#pragma once
// Transfer statistics: the full-screen display, the messages and the log lines.
//
// Every engine reports each event through xferstats(code, text); this module draws the
// display (labels once, then only the values that changed, at most a few times a second),
// prints messages when the display is off, and writes the log lines while a log file is open.
// Text that came from the peer (file names, its messages) must go through peertext() first:
// control bytes and bytes above 0x7E are shown in readable notation and the text is cut, so a
// peer can neither drive the user's terminal nor forge log lines. Messages are plain text here,
// never a format.
//
// Display (labels end in column 19, values from column 21):
//   row 3 Protocol, 4 File name, 5 Bytes transferred, 6 Percent transferred, 7 Transfer time,
//   8 Effective baud rate, 9 Number of packets, 10 Restarts/retries, 11 Last error,
//   12 Last message; row 14 the summary of the last file; the cursor parks on row 18.
#include <cstdio>
#include <string>

enum : int {
    XS_TICK = 0,     // progress
    XS_SENDFILE = 1, // sending a file begins (size from the local file)
    XS_RCVFILE = 2,  // receiving a file begins
    XS_FILEEND = 4,  // text "Success" or "FAIL": log line and summary
    XS_END = 8,      // transfer ends
    XS_MSG = 16,     // message
    XS_RETRY = 20,   // retry-class error
    XS_FATAL = 32,   // fatal error
    XS_BEGIN = 64,   // transfer begins
};

// The fixed messages.
inline constexpr const char* slinmsg = "Sync Error";
inline constexpr const char* llinmsg = "Line Noise";
inline constexpr const char* blinmsg = "Crc Error";
inline constexpr const char* tlinmsg = "Line Timeout";
inline constexpr const char* cxabmsg = "Aborted by ^X";
inline constexpr const char* rcabmsg = "Abort by remote console";
inline constexpr const char* ceabmsg = "File close error";
inline constexpr const char* weabmsg = "File write error";
inline constexpr const char* tmabmsg = "Maximum retries exceeded";
inline constexpr const char* htabmsg = "Handshake timeout";
inline constexpr const char* ccabmsg = "Transfer aborted by ^C";
inline constexpr const char* exabmsg = "Abort by excessive line noise";
inline constexpr const char* mfabmsg = "Multiple files transferred to non-directory";
inline constexpr const char* seabmsg = "Seek error in restart";
inline constexpr const char* dlabmsg = "Decompression length error";
inline constexpr const char* deabmsg = "Decompression error";
inline constexpr const char* nmabmsg = "No memory for compression tables";
inline constexpr const char* bmabmsg = "Bad magic number, not decompressing";
inline constexpr const char* szabmsg = "File size mismatch";
inline constexpr const char* roabmsg = "Restart offset beyond end of file";

void xferstats(int code, const std::string& text = "");
// The protocol name shown on the display (set by snd/rcv).
inline std::string xprotname;
// Peer text made safe to show and log, cut to `max` characters.
std::string peertext(const std::string& text, size_t max = 60);
// The log file while logging is on (owned by the logging commands), nullptr otherwise.
inline FILE* xlogfp = nullptr;
// "%.5s %s %s%s": date, time, prefix, text.
void dolog(const char* prefix, const std::string& text);
// The last summary line (for tests and the final report).
inline std::string lastsummary;
// Effective rate of the current file in bits per second.
long xferrate();
