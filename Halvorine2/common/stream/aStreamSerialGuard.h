/* Serial ports put back as they were found when the process is ended by SIGINT or
 * SIGTERM, as destroying their streams would: a port left raw, at another rate or with
 * its flow control changed misleads the next program that opens it.
 *
 * Internal to the serial stream. Registering installs the handlers once (a signal the
 * process ignores stays ignored); the handler restores every registered port, puts the
 * previous disposition back and raises the signal again. Thread-safe: registration is
 * locked, the handler only reads slots that are published whole. */
#ifndef aSTREAMSERIALGUARD_H
#define aSTREAMSERIALGUARD_H

#include <termios.h>

/* Remembers fd's settings to restore on a termination signal: false when every slot is
 * taken (the port is then restored only by its destroy). */
bool aStreamSerialGuard_Register(int fd, const termios* previous);
/* Forgets fd (before its destroy restores it and closes it). */
void aStreamSerialGuard_Unregister(int fd);

#endif
