#include "FlashDump.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <vector>

namespace Veltrano::Sim {

bool writeFlashDump(const std::string& path, const UpgradeArea::Regions& flash) {
    std::vector<uint8_t> image = contiguousImage(flash);
    std::string temporary = path + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < image.size()) {
        ssize_t n = ::write(fd, image.data() + done, image.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    bool written = done == image.size() && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
    ::unlink(temporary.c_str());
    return false;
}

} // namespace Veltrano::Sim
