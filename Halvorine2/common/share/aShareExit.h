/* The end of the program while link sharing runs. czmq closes, from its exit handler,
 * every socket it still knows, on the exiting thread, while the sharing tasks may
 * still poll them on theirs. Every live server and client stream is listed here, and
 * an exit handler that runs before czmq's stops their tasks and closes their sockets
 * first; the links they carry are left for their owners, which find them stopped.
 *
 * Threads: any. A stop and the owner's own teardown exclude each other: the owner
 * leaves the list before it tears down. */
#ifndef HALVORINE_ASHAREEXIT_H
#define HALVORINE_ASHAREEXIT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Stops the tasks of an object and destroys its sockets, leaving it fit for its
 * owner's later teardown (which then finds nothing to stop). */
typedef void (*aShareExitStop)(void* object);

/* Lists the object; the first call initialises czmq and installs the exit handler so
 * that it runs before czmq's. Call before the object starts its tasks. False when
 * memory runs out (the object is then not stopped at exit). */
bool aShareExit_Add(void* object, aShareExitStop stop);

/* Takes the object off the list, waiting for a stop of it in progress. */
void aShareExit_Remove(void* object);

#ifdef __cplusplus
}
#endif

#endif
