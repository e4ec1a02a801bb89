/* The link specifier: one fixed 128-byte record naming a module (serial number, model,
 * address on the device network) and how to reach it (USB, TCP/IP, serial port, or a
 * link-sharing server). The record is plain data, copied by value; its integers are
 * little-endian because it also travels verbatim as the payload of a link-sharing
 * server's beacon. Bytes that a field does not use are zero in every record the library
 * makes. */
#ifndef HALVORINE_ALINKSPEC_H
#define HALVORINE_ALINKSPEC_H

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* How a module is reached (the record's type field). */
typedef enum {
    USB = 1,    /* on a USB port */
    TCPIP = 2,  /* its own Ethernet interface, TCP at ipAddress:ipPort */
    SERIAL = 3, /* a serial port (portName, baudRate); never discovered, filled by the caller */
    ASOLVAN = 4 /* through a link-sharing server at ipAddress:ipPort */
} linkType;

#define aLINKSPEC_SIZE 128
#define aLINKSPEC_PORTNAME_SIZE 100

typedef struct linkSpec {
    linkType type;
    uint32 serialNumber;       /* 0 never names a module */
    uint32 moduleAddress;      /* one byte used; 0 when not learned */
    uint32 routerAddress;      /* the module routing for it, one byte used; 0 when not learned */
    uint32 routerSerialNumber; /* 0 when not learned */
    uint32 model;              /* one byte used */
    union {
        uint32 usbSerialNumber; /* USB: the serial number again */
        uint32 ipAddress;       /* TCPIP, ASOLVAN: IPv4, network byte order */
        uint32 baudRate;        /* SERIAL */
    };
    union {
        uint16 ipPort;                          /* TCPIP, ASOLVAN */
        char portName[aLINKSPEC_PORTNAME_SIZE]; /* SERIAL: NUL-terminated */
    };
} linkSpec;

/* True for the four link types above. */
bool aLinkSpec_IsKnownType(uint32 type);

/* A new record, every byte zero but type; NULL when memory runs out. Release it with
 * aLinkSpec_Destroy. */
linkSpec* aLinkSpec_Create(linkType type);

/* A new copy of all 128 bytes; NULL when memory runs out. */
linkSpec* aLinkSpec_Copy(linkSpec spec);

/* Frees the record and clears the caller's pointer. aErrParam when spec or *spec is
 * NULL. */
aErr aLinkSpec_Destroy(linkSpec** spec);

#ifdef __cplusplus
}
#endif

#endif
