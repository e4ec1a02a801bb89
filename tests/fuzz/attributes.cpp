// Attribute files of any content: reading must not crash, and what is read must
// survive a write and a second read without growing or losing pairs.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "AttributesFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::string path = [] {
        char pattern[] = "/tmp/fuzz-attributes-XXXXXX";
        char* dir = mkdtemp(pattern);
        if (!dir) abort();
        return std::string(dir) + "/.settings";
    }();
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    fwrite(data, 1, size, f);
    fclose(f);

    AttributesFile first(path);
    std::string text = first.getText("LATEST_DOWNLOAD");
    (void)first.getInt("LATEST_TRANSFER", 0);
    if (first.write() != aErrNone) abort();
    AttributesFile second(path);
    if (second.values().size() > first.values().size()) abort();
    (void)text;
    return 0;
}
