#include "aVersion.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint8 kMajor = 2;
constexpr uint8 kMinor = 11;
constexpr uint8 kPatch = 2;

struct Feature {
    const char* name;
    const char* description;
};
constexpr Feature kFeatures[] = {{"VERSION", "Version Query API"}};

} // namespace

extern "C" {

bool aVersion_IsLegacyFormat(uint32 packed) {
    uint32 hi = packed >> 28;
    uint32 mid = (packed >> 24) & 0xF;
    return hi < 2 || (hi == 2 && mid < 15);
}

uint8 aVersion_ParseMajor(uint32 packed) {
    return aVersion_IsLegacyFormat(packed) ? uint8(packed >> 28) : uint8(packed >> 16);
}

uint8 aVersion_ParseMinor(uint32 packed) {
    return aVersion_IsLegacyFormat(packed) ? uint8((packed >> 24) & 0xF) : uint8(packed >> 8);
}

uint32 aVersion_ParsePatch(uint32 packed) {
    return aVersion_IsLegacyFormat(packed) ? (packed & 0xFFFFFF) : (packed & 0xFF);
}

size_t aVersion_ParseString(uint32 packed, char* buffer, size_t bufferLength) {
    if (!buffer || bufferLength == 0) return 0;
    char text[32];
    int n = std::snprintf(text, sizeof text, "%d.%d.%u", aVersion_ParseMajor(packed),
                          aVersion_ParseMinor(packed), aVersion_ParsePatch(packed));
    if (n < 0 || size_t(n) >= bufferLength) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, text, size_t(n) + 1);
    return size_t(n);
}

uint32 aVersion_Pack(uint8 major, uint8 minor, uint8 patch) {
    if (major > 2 || (major == 2 && minor >= 15))
        return 0x2F000000u | uint32(major) << 16 | uint32(minor) << 8 | patch;
    return uint32((major << 4) | (minor & 0xF)) << 24 | patch;
}

uint8 aVersion_GetMajor(void) { return kMajor; }
uint8 aVersion_GetMinor(void) { return kMinor; }
uint8 aVersion_GetPatch(void) { return kPatch; }

const char* aVersion_GetString(void) {
    // Built once; a function-local static is initialised thread-safely.
    static const struct Text {
        char text[15];
        Text() { std::snprintf(text, sizeof text, "%d.%d%s%d", kMajor, kMinor, ".", kPatch); }
    } version;
    return version.text;
}

bool aVersion_IsAtLeast(uint8 major, uint8 minor, uint8 patch) {
    return aVersion_IsAtLeastCompare(kMajor, kMinor, kPatch, major, minor, patch);
}

bool aVersion_IsAtLeastCompare(uint8 majorA, uint8 minorA, uint8 patchA, uint8 majorB, uint8 minorB,
                               uint8 patchB) {
    if (majorA != majorB) return majorA > majorB;
    if (minorA != minorB) return minorA > minorB;
    return patchA >= patchB;
}

bool aVersion_HasFeature(const char* name) {
    if (!name) return false;
    for (const Feature& f : kFeatures)
        if (std::strcmp(f.name, name) == 0) return true;
    return false;
}

char* aVersion_GetFeatureList(void) {
    const Feature& f = kFeatures[0];
    size_t size = std::strlen(f.name) + std::strlen(f.description) + 6;
    char* list = static_cast<char*>(std::calloc(size, 1));
    if (!list) return nullptr;
    std::strcat(list, f.name);
    std::strcat(list, " - ");
    std::strcat(list, f.description);
    list[size - 1] = '\0';
    return list;
}

void aVersion_DestroyFeatureList(char** list) {
    if (!list) return;
    std::free(*list);
    *list = nullptr;
}

} // extern "C"
