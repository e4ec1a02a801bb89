#include "ReplyFaults.h"

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace Veltrano::Sim {

const char* const kReplyFaultRequests[] = {
    "sync: the address query (an empty packet to 0xAD)",
    "build: module information, build number",
    "has-uei: module information, whether a UEI is implemented",
    "class-quantity: module information, entities of a class",
    "subclass-quantity: module information, sub-entities of an entity",
    "entity-group: module information, group of an entity",
    "echo: the echo test (command 23)",
    "system.get, system.set: the system entity's values",
    "i2c.write, i2c.read, i2c.pullup: the I2C bus",
    "store.capacity, store.size, store.open, store.read, store.write, store.close: store slots",
    "factory.get, factory.set, factory.end: factory data",
    "upgrade.init, upgrade.prepare, upgrade.data, upgrade.sum, upgrade.write, upgrade.load, upgrade.uei: "
    "the firmware loader",
    "stream: stream control (command 93)",
    nullptr,
};

namespace {

bool knownRequest(const std::string& name) {
    for (const char* const* entry = kReplyFaultRequests; *entry; ++entry) {
        std::string names(*entry, std::strchr(*entry, ':'));
        std::stringstream list(names);
        std::string item;
        while (std::getline(list, item, ',')) {
            if (item.front() == ' ') item.erase(0, 1);
            if (item == name) return true;
        }
    }
    return false;
}

std::optional<long> integer(const std::string& text, long low, long high) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high) return std::nullopt;
    return value;
}

// The kind, and for "late=MS" its delay.
std::optional<ReplyFaultKind> kindOf(const std::string& text, uint32_t& lateMs) {
    const std::string late = "late=";
    if (text.compare(0, late.size(), late) == 0) {
        std::optional<long> ms = integer(text.substr(late.size()), 1, 600000);
        if (!ms) return std::nullopt;
        lateMs = static_cast<uint32_t>(*ms);
        return ReplyFaultKind::Late;
    }
    if (text == "none") return ReplyFaultKind::NoReply;
    if (text == "error") return ReplyFaultKind::ErrorReply;
    if (text == "corrupt") return ReplyFaultKind::Corrupt;
    if (text == "short") return ReplyFaultKind::Short;
    return std::nullopt;
}

} // namespace

std::optional<std::pair<std::string, ReplyFault>> parseReplyFault(const std::string& text) {
    size_t equals = text.find('=');
    if (equals == std::string::npos) return std::nullopt;
    std::string name = text.substr(0, equals);
    if (!knownRequest(name)) return std::nullopt;
    std::vector<std::string> parts;
    std::stringstream rest(text.substr(equals + 1));
    std::string part;
    while (std::getline(rest, part, ':'))
        parts.push_back(part);
    if (parts.empty() || parts.size() > 4) return std::nullopt;
    ReplyFault fault;
    std::optional<ReplyFaultKind> kind = kindOf(parts[0], fault.lateMs);
    if (!kind) return std::nullopt;
    fault.kind = *kind;
    const long limits[][2] = {{0, 0}, {0, 1000000}, {-1, 1000000}, {1, 255}};
    for (size_t i = 1; i < parts.size(); ++i) {
        std::optional<long> value = integer(parts[i], limits[i][0], limits[i][1]);
        if (!value) return std::nullopt;
        if (i == 1) fault.skip = static_cast<uint32_t>(*value);
        if (i == 2) fault.times = static_cast<int32_t>(*value);
        if (i == 3) fault.error = static_cast<uint8_t>(*value);
    }
    return std::make_pair(name, fault);
}

} // namespace Veltrano::Sim
