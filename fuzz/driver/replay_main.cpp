// Stand-alone fuzz driver for builds without libFuzzer (the ordinary g++ test build).
// Runs any files named on the command line as inputs, then feeds random and mutated inputs
// until the time given by -seconds=N runs out. Sanitizers catch the faults. The run's seed is
// printed before the first input, so that a run that dies can be repeated with -seed=N, and
// the input it died on is written to crash-<seed>-<n> in the current directory, to be replayed
// by naming the file.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

extern "C" __attribute__((weak)) void __sanitizer_set_death_callback(void (*)());

namespace {

// The input under test, for the crash file. The name is built before the input runs, since
// only write and open are safe once something has gone wrong.
const std::vector<uint8_t>* current = nullptr;
char crashname[64];

void savecrash() {
    if (!current || !crashname[0]) return;
    const int fd = open(crashname, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    if (write(fd, current->data(), current->size()) >= 0) {
        static const char note[] = "fuzz driver: input written to ";
        if (write(2, note, sizeof note - 1) < 0 || write(2, crashname, strlen(crashname)) < 0 ||
            write(2, "\n", 1) < 0) {
        }
    }
    close(fd);
    crashname[0] = 0; // once, whichever of the hooks runs first
}

void oncrash(int sig) {
    savecrash();
    signal(sig, SIG_DFL);
    raise(sig);
}

// Bytes that parsers in this program care about, so random inputs reach past the first check.
const char kInteresting[] = "\x1b[;?0123456789:=%$@!\"'()+-*/<>&|^~\\\r\n\t\x7f\x9b\x90\x18"
                            "ABCDEFHJKLMmrz"
                            "NOPYno\x8e\x8f\x9c\xfd";

std::vector<uint8_t> randomInput(std::mt19937& rng, const std::vector<std::vector<uint8_t>>& pool) {
    std::vector<uint8_t> in;
    if (!pool.empty() && rng() % 2) {
        in = pool[rng() % pool.size()];
        int edits = 1 + rng() % 8;
        for (int i = 0; i < edits; i++) {
            size_t at = in.empty() ? 0 : rng() % (in.size() + 1);
            switch (rng() % 4) {
            case 0:
                if (at < in.size()) in[at] = static_cast<uint8_t>(rng());
                break;
            case 1:
                in.insert(in.begin() + at,
                          static_cast<uint8_t>(kInteresting[rng() % (sizeof kInteresting - 1)]));
                break;
            case 2:
                if (at < in.size()) in.erase(in.begin() + at);
                break;
            default: {
                size_t n = rng() % 64;
                std::vector<uint8_t> copy(in.begin() + std::min(at, in.size()),
                                          in.begin() + std::min(at + n, in.size()));
                in.insert(in.begin() + at, copy.begin(), copy.end());
            }
            }
        }
        if (in.size() > 65536) in.resize(65536);
        return in;
    }
    size_t len = rng() % 8 == 0 ? rng() % 4096 : rng() % 128;
    in.resize(len);
    for (auto& b : in)
        b = rng() % 3 == 0 ? static_cast<uint8_t>(rng())
                           : static_cast<uint8_t>(kInteresting[rng() % (sizeof kInteresting - 1)]);
    return in;
}

} // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    double seconds = 5;
    unsigned long seed = std::random_device{}();
    long runs = -1;
    std::vector<std::vector<uint8_t>> pool;
    for (int i = 1; i < argc; i++) {
        if (!strncmp(argv[i], "-seconds=", 9))
            seconds = atof(argv[i] + 9);
        else if (!strncmp(argv[i], "-max_total_time=", 16))
            seconds = atof(argv[i] + 16);
        else if (!strncmp(argv[i], "-seed=", 6))
            seed = strtoul(argv[i] + 6, nullptr, 10);
        else if (!strncmp(argv[i], "-runs=", 6))
            runs = atol(argv[i] + 6);
        else if (argv[i][0] != '-') {
            std::ifstream f(argv[i], std::ios::binary);
            std::vector<uint8_t> in((std::istreambuf_iterator<char>(f)), {});
            LLVMFuzzerTestOneInput(in.data(), in.size());
            pool.push_back(std::move(in));
        }
    }
    fprintf(stderr, "%s: seed %lu\n", argv[0], seed);
    // A sanitizer reports faults itself and then calls back; its own signal handlers stay.
    signal(SIGABRT, oncrash);
    if (__sanitizer_set_death_callback)
        __sanitizer_set_death_callback(savecrash);
    else
        for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL})
            signal(sig, oncrash);
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    long n = 0;
    while ((runs < 0 || n < runs) && std::chrono::steady_clock::now() < end) {
        std::mt19937 rng(static_cast<unsigned>(seed + n));
        auto in = randomInput(rng, pool);
        snprintf(crashname, sizeof crashname, "crash-%lu-%ld", seed, n);
        current = &in;
        LLVMFuzzerTestOneInput(in.data(), in.size());
        current = nullptr;
        if (pool.size() < 256 && rng() % 16 == 0) pool.push_back(in);
        n++;
    }
    fprintf(stderr, "%s: %ld inputs, seed %lu\n", argv[0], n, seed);
    return 0;
}
