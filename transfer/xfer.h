#pragma once
// The file transfer framework: entry points, settings, the file-list walker and the engines.
//
// Principles of operation. Every transfer starts in snd() (send a file list) or rcv() (receive
// into a destination). They put the line into transfer settings for the length of the transfer
// (restored on every way out by a guard), optionally ask the peer to start its side (an in-band
// request, native VornCRC only), and run the engine the protocol selector `errprot` names from
// the table `engines`. An engine ends a transfer through done(), which closes the current file
// (a received file is deleted or kept for a resume, never left half-written under its name),
// reports, and leaves the engine by throwing XferDone, caught only by snd()/rcv(). The
// result is 0 success, 1 failure, 2 aborted by the abort key, 3 aborted by a script event; 0
// means every file is byte for byte what the sender had (after any conversion asked for).
//
// Names given to snd() may carry per-name options in a trailing "(...)" or "[...]" group of
// option letters (exlist/nxtlist); received names go through rcvname() (transfer/rcvname.h),
// received data through RcvFile below, statistics through transfer/xferstats.h.
//
// Engines plug in as a row of `engines` (one per protocol number); a row without functions
// gives the "... not built yet" message.
#include "transfer/lzw.h"
#include "transfer/rcvname.h"
// gtimeout (the last failure was a handshake time-out), rcvsync (flush received data every that
// many bytes) and xfername (_filename) are system variables owned by the script variables.
#include "script/var.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// ---- per-name options (`flags`) ------------------------------------------------------------
enum : long {
    OPT_S = 0x0001,    // stay ready for further batches / show received characters
    OPT_Q = 0x0002,    // ask before sending each file
    OPT_X = 0x0004,    // expand as a pattern (receiving list) / take the non-matching names
    OPT_WILD = 0x0008, // the name holds a wildcard (set from the name)
    OPT_T = 0x0010,    // text conversion
    OPT_A = 0x0020,    // stored only
    OPT_C = 0x0040,    // line ends between machine types
    OPT_M = 0x0080,    // write line ends as CR LF
    OPT_U = 0x0100,    // write line ends as LF
    OPT_O = 0x0200,    // single-file native transfer in the oldest variant
    OPT_F = 0x0400,    // the name is a file list file
    OPT_Z = 0x0800,    // no compression
    OPT_B = 0x1000,    // unformatted send: buffered
    OPT_I = 0x2000,    // unformatted send: ignore a line-wait time-out
    OPT_R = 0x4000,    // restart an interrupted transfer
    OPT_CONV = OPT_T | OPT_C | OPT_M | OPT_U,
};

// The option word of the name being handled.
inline long flags = 0;
// The options given on the receiving destination (kept while `flags` serves each name).
inline long dflags = 0;

// ---- settings (defaults in brackets) -------------------------------------------------------
inline int retries = 10;  // retransmissions before "Maximum retries exceeded"
inline int rtime = 8;     // seconds a receiver waits for a byte
inline int stim = 20;     // seconds a sender waits for an answer (x5 at 300 baud or less)
inline int htime = 11;    // seconds of handshake
inline int compon = 1;    // compression allowed
inline int statflag = 1;  // full-screen statistics and verbose messages
inline int mymachine = 1; // this machine's type (1 = UNIX)
inline int addeof = 1;    // ^Z after a received file written with M
inline int fillchar = 0;  // pad byte of short native blocks
inline int upflag = 0;    // upper-case file names
inline int restart = 0;   // automatic re-transfers allowed for XFER and GET
inline int isxferget = 0; // the running request is XFER or GET

// ---- per-transfer state --------------------------------------------------------------------
inline int fcnt = 0;          // files done
inline int fpakcnt = 0;       // packets
inline int fretcnt = 0;       // errors and retries
inline long fbytcnt = 0;      // file bytes (decoded bytes under compression)
inline long ffilsiz = 0;      // announced or local size (0 = unknown)
inline long resfilsiz = 0;    // restart offset
inline int rexfer = 0;        // automatic re-transfers so far
inline int hismachine = 999;  // the peer's machine type
inline std::string gfilename; // current file name
inline std::string dir;       // destination directory or file
inline int mult = 0;          // the destination is a directory
inline int renflag = 0;       // the one received file is stored under the destination name
inline int xretval = 0;       // result of the last transfer
inline bool sending = false;  // the running transfer sends
inline std::vector<std::string> batchnames; // names received in this batch
// How the current line was reached, so that a re-transfer after a cut can reach it again: the
// text given to connect (a service or a configuration) or to a dial, empty when the line
// was opened some other way.
inline std::string connname;
inline bool conndialled = false; // connname is a dialled text (docall), not a connect name
// A dial (docall) that records what it dialled for re-transfers.
int dialrec(const char* text, int mode);

// Leaves an engine for snd()/rcv() with the result.
struct XferDone {
    int code;
};

// The single exit of an engine: closes the current file, reports, and throws XferDone.
[[noreturn]] void done(int code);

