/* Byte streams: one interface over every transport (USB, TCP socket, serial port,
 * file, an already open descriptor).
 *
 * A stream is four transport operations and a push-back ring. Reads hand out whole
 * requests or nothing: a multi-byte read that runs dry part way gives its bytes back
 * to the ring, so the next read sees them first and nothing is lost.
 *
 * A read that would block is not a failure: it answers aErrNotReady at once (the USB
 * transport waits up to 1000 ms for a transfer first), and callers poll again.
 *
 * Concurrency: a stream carries no lock of its own. One thread may read (byte reader
 * and push-back ring) while one other thread writes; nothing more. The socket
 * transport additionally lets its reader and writer reconnect safely side by side.
 *
 * Every operation refuses a NULL stream or one that is not a live stream (aErrParam). */
#ifndef HALVORINE_ASTREAM_H
#define HALVORINE_ASTREAM_H

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aStream aStream;

/* Transport operations; ref is the transport's own record given to aStream_Create.
 * The byte reader answers aErrNotReady when no byte is available now, aErrEOF at the
 * end of the data. Any of the four may be NULL. */
typedef aErr (*aStreamGetByteProc)(uint8* byte, void* ref);
typedef aErr (*aStreamPutByteProc)(const uint8* byte, void* ref);
typedef aErr (*aStreamWriteBufferProc)(const uint8* bytes, uint32 count, void* ref);
typedef aErr (*aStreamDestroyProc)(void* ref);

/* A new stream over the given operations with an empty push-back ring, or NULL when
 * memory runs out. A stream with a byte reader can be read; one with a byte writer or
 * a buffer writer can be written. The stream owns ref from now on: aStream_Destroy
 * hands it to destroy. */
aStream* aStream_Create(aStreamGetByteProc getByte, aStreamPutByteProc putByte,
                        aStreamWriteBufferProc writeBuffer, aStreamDestroyProc destroy, void* ref);

/* Reads exactly count bytes or none. Bytes come from the push-back ring first.
 * - aErrNone: buffer holds count bytes.
 * - aErrNotReady: fewer than count bytes were available; buffer is untouched and the
 *   bytes obtained wait in the ring for the next read.
 * - aErrEOF: the data ended; the bytes obtained (fewer than count) are in buffer.
 * - any other transport failure: answered as is; the bytes obtained are dropped.
 * aErrParam for a NULL buffer, aErrMode without a byte reader, aErrResource when the
 * work buffer cannot be allocated. A count of 0 answers aErrNone. */
aErr aStream_Read(aStream* stream, uint8* buffer, uint32 count);

/* Writes count bytes: with a buffer writer and count > 1 in one call of it, otherwise
 * through the byte writer one byte at a time, stopping at the first failure. Answers
 * the writer's result; aErrParam for NULL bytes, aErrMode without any writer. */
aErr aStream_Write(aStream* stream, const uint8* bytes, uint32 count);

/* Reads one record ended by the terminator bytes into buffer (at most capacity bytes;
 * the terminator is consumed, not stored). Terminator bytes are matched in order
 * across the record: with CR LF, the bytes a CR b LF give "ab". Filling capacity also
 * ends the record.
 * - aErrNone: *length (when length is not NULL) receives the byte count.
 * - aErrEOF: the data ended before any byte was stored (*length 0); data that ends
 *   after some stored bytes completes the record instead.
 * - aErrNotReady: the record is not complete yet; every byte taken (matched terminator
 *   bytes included) goes back to the push-back ring and the next call starts afresh.
 * - other failures are answered as is; nothing is copied.
 * aErrParam for a NULL stream, buffer or terminator, a terminatorLength of 0 or a
 * capacity of 0; aErrResource when the work buffer cannot be allocated. */
aErr aStream_ReadRecord(aStream* stream, uint8* buffer, uint32* length, uint32 capacity,
                        const uint8* terminator, uint32 terminatorLength);

