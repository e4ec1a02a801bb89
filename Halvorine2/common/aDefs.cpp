#include "aDefs.h"

namespace {

struct ModelName {
    uint32 model;
    const char* name;
};

constexpr ModelName kModels[] = {
    {4, "VelStem USB"},      {5, "VelStem Ethernet"},  {13, "MTM-PM-1"},      {14, "MTM-IO-Serial"},
    {15, "MTM-USBStem"},     {16, "MTM-EtherStem"},    {17, "MTM-DAQ-1"},     {18, "MTM-Relay"},
    {19, "USBHub2x4"},       {20, "USBHub3p"},         {21, "USBCSwitch"},    {22, "MTM-DAQ-2"},
    {23, "MTM-Load-1"},      {24, "PowerStem"},        {25, "USBHub3c"},      {26, "USBExt3c"},
    {27, "MTM-Router"},
};

} // namespace

extern "C" const char* aDefs_GetModelName(uint32 model) {
    for (const ModelName& m : kModels)
        if (m.model == model) return m.name;
    return "Unknown";
}
