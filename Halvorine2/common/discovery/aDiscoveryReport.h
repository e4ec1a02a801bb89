/* Handing found modules to the caller's callback, shared by every kind of discovery
 * (library-internal). */
#ifndef HALVORINE_ADISCOVERYREPORT_H
#define HALVORINE_ADISCOVERYREPORT_H

#include "aDiscovery.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    aDiscoveryCallback callback;
    void* ref;
    uint8 count; /* callbacks that set their flag, held at 255 rather than wrapping */
} aDiscoveryReport;

/* Calls the callback with a fresh "found" flag and counts it; answers whether discovery
 * goes on. */
bool aDiscoveryReport_Module(aDiscoveryReport* report, const linkSpec* spec);

/* The three discoveries. */
uint8 aDiscovery_EnumerateUSB(aDiscoveryCallback callback, void* ref);
uint8 aDiscovery_EnumerateMulticast(aDiscoveryCallback callback, void* ref);

#ifdef __cplusplus
}
#endif

#endif