/* Writes the bytes, then (when that succeeded) the terminator. aErrParam for a NULL
 * pointer or a terminatorLength of 0. */
aErr aStream_WriteRecord(aStream* stream, const uint8* bytes, uint32 count, const uint8* terminator,
                         uint32 terminatorLength);

/* Reads a NUL-terminated text of at most size - 1 characters (see aStream_ReadRecord);
 * on success buffer holds it NUL-terminated. aErrParam for a size of 0 or 1. */
aErr aStream_ReadCString(aStream* stream, char* buffer, uint32 size);

/* Writes the text followed by one NUL byte. */
aErr aStream_WriteCString(aStream* stream, const char* text);

/* Reads a record ended by the terminator's characters (its NUL excluded) of at most
 * size - 1 characters; on success buffer holds it NUL-terminated. aErrParam for an
 * empty terminator or a size of 0 or 1. */
aErr aStream_ReadCStringRecord(aStream* stream, char* buffer, uint32 size, const char* terminator);

/* Writes the text without its NUL, then the terminator including its NUL. */
aErr aStream_WriteCStringRecord(aStream* stream, const char* text, const char* terminator);

/* Copies bytes one at a time from input's byte reader to output's byte writer (the
 * push-back ring is bypassed) until the input answers a failure. The input's end of
 * data ends the copy with aErrNone; any other input failure and any output failure is
 * answered. aErrMode when input has no byte reader or output no byte writer. */
aErr aStream_Flush(aStream* input, aStream* output);

/* Optional fifth operation: waits up to timeoutMs until the byte reader may have a
 * byte. aErrNone when one may be there (a following read can still find none, for
 * example after the peer closed), aErrTimeout when the time passed first, aErrCancel
 * once the stream was interrupted. It lets a reader whose transport answers aErrNotReady
 * at once wait instead of spinning. */
typedef aErr (*aStreamAwaitInputProc)(uint32 timeoutMs, void* ref);

/* Gives the stream its input wait. aErrParam for an invalid stream. */
aErr aStream_SetAwaitInput(aStream* stream, aStreamAwaitInputProc awaitInput);

/* Waits for input: aErrNone at once when pushed-back bytes wait, else the
 * transport's wait; aErrUnimplemented when the transport has none (the caller then
 * paces itself), aErrParam for an invalid stream. */
aErr aStream_AwaitInput(aStream* stream, uint32 timeoutMs);

/* Optional operation: writes without waiting. Takes all count bytes at once, or as many
 * as the transport can take now (*written tells how many). */
typedef aErr (*aStreamTryWriteProc)(const uint8* bytes, uint32 count, uint32* written, void* ref);

/* Gives the stream its write without waiting. aErrParam for an invalid stream. */
aErr aStream_SetTryWrite(aStream* stream, aStreamTryWriteProc tryWrite);

/* Writes without ever waiting for the transport. aErrNone when all count bytes were taken;
 * aErrNotReady when they cannot all go now (*written, never NULL, tells how many went:
 * the caller writes the rest next, before anything else); aErrUnimplemented when the
 * transport has no such write; aErrParam for an invalid stream or NULL pointers. */
aErr aStream_TryWrite(aStream* stream, const uint8* bytes, uint32 count, uint32* written);

/* Optional operation: ends the transport's waits for good. */
typedef aErr (*aStreamInterruptProc)(void* ref);

/* Gives the stream its interruption. aErrParam for an invalid stream. */
aErr aStream_SetInterrupt(aStream* stream, aStreamInterruptProc interrupt);

/* Ends the transport's waits: a read, write or input wait that waits for the peer ends
 * soon (at once on descriptors, after the transfer in progress on USB) with aErrCancel,
 * and from then on the stream never waits: bytes that can go at once still go. It cannot
 * be undone: meant for a stream whose owner is stopping and then destroys it (a link's
 * reset opens a new stream). Safe from any thread while others use the stream.
 * aErrUnimplemented when the transport has no waits to end (its operations must then
 * return by themselves); aErrParam for an invalid stream. */
