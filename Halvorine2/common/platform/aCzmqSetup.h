/* The library's one-time set-up of czmq, done before it first makes a czmq
 * actor or socket. Internal to the library. */
#ifndef HALVORINE_ACZMQSETUP_H
#define HALVORINE_ACZMQSETUP_H

/* czmq catches SIGINT and SIGTERM when it starts, after which a program using
 * this library no longer stops on Ctrl+C or a plain kill. The library leaves
 * the program's signals alone; czmq is started here too, as its start is not safe
 * from two threads at once. Safe from any thread; only the first call acts. */
void aCzmq_Setup(void);

#endif
