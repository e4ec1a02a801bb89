/* Link specifiers: the fixed 128-byte record that names one module and how to
 * reach it. It is plain data, copied by value, and travels verbatim as the
 * payload of a link-sharing server's beacon, so its layout is fixed: integers
 * are little-endian, IPv4 addresses in network byte order, and bytes that no
 * field uses are zero in every record this library makes. */
#ifndef HALVORINE_ALINKSPEC_H
#define HALVORINE_ALINKSPEC_H

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    USB = 1,    /* a module on a USB port */
    TCPIP = 2,  /* a module with its own Ethernet interface, at ipAddress:ipPort */
    SERIAL = 3, /* a module on a serial port (portName, baudRate); never discovered */
    ASOLVAN = 4 /* a module served by a link-sharing server at ipAddress:ipPort */
} linkType;

typedef struct linkSpec {
    linkType type;
    uint32 serialNumber;       /* 0 never names a module */
    uint32 moduleAddress;      /* low byte used; 0 when not learned */
    uint32 routerAddress;      /* low byte used; 0 when not learned */
    uint32 routerSerialNumber; /* 0 when not learned */
    uint32 model;              /* low byte used */
    union {
        uint32 usbSerialNumber; /* USB: the serial number again */
        uint32 ipAddress;       /* TCPIP, ASOLVAN: IPv4, network byte order */
        uint32 baudRate;        /* SERIAL */
    };
    union {
        uint16 ipPort;      /* TCPIP, ASOLVAN */
        char portName[100]; /* SERIAL: NUL-terminated device path or name */
    };
} linkSpec;

#ifdef __cplusplus
#define aLINKSPEC_ASSERT static_assert
#else
#define aLINKSPEC_ASSERT _Static_assert
#endif
aLINKSPEC_ASSERT(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "linkSpec fields are little-endian");
aLINKSPEC_ASSERT(sizeof(linkType) == 4, "linkType is 32 bits");
aLINKSPEC_ASSERT(sizeof(linkSpec) == 128, "linkSpec is 128 bytes");
aLINKSPEC_ASSERT(offsetof(linkSpec, serialNumber) == 4, "serialNumber at 4");
aLINKSPEC_ASSERT(offsetof(linkSpec, moduleAddress) == 8, "moduleAddress at 8");
aLINKSPEC_ASSERT(offsetof(linkSpec, routerAddress) == 12, "routerAddress at 12");
aLINKSPEC_ASSERT(offsetof(linkSpec, routerSerialNumber) == 16, "routerSerialNumber at 16");
aLINKSPEC_ASSERT(offsetof(linkSpec, model) == 20, "model at 20");
aLINKSPEC_ASSERT(offsetof(linkSpec, ipAddress) == 24, "ipAddress at 24");
aLINKSPEC_ASSERT(offsetof(linkSpec, baudRate) == 24, "baudRate at 24");
aLINKSPEC_ASSERT(offsetof(linkSpec, ipPort) == 28, "ipPort at 28");
aLINKSPEC_ASSERT(offsetof(linkSpec, portName) == 28, "portName at 28");
#undef aLINKSPEC_ASSERT

/* A new record, all zero but its type; NULL when memory runs out. */
linkSpec* aLinkSpec_Create(linkType type);

/* A new copy of all 128 bytes; NULL when memory runs out. */
linkSpec* aLinkSpec_Copy(linkSpec spec);

/* Frees the record and clears *spec. aErrParam when spec or *spec is NULL. */
aErr aLinkSpec_Destroy(linkSpec** spec);

#ifdef __cplusplus
}
#endif

#endif