aErr aStream_Interrupt(aStream* stream);

/* Optional operation: bytes to send first over every renewed connection. */
typedef aErr (*aStreamSetPreambleProc)(const uint8* bytes, uint32 count, void* ref);

/* Gives the stream its preamble setter. aErrParam for an invalid stream. */
aErr aStream_SetPreambleProc(aStream* stream, aStreamSetPreambleProc setPreamble);

/* Bytes (at most aSTREAM_PREAMBLE_MAX) that a transport which renews its connection by
 * itself (the socket stream) sends first over every new connection, ahead of anything
 * else. Call before the stream is shared between threads. aErrUnimplemented for
 * transports that never renew; aErrParam for an invalid stream or a NULL pointer,
 * aErrSize when too long. */
aErr aStream_SetPreamble(aStream* stream, const uint8* bytes, uint32 count);

#define aSTREAM_PREAMBLE_MAX 32

/* Calls the transport's destroy (its result is the answer), frees the stream and sets
 * *stream to NULL. An invalid stream answers aErrParam and *stream is still cleared. */
aErr aStream_Destroy(aStream** stream);

/* ---- Transports. Each answers aErrNone and sets *stream, or a failure. ---- */

/* Serial baud rate indices. */
enum {
    aSTREAM_BAUD_2400 = 0,
    aSTREAM_BAUD_4800 = 1,
    aSTREAM_BAUD_9600 = 2,
    aSTREAM_BAUD_19200 = 3,
    aSTREAM_BAUD_38400 = 4,
    aSTREAM_BAUD_57600 = 5,
    aSTREAM_BAUD_115200 = 6,
    aSTREAM_BAUD_230400 = 7
};

/* Opens a serial port: portName is a device path ("/dev/ttyUSB0", "/dev/pts/3"); a name
 * without "/" means /dev/NAME. The port is held exclusively and set to raw binary mode
 * with the rate of baudIndex (aSTREAM_BAUD_*). The three flags are truth values taken
 * as int: odd parity when parity is non-zero (checked on input when its lowest bit is
 * set), 7 data bits when sevenBits is 1, two stop bits when twoStopBits is 1. Hardware
 * flow control (CRTSCTS) and the hang-up on close (HUPCL) are switched off; the modem
 * lines otherwise stay as the port had them.
 * Reading: aErrNotReady at once when nothing waits; aErrIO once the line has gone (hung
 * up, adapter unplugged). Writing: waits until every byte is queued, at most the time
 * the bytes take at the rate plus one second, else aErrIO.
 * Destroy lets the output still queued go out at the port's rate (waiting at most the
 * time it takes plus one second), then restores the port's previous settings (aErrIO
 * when that fails); so does SIGINT or SIGTERM ending the process (the signal then takes
 * its previous course). An interruption ends a write's wait for room (aErrCancel).
 * aErrParam for a NULL name or output; aErrRange for a baud index above 7; aErrMode when
 * sevenBits or twoStopBits is neither 0 nor 1; aErrMemory when the record cannot be
 * allocated; aErrIO when the port cannot be opened, is held already, is not a serial
 * device or cannot be configured (errno then holds the system's reason); aErrResource
 * when the stream cannot be created. */
aErr aStream_CreateSerial(const char* portName, uint32 baudIndex, int parity, int sevenBits, int twoStopBits,
                          aStream** stream);

/* Longest time a TCP connection attempt may take, in milliseconds. */
#define aSTREAM_SOCKET_CONNECT_TIMEOUT 2000

