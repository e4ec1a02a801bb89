#include "FileRead.h"

#include <cerrno>
#include <fstream>
#include <iterator>

FileRead readFileContent(const std::string& path, std::string& content, size_t limit) {
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) return errno == ENOENT ? FileRead::Missing : FileRead::Failed;
    if (limit == 0) {
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        content.assign(limit + 1, '\0');
        in.read(&content[0], static_cast<std::streamsize>(content.size()));
        content.resize(static_cast<size_t>(in.gcount()));
    }
    return in.bad() ? FileRead::Failed : FileRead::Done;
}
