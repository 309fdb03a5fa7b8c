// The native protocol's parsers under hostile line bytes: the block check of every variant,
// the header and header acknowledgement parsers, then the whole receiver and the whole sender
// with the fuzzer's bytes as everything the peer says (a time-out once they run out). Files
// land in a private directory that is emptied after each input; the sanitizers judge.
#include "core/start.h"
#include "ports/com.h"
#include "transfer/vornline.h"
#include "transfer/vornwire.h"
#include "transfer/xfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {
const uint8_t* in = nullptr;
size_t inlen = 0, inpos = 0;
std::string dest, src;

int fromfuzz(int) {
    return inpos < inlen ? in[inpos++] : -2;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0) dup2(fd, 1);
    char tmpl[] = "/tmp/vorn-fuzz-vorn-XXXXXX";
    if (!mkdtemp(tmpl)) abort();
    dest = std::string(tmpl) + "/dest";
    src = std::string(tmpl) + "/src.bin";
    fs::create_directory(dest);
    FILE* f = fopen(src.c_str(), "w");
    for (int i = 0; f && i < 700; i++)
        fputc(i * 31, f);
    if (f) fclose(f);
    atexit([] { fs::remove_all(fs::path(dest).parent_path()); });
    vlinehook = fromfuzz;
    canabort = 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (dest.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    // Parsers alone, on the input as it stands.
    for (Variant v : {Variant::OldVorn, Variant::Vorn5, Variant::VornCRC}) {
        for (int n : {vorn::DATAN, vorn::OLDHDRN, vorn::KN}) {
            if (framelen(v, n) - 1 > size) continue;
            int seq = -1;
            int count = checkblk(v, data, n, &seq);
            if (count < 0 || count > n) abort();
            if (n == vorn::DATAN || n == vorn::OLDHDRN) {
                VornHeader h;
                if (parseheader(v, data, count, h) && h.name.size() > 14) abort();
            }
            if (n == vorn::KN) {
                VornKblock k;
                parsek(data, count, k);
            }
        }
    }
    // The engines, with the first byte choosing the protocol and the destination's options.
    if (size == 0) return 0;
    xferreset();
    statflag = 0;
    retries = 2;
    const uint8_t sel = data[0];
    errprot = (sel & 3) == 0 ? 0 : (sel & 3) == 1 ? 1 : (sel & 3) == 2 ? 9 : 0;
    in = data + 1, inlen = size - 1, inpos = 0;
    if (sel & 4) {
        snd((src + ((sel & 8) ? "(z)" : "")).c_str(), "");
    } else {
        const std::string d = (sel & 8) ? dest + "/one" : dest + ((sel & 16) ? "(rz)" : "");
        rcv("", d.c_str());
    }
    for (const auto& e : fs::directory_iterator(dest))
        fs::remove_all(e.path());
    if (fs::exists(fs::path(dest).parent_path() / "one")) abort(); // never outside
    return 0;
}
