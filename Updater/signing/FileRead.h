// Reading the files signatures are checked with: firmware whole, key and signature
// files only up to a bound, so an oversized one is refused without being taken in.
#ifndef UPDATER_FILEREAD_H
#define UPDATER_FILEREAD_H

#include <cstddef>
#include <string>

enum class FileRead { Done, Missing, Failed };

// The file's content; with a limit, at most limit + 1 bytes (more than any such file
// may hold, so the parser sees it is too long).
FileRead readFileContent(const std::string& path, std::string& content, size_t limit = 0);

#endif
