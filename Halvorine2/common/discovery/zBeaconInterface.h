/* The beacon-interface guard. czmq keeps the network interface its UDP beacons use as
 * one process-wide text (zsys_set_interface / zsys_interface), read when a beacon is set
 * up. Every beacon owner sets it, creates its beacon and only then lets the next owner
 * change it; the guard is that process-wide lock plus a saved copy of the setting it
 * replaced.
 *
 * A setting is an IPv4 address in dotted-decimal form, the empty text (czmq's own choice
 * of interface) or "*" (all interfaces); anything else is refused before the lock is
 * taken.
 *
 * Owners:
 *  - network discovery: zBeaconInterface_backupSetAndLock, create and configure the
 *    beacon, discover, destroy it, zBeaconInterface_restoreAndUnlock (so the setting from
 *    before is back after every discovery);
 *  - a link-sharing server: zBeaconInterface_setAndLock, create its beacon,
 *    zBeaconInterface_unlock.
 *
 * The lock is not recursive: a set function called by the thread that already holds it
 * is refused (false), a get-and-lock function answers without locking again, and an
 * unlock or restore from a thread that does not hold it does nothing. Holders release it
 * on every path. The texts returned point into czmq or the
 * guard and stay valid only while no other thread changes the setting (hold the lock for
 * a stable answer). */
#ifndef HALVORINE_ZBEACONINTERFACE_H
#define HALVORINE_ZBEACONINTERFACE_H

#include "aDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* True when the text is an acceptable setting (see above). */
bool zBeaconInterface_isValid(const char* interface);

/* Locks (waiting if needed) and sets czmq's beacon interface; true with the lock held.
 * False, without taking the lock, for a setting that is not valid or when this thread
 * holds the lock already. */
bool zBeaconInterface_setAndLock(const char* interface);

/* Releases the lock. */
void zBeaconInterface_unlock(void);

/* As zBeaconInterface_setAndLock, saving the setting it replaces first. */
bool zBeaconInterface_backupSetAndLock(const char* interface);

/* Puts the saved setting back, then releases the lock. */
void zBeaconInterface_restoreAndUnlock(void);

/* czmq's current beacon interface setting; empty text when none was set. */
const char* zBeaconInterface_get(void);

/* Locks, then answers the current setting. */
const char* zBeaconInterface_getAndLock(void);

/* The saved setting (empty until something was saved). */
const char* zBeaconInterface_getBackup(void);

/* Locks, then answers the saved setting. */
const char* zBeaconInterface_getBackupAndLock(void);

#ifdef __cplusplus
}
#endif

#endif