/* Connects a TCP socket to the IPv4 address (network byte order) and port (host order).
 * The connection has no send delay (TCP_NODELAY), is closed by reset (zero linger) and
 * never blocks. aErrResource for a NULL output or a failed connection.
 *
 * A peer that closes its side (a module that reboots) or resets the connection is
 * noticed by the next read or write, which connects again to the same address and port
 * and sends the preamble (aStream_SetPreamble) first over the new connection. A stream
 * whose reconnection failed tries again at its next use.
 * Reading: aErrNotReady when no byte waits; aErrConnection when connecting again
 * failed, or for an unexpected socket failure.
 * Writing: sends every byte, waiting up to 60 ms for room whenever the connection
 * takes no more; a write that a renewal interrupted starts again from its first byte
 * over the new connection. It gives up after ten passes without progress (aErrBusy, or
 * aErrConnection when reconnecting failed, or aErrIO for other send failures).
 * Writing without waiting (aStream_TryWrite) takes what the connection takes at once;
 * when the connection was renewed before the rest of a packet so begun is written, that
 * rest is dropped rather than sent to the new peer.
 * An interruption ends the pauses and a connection attempt at once (aErrCancel). */
aErr aStream_CreateSocket(uint32 address, uint16 port, aStream** stream);

/* Opens the USB module with that serial number: a device of the maker's vendor id with a
 * module interface (class 0xFF, subclass 0x88, protocol 0x10) whose serial string reads
 * as that number ("%08X" hexadecimal, or the "RFICB%d.A" decimal form). Its interface is
 * claimed for this process. A byte read waits at most 1000 ms for a transfer
 * (aErrNotReady when none came). Writes go out in chunks of the OUT packet size (a
 * 512-byte chunk is cut to 511); a chunk that fails or completes late counts one
 * attempt, and after ten attempts the write answers aErrWrite, the rest unsent. Once
 * interrupted, no further transfer starts (aErrCancel); the one in progress ends by its
 * own time-out. There is no write without waiting.
 * aErrParam for a NULL output; aErrMemory when memory runs out; aErrBusy when another
 * program holds the module; aErrPermission when it may not be opened; aErrNotFound when
 * no such module is attached or its serial string cannot be read (a module this user may
 * not access, for want of a udev rule, is not seen), also on a machine without USB;
 * aErrInitialization when its interface cannot be set up. */
aErr aStream_CreateUSB(uint32 serialNumber, aStream** stream);

/* A read-only stream over the file. Its reads answer aErrEOF at the end. aErrResource
 * when a pointer is NULL, the file cannot be opened or memory runs out. */
aErr aStream_CreateFileInput(const char* path, aStream** stream);

/* A write-only stream over a file created or truncated. Bytes reach the file in order,
 * in blocks, and are synced to the disk once on destroy, whose answer tells whether every
 * byte landed; a write error is answered by the write that meets it, every later write
 * and destroy. aErrResource when a pointer is NULL, the path is longer than 260 characters, the file
 * cannot be created or memory runs out; *stream is then NULL. */
aErr aStream_CreateFileOutput(const char* path, aStream** stream);

/* Linux addition: a stream over an already open, connected descriptor (one end of a
 * socketpair, a pseudo-terminal master...). The stream takes the descriptor over,
 * switches it to non-blocking mode and closes it on destroy.
 * Reading: aErrNotReady when nothing waits, aErrEOF once the peer has closed, aErrIO on
 * other failures. Writing: every byte, waiting at most aSTREAM_DESCRIPTOR_WRITE_TIMEOUT ms
 * for room, else aErrIO; also aErrIO when the peer has gone (never SIGPIPE, a pipe's included);
 * aErrCancel when an interruption ended the wait. Writing without waiting takes what
 * the descriptor takes at once.
 * aErrParam for a negative descriptor or NULL output (the descriptor is then left
 * open); aErrIO when it cannot be switched to non-blocking mode; aErrMemory or
 * aErrResource when memory runs out. On any failure after those checks the descriptor
 * is closed. */
aErr aStream_CreateDescriptor(int fd, aStream** stream);

/* How long a descriptor stream's write waits for room, in milliseconds. */
#define aSTREAM_DESCRIPTOR_WRITE_TIMEOUT 5000

#ifdef __cplusplus
}
#endif

#endif
