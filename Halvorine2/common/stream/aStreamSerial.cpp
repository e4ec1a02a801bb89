#include "aStream.h"
#include "aStreamDescriptorIO.h"
#include "aStreamSerialGuard.h"
#include "aFile.h"
#include "aTime.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const uint16 kSerialCheck = 0xDEEF;
const uint32 kBaudCount = 8;
const speed_t kSpeeds[kBaudCount] = {B2400, B4800, B9600, B19200, B38400, B57600, B115200, B230400};
const uint32 kRates[kBaudCount] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
// Slack on top of the time the bytes themselves take on the line.
const uint32 kWriteSlackMs = 1000;
// How often a closing port looks whether its output has gone out.
const uint32 kDrainPollMs = 5;

struct SerialRecord {
    int fd;
    uint16 check;
    uint32 rate;
    termios previous;
    aStreamInBuffer in;
    aStreamWaker waker;
};

SerialRecord* sRecord(void* ref) {
    SerialRecord* r = static_cast<SerialRecord*>(ref);
    return r && r->check == kSerialCheck ? r : nullptr;
}

bool sHungUp(int fd) {
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

aErr sGetByte(uint8* byte, void* ref) {
    SerialRecord* r = sRecord(ref);
    if (!r || !byte) return aErrParam;
    // Raw mode with no minimum count: nothing waiting reads as 0 bytes or EAGAIN, and so
    // does a line that has gone (an unplugged adapter): only poll tells them apart.
    aErr err = aStreamInBuffer_ReadByte(&r->in, r->fd, byte, aErrNotReady);
    return err == aErrNotReady && sHungUp(r->fd) ? aErrIO : err;
}

// What count bytes take on the line, plus slack: ten bits a byte (start, eight data,
// stop), rounded up.
uint32 sLineBound(const SerialRecord* r, uint64 count) {
    uint64 timeout = (count * 10 * 1000 + r->rate - 1) / r->rate + kWriteSlackMs;
    return timeout > 0x7FFFFFFF ? 0x7FFFFFFF : uint32(timeout);
}

aErr sWriteBuffer(const uint8* bytes, uint32 count, void* ref) {
    SerialRecord* r = sRecord(ref);
    if (!r || !bytes) return aErrParam;
    return aStreamDescriptor_WriteAll(r->fd, bytes, count, sLineBound(r, count), &r->waker);
}

aErr sTryWrite(const uint8* bytes, uint32 count, uint32* written, void* ref) {
    SerialRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    return aStreamDescriptor_TryWrite(r->fd, bytes, count, written);
}

aErr sAwaitInput(uint32 timeoutMs, void* ref) {
    SerialRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    return aStreamInBuffer_AwaitInput(&r->in, r->fd, timeoutMs, &r->waker);
}

aErr sInterrupt(void* ref) {
    SerialRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    aStreamWaker_Raise(&r->waker);
    return aErrNone;
}

// Lets what is still in the port's output queue go out at the current settings (tcdrain
// has no bound: a line held by flow control would keep it for ever).
void sDrain(const SerialRecord* r) {
    int queued = 0;
    if (ioctl(r->fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    uint32 limit = sLineBound(r, static_cast<uint64>(queued));
    uint32 start = aTime_GetMSTicks();
    while (ioctl(r->fd, TIOCOUTQ, &queued) == 0 && queued > 0 && aTime_GetMSTicks() - start < limit)
        aTime_MSSleep(kDrainPollMs);
}

aErr sPutByte(const uint8* byte, void* ref) {
    return sWriteBuffer(byte, 1, ref);
}

aErr sDestroy(void* ref) {
    SerialRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    r->check = 0;
    // The last bytes written (a link's route-off) go out at the rate they were written
    // for, not at the one restored.
    sDrain(r);
    aStreamSerialGuard_Unregister(r->fd);
    bool restored = tcsetattr(r->fd, TCSANOW, &r->previous) == 0;
    ioctl(r->fd, TIOCNXCL);
    close(r->fd);
    aStreamWaker_Close(&r->waker);
    delete r;
    return restored ? aErrNone : aErrIO;
}

// The port's settings: raw binary bytes at the chosen rate and framing. Hardware flow
// control goes off (a port left with it, and no CTS wired, stalls every write), and so
// does the hang-up on close: dropping DTR and RTS resets boards that wire them to
// RESET or the boot pins, between two openings of one session.
void sApplySettings(termios* t, uint32 baudIndex, int parity, int sevenBits, int twoStopBits) {
    t->c_cflag &= ~(CRTSCTS | HUPCL);
    t->c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | INPCK);
    t->c_oflag &= ~OPOST;
    t->c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t->c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
    t->c_cflag |= CREAD | CLOCAL | (sevenBits ? CS7 : CS8);
    if (parity) t->c_cflag |= PARENB | PARODD;
    if (parity & 1) t->c_iflag |= INPCK;
    if (twoStopBits) t->c_cflag |= CSTOPB;
    t->c_cc[VMIN] = 0;
    t->c_cc[VTIME] = 0;
    cfsetispeed(t, kSpeeds[baudIndex]);
    cfsetospeed(t, kSpeeds[baudIndex]);
}

// A name without "/" names a device in /dev.
bool sDevicePath(const char* portName, char* path) {
    const char* prefix = std::strchr(portName, '/') ? "" : "/dev/";
    int n = std::snprintf(path, aFILE_MAXPATH, "%s%s", prefix, portName);
    return n > 0 && n < aFILE_MAXPATH;
}

aErr sOpen(SerialRecord* r, const char* portName, uint32 baudIndex, int parity, int sevenBits,
           int twoStopBits) {
    char path[aFILE_MAXPATH];
    if (!sDevicePath(portName, path)) {
        errno = ENAMETOOLONG;
        return aErrIO;
    }
    r->fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (r->fd < 0) return aErrIO;
    termios settings;
    // tcgetattr refuses anything that is not a terminal device. The port is ours alone:
    // TIOCEXCL keeps other programs out, the lock other users of this library (even the
    // superuser, whom TIOCEXCL lets through).
    if (tcgetattr(r->fd, &r->previous) != 0 || flock(r->fd, LOCK_EX | LOCK_NB) != 0 ||
        ioctl(r->fd, TIOCEXCL) != 0) {
        int reason = errno;
        close(r->fd);
        errno = reason;
        return aErrIO;
    }
    settings = r->previous;
    sApplySettings(&settings, baudIndex, parity, sevenBits, twoStopBits);
    aStreamSerialGuard_Register(r->fd, &r->previous);
    if (tcsetattr(r->fd, TCSANOW, &settings) != 0) {
        int reason = errno;
        aStreamSerialGuard_Unregister(r->fd);
        ioctl(r->fd, TIOCNXCL);
        close(r->fd);
        errno = reason;
        return aErrIO;
    }
    r->rate = kRates[baudIndex];
    r->check = kSerialCheck;
    if (!aStreamWaker_Open(&r->waker)) {
        int reason = errno;
        aStreamSerialGuard_Unregister(r->fd);
        tcsetattr(r->fd, TCSANOW, &r->previous);
        ioctl(r->fd, TIOCNXCL);
        close(r->fd);
        errno = reason;
        return aErrIO;
    }
    return aErrNone;
}

} // namespace

extern "C" aErr aStream_CreateSerial(const char* portName, uint32 baudIndex, int parity, int sevenBits,
                                     int twoStopBits, aStream** stream) {
    if (!stream) return aErrParam;
    *stream = nullptr;
    if (!portName) return aErrParam;
    if (baudIndex >= kBaudCount) return aErrRange;
    if ((sevenBits != 0 && sevenBits != 1) || (twoStopBits != 0 && twoStopBits != 1)) return aErrMode;
    SerialRecord* r = new (std::nothrow) SerialRecord();
    if (!r) return aErrMemory;
    aErr err = sOpen(r, portName, baudIndex, parity, sevenBits, twoStopBits);
    if (err != aErrNone) {
        int reason = errno;
        delete r;
        errno = reason;
        return err;
    }
    *stream = aStream_Create(sGetByte, sPutByte, sWriteBuffer, sDestroy, r);
    if (!*stream) {
        sDestroy(r);
        return aErrResource;
    }
    aStream_SetAwaitInput(*stream, sAwaitInput);
    aStream_SetTryWrite(*stream, sTryWrite);
    aStream_SetInterrupt(*stream, sInterrupt);
    return aErrNone;
}
