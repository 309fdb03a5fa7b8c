#pragma once
// Naming and writing received files, shared by every receiving engine.
//
// Principles of operation. The peer chooses the name of every received file, so nothing it
// sends may reach outside the destination or destroy a file when the transfer fails:
//   - rcvname() turns the peer's name field into a path inside the destination: the field is
//     cut at its first NUL, only the text after the last "/", "\" or "X:" drive prefix is kept,
//     and an empty result, "." and "..", a name holding a byte below 0x20 or 0x7F, a name
//     longer than NAME_MAX or a path longer than PATH_MAX are refused (the engine then sends
//     its protocol's refusal). A destination that names a file takes the one file as it is.
//   - PartFile receives into ".<name>.vorn-part" beside the target (created exclusively, never
//     through a symbolic link, mode 0600) and renames it over the target only when the engine
//     says the file is complete; a failed transfer deletes it, unless the engine keeps it for a
//     later resume, and the old target is untouched either way. A target that exists and is not
//     a regular file (device, FIFO, directory, symbolic link) is refused, and so is an existing
//     dot-file (nobody overwrites a ".profile" from across the line).
//   - A resume continues an existing part file only when it is a regular file no longer than
//     the announced size, rolled back to a 1 KiB boundary so a torn last block comes again.
//   - Modes from the peer are masked to 0777 and the umask, and applied only to a new file; an
//     existing target keeps its own mode.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <unistd.h>

struct RcvName {
    bool ok = false;
    std::string name; // the name kept (for messages)
    std::string path; // where the file goes
    std::string why;  // refusal text when !ok
};

// `field`/`len`: the peer's name field as received. `dest`: the destination ("" means ".");
// `destisfile`: the destination names the file itself.
RcvName rcvname(const char* field, size_t len, const std::string& dest, bool destisfile);

// The temporary name used for `target`: ".<base>.vorn-part" in the same directory.
std::string partname(const std::string& target);

class PartFile {
  public:
    PartFile() = default;
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Opens the part file for `target`. With `resume` an existing part file is continued (see
    // above; `announced` < 0 means the size is unknown, which forbids resuming). Returns 0, or
    // -1 with a message in `err`. `resumeat` receives the offset the data continues from.
    int open(const std::string& target, bool resume, long announced, long& resumeat,
             std::string& err);
    bool isopen() const { return fd_ >= 0; }
    // Takes all bytes; false on any error (disk full, file size limit). Bytes are gathered
    // into large writes, so an error may show only at the next flush, sync or commit.
    bool write(const uint8_t* p, size_t n);
    long size() const { return size_; }
    // Writes what is gathered; false on error.
    bool flush();
    // Pushes what was written so far to the disk.
    void sync() {
        if (flush()) fdatasync(fd_);
    }
    // Makes the file the target: flush to disk when `sync`, mode applied (peer's `mode` & 0777
    // and ~umask for a new file; 0 = default), rename. False (file removed) on any error.
    bool commit(int mode, bool sync);
    // Gives up: the part file is deleted, or kept for a later resume.
    void abandon(bool keep);
    const std::string& target() const { return target_; }

  private:
    int fd_ = -1;
    long size_ = 0;
    bool failed_ = false;      // a write failed: every later flush fails too
    std::vector<uint8_t> buf_; // gathered bytes not yet written
    bool existed_ = false;     // the target existed when the receive began
    int oldmode_ = 0;
    std::string target_, part_;
};
