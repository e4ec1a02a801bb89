#include "PathJoin.h"

#include "aDirectory.h"

std::string pathJoinList(std::initializer_list<std::string_view> parts) {
    std::string path;
    bool first = true;
    for (std::string_view part : parts) {
        if (!first) path += aDIRECTORY_SEPARATOR;
        path += part;
        first = false;
    }
    return path;
}
