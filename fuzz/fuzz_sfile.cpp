// Feeds arbitrary bytes as a command file to the line cutter that keeps a running file in
// memory: every line is at most 255 bytes without carriage returns, the offsets and numbers
// handed out lead back to the same lines after a seek, and the end of the data ends the file.
#include "script/cmd.h"
#include "script/sfile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    FILE* fp = fmemopen(bytes.data(), bytes.size() ? bytes.size() : 1, "r");
    if (!fp) return 0;
    if (bytes.empty()) fgetc(fp); // an empty file
    ScriptFile f(fp, "fuzz");
    struct Seen {
        long at;
        std::string text;
        int number;
    };
    std::vector<Seen> seen;
    for (int n = 1;; n++) {
        long at = f.tell();
        const ScriptLine* l = f.next();
        if (!l) break;
        if (l->text.size() > LINEMAX || l->text.find('\r') != std::string::npos || l->number != n ||
            l->next <= at || l->next > static_cast<long>(size))
            abort();
        seen.push_back({at, l->text, l->number});
    }
    // Back to every line in reverse order.
    for (size_t i = seen.size(); i-- > 0;) {
        f.seek(seen[i].at);
        const ScriptLine* l = f.next();
        if (!l || l->text != seen[i].text || l->number != seen[i].number) abort();
    }
    return 0;
}
