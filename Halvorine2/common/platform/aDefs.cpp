#include "aDefs.h"

namespace {

struct ModelName {
    uint32 model;
    const char* name;
};

constexpr ModelName kModels[] = {
    {4, "VT-CoreUSB"},   {5, "VT-CoreNet"},  {13, "VT-Power"},   {14, "VT-Serial"},   {15, "VT-Base"},
    {16, "VT-NetBase"},  {17, "VT-Acquire"}, {18, "VT-Relay"},   {19, "VT-Hub8"},     {20, "VT-Hub4"},
    {21, "VT-Switch"},   {22, "VT-Sampler"}, {23, "VT-Load"},    {24, "VT-Supply"},   {25, "VT-HubC"},
    {26, "VT-Extender"}, {27, "VT-Router"},
};

} // namespace

extern "C" const char* aDefs_GetModelName(uint32 model) {
    for (const ModelName& m : kModels)
        if (m.model == model) return m.name;
    return "Unknown";
}
