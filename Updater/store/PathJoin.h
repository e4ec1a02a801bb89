// Joins path components with the platform separator. The separator is always
// inserted, even after a component that already ends in one.
#ifndef UPDATER_PATHJOIN_H
#define UPDATER_PATHJOIN_H

#include <initializer_list>
#include <string>
#include <string_view>

std::string pathJoinList(std::initializer_list<std::string_view> parts);

template <typename... Rest> std::string pathJoin(std::string_view first, const Rest&... rest) {
    return pathJoinList({first, std::string_view(rest)...});
}

#endif
