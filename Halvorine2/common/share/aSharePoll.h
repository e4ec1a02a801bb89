/* The wait of every link-sharing task: one poll over its control pipe (item 0) and its
 * sockets or queues. A signal handled on the task's thread interrupts the poll (EINTR:
 * any handled signal, and glibc's own for setuid and setgid, which reaches every
 * thread); that is no reason to end the task, so the wait simply goes on. */
#ifndef HALVORINE_ASHAREPOLL_H
#define HALVORINE_ASHAREPOLL_H

#include <czmq.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The task is to end: its pipe spoke, the poll failed for good, or czmq caught an
 * interruption (as czmq's own pollers end on it). */
#define aSHARE_POLL_END (-1)
/* The time-out passed with nothing ready. */
#define aSHARE_POLL_NONE (-2)

/* Waits up to timeoutMs (a signal does not shorten the bound by more than it took).
 * The index of the first ready item after the pipe, or one of the two above. */
int aSharePoll_Wait(zmq_pollitem_t* items, int count, int timeoutMs);

#ifdef __cplusplus
}
#endif

#endif