int snd(const char* filelist, const char* remote);
int rcv(const char* remote, const char* dest);
// kind: 0 XFER, 1 SEND, 2 GET, 3 RCV.
int parsexfer(int kind, const char* line);
int doxferfile(const char* files, const char* dest, int kind);
// The in-band request to the peer: ACK, letter, text, CR.
void remote(int letter, const char* text);
int timefile(const char* filelist);
int ulsend(const char* name, int linemode);
int rcvzmodem();

// ---- names and options ---------------------------------------------------------------------
// Cuts a trailing option group off `word` and returns the option bits (OPT_WILD from the
// name). A group counts only when it ends the word, closes with ")" or "]" and holds only
// option letters; "[" opens one only outside ZMODEM.
long setflags(std::string& word);
// "(r)", "(rc)", "(c)" or "" for the R and C bits of `f`.
const char* optstring(long f);

struct ListName {
    std::string path;
    long flags;
};
// Walks a blank-separated list: mode 2 expands every name against the file system (and drops
// missing ones with a message), mode 1 passes names without wildcard as they are.
void exlist(const char* list, int mode);
// The next name (its options in `flags`); false at the end.
bool nxtlist(std::string& name);
// How many names the current list gave (after expansion).
size_t listcount();

// ---- local files ---------------------------------------------------------------------------
// A file being sent: raw bytes, text conversion (T) and the LZW coder.
class SendFile {
  public:
    // Opens `path` for reading; false when it cannot.
    bool open(const std::string& path, long opts);
    void close();
    // Positions at `off` (a restart); false on error or with conversion on.
    bool seek(long off);
    // Fills `buf` with up to `len` bytes (the LZW packet of that length when compressing);
    // returns the count of real bytes, 0 at the end. Short blocks are padded with `fillchar`.
    int rdfile(uint8_t* buf, int len);
    // ZMODEM packet of compressed data: every code emitted so far, ending on a group boundary,
    // at least `paksiz` bytes (at most paksiz + 23) unless the stream ends (`last`). The
    // coder's pos() then counts exactly the bytes the packet brings the receiver to.
    int rdzpacket(uint8_t* buf, int paksiz, bool& last);
    void compress(bool on);
    bool compressing() const { return coder_ != nullptr; }
    const LzwCoder* coder() const { return coder_.get(); }
    long size() const { return size_; }

  private:
    int rdraw(uint8_t* buf, int len); // after conversion, no padding
    bool fill();                      // refills `in_` from the file; false at the end
    int fd_ = -1;
    std::vector<uint8_t> in_; // read ahead in large pieces, handed out by block
    size_t inpos_ = 0;
    long opts_ = 0, size_ = 0;
    int pending_ = -1; // the LF held back by CR/LF expansion
    std::unique_ptr<LzwCoder> coder_;
    std::vector<uint8_t> zin_; // converted bytes not yet coded (rdzpacket)
    size_t zinpos_ = 0;
};

// A file being received: conversion, the LZW decoder and the part file.
class RcvFile {
  public:
    PartFile part;
    // Starts the data of a file opened in `part`: `opts` the options, `docomp` decompress,
    // `limit` the largest decoded size allowed (-1 none).
    void begin(long opts, bool docomp, long limit);
    // One received block; false after a write or decompression error (`err` says which).
    bool wrfile(const uint8_t* p, int n);
    // Ends the data: decompression flushed, ^Z added with M and `addeof`. False on error.
    bool finish();
    bool docomp() const { return docomp_; }
    // The sender restarted its coder here: a fresh stream follows, at most `limit` bytes.
    void restart(long limit);
    // Decodes what the decoder holds back for a last short group, once the stream is known
    // complete (a short group only ever ends a stream). False on a decompression error.
    bool drain();
    std::string err;

  private:
    bool wrconv(const uint8_t* p, size_t n);
    long opts_ = 0;
    bool docomp_ = false, conv_ = false;
    long synccount_ = 0;
    LzwDecoder dec_;
    std::vector<uint8_t> cbuf_;
};

// Set while a command from the peer runs: the names of a file list must stay inside the
// current directory (the server's), and only regular files are taken.
inline bool peerlist = false;

// The file currently open by the engine, closed by done().
inline SendFile* cursend = nullptr;
inline RcvFile* currcv = nullptr;
inline bool keeppart = false; // done() keeps the part file of `currcv` for a resume

// ---- engines -------------------------------------------------------------------------------
struct Engine {
    const char* name;
    void (*send)(); // ends through done()
    void (*recv)();
};
// The engine of a protocol number; a stand-in row for protocols not built yet.
const Engine& engine(int prot);
// The native engine (transfer/vorn.h).
void sndvorn();
void rcvvorn();
// The XMODEM family (transfer/xmodem.cpp) and Kermit (transfer/kermit.cpp).
void sndmdm7();
void rcvmdm7();
void sndkermit();
void rcvkermit();

// Power-on state of the framework (settings and counters), for tests.
void xferreset();
