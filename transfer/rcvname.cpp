#include "transfer/rcvname.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

RcvName rcvname(const char* field, size_t len, const std::string& dest, bool destisfile) {
    RcvName r;
    std::string raw(field ? field : "", field ? strnlen(field, len) : 0);
    r.name = raw;
    if (destisfile) {
        if (dest.size() >= PATH_MAX) {
            r.why = "Path too long";
            return r;
        }
        r.path = dest;
        r.ok = true;
        return r;
    }
    size_t cut = raw.find_last_of("/\\");
    std::string name = cut == std::string::npos ? raw : raw.substr(cut + 1);
    if (name.size() >= 2 && name[1] == ':' && isalpha(static_cast<unsigned char>(name[0])))
        name.erase(0, 2);
    r.name = name;
    if (name.empty() || name == "." || name == "..") {
        r.why = "Bad file name";
        return r;
    }
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f) {
            r.why = "Bad file name";
            return r;
        }
    if (name.size() > NAME_MAX || name.size() + 12 > NAME_MAX) { // room for the part name
        r.why = "File name too long";
        return r;
    }
    std::string dir = dest.empty() ? "." : dest;
    std::string path = dir;
    if (path.back() != '/') path += '/';
    path += name;
    if (path.size() >= PATH_MAX) {
        r.why = "Path too long";
        return r;
    }
    r.path = path;
    r.ok = true;
    return r;
}

std::string partname(const std::string& target) {
    size_t cut = target.rfind('/');
    std::string dir = cut == std::string::npos ? "" : target.substr(0, cut + 1);
    std::string base = cut == std::string::npos ? target : target.substr(cut + 1);
    return dir + "." + base + ".vorn-part";
}

namespace {
constexpr size_t GATHER = 32768; // one write per this many bytes, not one per block

bool writeall(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t k = ::write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k, n -= static_cast<size_t>(k);
    }
    return true;
}
} // namespace

PartFile::~PartFile() {
    if (fd_ >= 0) abandon(false);
}

int PartFile::open(const std::string& target, bool resume, long announced, long& resumeat,
                   std::string& err) {
    resumeat = 0;
    failed_ = false;
    buf_.clear();
    buf_.reserve(GATHER);
    target_ = target;
    part_ = partname(target);
    struct stat st {};
    existed_ = lstat(target.c_str(), &st) == 0;
    if (existed_) {
        if (!S_ISREG(st.st_mode)) {
            err = "Not a regular file: " + target;
            return -1;
        }
        size_t cut = target.rfind('/');
        const char* base = target.c_str() + (cut == std::string::npos ? 0 : cut + 1);
        if (base[0] == '.') {
            err = "Will not overwrite " + target;
            return -1;
        }
        oldmode_ = static_cast<int>(st.st_mode & 0777);
    }
    if (part_.size() >= PATH_MAX) {
        err = "Path too long";
        return -1;
    }
    if (resume && announced >= 0) {
        int fd = ::open(part_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat ps {};
        if (fd >= 0 && fstat(fd, &ps) == 0 && S_ISREG(ps.st_mode) && ps.st_nlink == 1 &&
            ps.st_size <= announced) {
            long at = static_cast<long>(ps.st_size) & ~1023L;
            if (ftruncate(fd, at) == 0 && lseek(fd, at, SEEK_SET) == at) {
                fd_ = fd, size_ = at, resumeat = at;
                return 0;
            }
        }
        if (fd >= 0) close(fd);
    }
    unlink(part_.c_str()); // a stale part file (or anything planted there) goes
    fd_ = ::open(part_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        err = "Can't create " + target;
        return -1;
    }
    size_ = 0;
    return 0;
}

bool PartFile::write(const uint8_t* p, size_t n) {
    if (fd_ < 0 || failed_) return false;
    size_ += static_cast<long>(n);
    if (buf_.size() + n < GATHER) {
        buf_.insert(buf_.end(), p, p + n);
        return true;
    }
    if (!flush()) return false;
    if (n >= GATHER) {
        failed_ = !writeall(fd_, p, n);
        return !failed_;
    }
    buf_.assign(p, p + n);
    return true;
}

bool PartFile::flush() {
    if (fd_ < 0 || failed_) return false;
    if (!buf_.empty() && !writeall(fd_, buf_.data(), buf_.size())) failed_ = true;
    buf_.clear();
    return !failed_;
}

bool PartFile::commit(int mode, bool sync) {
    if (fd_ < 0) return false;
    bool ok = flush();
    if (ok && sync && fsync(fd_) != 0) ok = false;
    mode_t mask = umask(0);
    umask(mask);
    int m = existed_ ? oldmode_ : ((mode & 0777) ? (mode & 0777) : 0666) & ~static_cast<int>(mask);
    if (fchmod(fd_, static_cast<mode_t>(m)) != 0) ok = false;
    if (close(fd_) != 0) ok = false;
    fd_ = -1;
    // The target may have changed while the data came: never rename over anything but a
    // regular file.
    struct stat st {};
    if (ok && lstat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) ok = false;
    if (ok && rename(part_.c_str(), target_.c_str()) != 0) ok = false;
    if (!ok) unlink(part_.c_str());
    return ok;
}

void PartFile::abandon(bool keep) {
    if (keep) flush(); // what came is kept for the resume
    buf_.clear();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!keep && !part_.empty()) unlink(part_.c_str());
}
