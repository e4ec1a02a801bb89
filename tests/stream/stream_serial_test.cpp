#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "aStream.h"
#include "aTime.h"
#include "stream_test_util.h"

namespace {

// A pseudo-terminal pair: the stream opens the slave; the test plays the device on the
// master. The test keeps a descriptor of the slave open so its settings can be read.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        path = ptsname(master);
        slave = open(path.c_str(), O_RDWR | O_NOCTTY);
        termios t;
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    ~Pty() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
    termios slaveSettings() const {
        termios t = {};
        tcgetattr(slave, &t);
        return t;
    }
    std::string receive(size_t count) {
        std::string got;
        uint32 start = aTime_GetMSTicks();
        fcntl(master, F_SETFL, O_NONBLOCK);
        while (got.size() < count && aTime_GetMSTicks() - start < 2000) {
            char buffer[256];
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) got.append(buffer, static_cast<size_t>(n));
            else aTime_MSSleep(1);
        }
        return got;
    }
};

TEST(SerialStream, CarriesRawBytesBothWays) {
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSerial(pty.path.c_str(), aSTREAM_BAUD_115200, 0, 0, 0, &s), aErrNone);
    // Line-discipline characters must pass untouched in both directions.
    const std::string special("a\r\n\x03\x11\x13\x7f\x04\0z", 10);
    EXPECT_EQ(writeText(s, special), aErrNone);
    EXPECT_EQ(pty.receive(special.size()), special);
    ASSERT_EQ(write(pty.master, special.data(), special.size()), static_cast<ssize_t>(special.size()));
    EXPECT_EQ(readPolling(s, special.size()), special);
    aStream_Destroy(&s);
}

TEST(SerialStream, QuietPortAnswersNotReadyAtOnce) {
    Pty pty;
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSerial(pty.path.c_str(), aSTREAM_BAUD_9600, 0, 0, 0, &s), aErrNone);
    uint32 start = aTime_GetMSTicks();
    uint8 byte;
    for (int i = 0; i < 100; i++) ASSERT_EQ(aStream_Read(s, &byte, 1), aErrNotReady);
    EXPECT_LT(aTime_GetMSTicks() - start, 100u);
    aStream_Destroy(&s);
}

TEST(SerialStream, HungUpLineIsAnError) {
    Pty pty;
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSerial(pty.path.c_str(), aSTREAM_BAUD_9600, 0, 0, 0, &s), aErrNone);
    close(pty.master);
    pty.master = -1;
    uint8 byte;
    EXPECT_EQ(aStream_Read(s, &byte, 1), aErrIO);
    EXPECT_EQ(writeText(s, "x"), aErrIO);
    aStream_Destroy(&s);
}

TEST(SerialStream, SettingsAppliedAndRestored) {
    struct Case {
        uint32 baud;
        int parity, sevenBits, twoStopBits;
        speed_t speed;
        tcflag_t cflags, iflags;
    } cases[] = {
        {aSTREAM_BAUD_2400, 0, 0, 0, B2400, CS8, 0},
        {aSTREAM_BAUD_9600, 1, 1, 1, B9600, CS7 | PARENB | PARODD | CSTOPB, INPCK},
        {aSTREAM_BAUD_115200, 2, 0, 0, B115200, CS8 | PARENB | PARODD, 0},
        {aSTREAM_BAUD_230400, 3, 0, 1, B230400, CS8 | PARENB | PARODD | CSTOPB, INPCK},
    };
    for (const Case& c : cases) {
        Pty pty;
        termios before = pty.slaveSettings();
        aStream* s = nullptr;
        ASSERT_EQ(aStream_CreateSerial(pty.path.c_str(), c.baud, c.parity, c.sevenBits, c.twoStopBits, &s), aErrNone);
        termios during = pty.slaveSettings();
        EXPECT_EQ(cfgetospeed(&during), c.speed) << c.baud;
        // A pseudo-terminal always keeps 8 bits without parity generation; what it
        // keeps of the framing must be what was asked for.
        EXPECT_EQ(during.c_cflag & (PARODD | CSTOPB), c.cflags & (PARODD | CSTOPB)) << c.baud;
        EXPECT_EQ(during.c_iflag & INPCK, c.iflags) << c.baud;
        EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG), 0u) << c.baud;
        EXPECT_EQ(during.c_oflag & OPOST, 0u) << c.baud;
        EXPECT_EQ(aStream_Destroy(&s), aErrNone);
        termios after = pty.slaveSettings();
        EXPECT_EQ(after.c_cflag, before.c_cflag) << c.baud;
        EXPECT_EQ(after.c_lflag, before.c_lflag) << c.baud;
        EXPECT_EQ(after.c_iflag, before.c_iflag) << c.baud;
        EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before)) << c.baud;
    }
}

TEST(SerialStream, RefusedArguments) {
    Pty pty;
    struct Case {
        const char* name;
        uint32 baud;
        int sevenBits, twoStopBits;
        aErr expected;
    } cases[] = {
        {pty.path.c_str(), 8, 0, 0, aErrRange},
        {pty.path.c_str(), 2, 0, 2, aErrMode},
        {pty.path.c_str(), 2, 2, 0, aErrMode},
        {nullptr, 2, 0, 0, aErrParam},
        {"/dev/no-such-port", 2, 0, 0, aErrIO},
        {"no-such-port", 2, 0, 0, aErrIO},
        {"/dev/null", 2, 0, 0, aErrIO}, // not a serial device
    };
    for (const Case& c : cases) {
        aStream* s = reinterpret_cast<aStream*>(&pty);
        EXPECT_EQ(aStream_CreateSerial(c.name, c.baud, 0, c.sevenBits, c.twoStopBits, &s), c.expected)
            << (c.name ? c.name : "NULL") << " " << c.baud;
        EXPECT_EQ(s, nullptr);
    }
    EXPECT_EQ(aStream_CreateSerial(pty.path.c_str(), 2, 0, 0, 0, nullptr), aErrParam);
}

TEST(SerialStream, NameWithoutSlashIsInDev) {
    // /dev/ptmx is a terminal device anyone can open: proof that "ptmx" was looked up there.
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSerial("ptmx", aSTREAM_BAUD_9600, 0, 0, 0, &s), aErrNone);
    EXPECT_EQ(aStream_Destroy(&s), aErrNone);
}

TEST(SerialStream, PortIsHeldExclusively) {
    Pty pty;
    aStream* first = nullptr;
    ASSERT_EQ(aStream_CreateSerial(pty.path.c_str(), aSTREAM_BAUD_9600, 0, 0, 0, &first), aErrNone);
    aStream* second = nullptr;
    EXPECT_EQ(aStream_CreateSerial(pty.path.c_str(), aSTREAM_BAUD_9600, 0, 0, 0, &second), aErrIO);
    EXPECT_EQ(second, nullptr);
    aStream_Destroy(&first);
    ASSERT_EQ(aStream_CreateSerial(pty.path.c_str(), aSTREAM_BAUD_9600, 0, 0, 0, &second), aErrNone);
    aStream_Destroy(&second);
}

} // namespace

namespace {

// A port left with hardware flow control stalls every write, and one that hangs up
// on close resets boards wired to DTR/RTS: both are off while the stream has it,
// and the port gets its own settings back, by destroy or by a termination signal.
TEST(SerialStream, FlowControlAndHangUpAreOffAndComeBackEvenOnATerminationSignal) {
    for (int signal : {0, SIGTERM, SIGINT}) {
        Pty pty;
        termios inherited = pty.slaveSettings();
        inherited.c_cflag |= CRTSCTS | HUPCL;
        ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &inherited), 0);
        const termios before = pty.slaveSettings();
        ASSERT_EQ(before.c_cflag & (CRTSCTS | HUPCL), tcflag_t(CRTSCTS | HUPCL)) << "the terminal keeps them";
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            aStream* s = nullptr;
            char opened =
                aStream_CreateSerial(pty.path.c_str(), aSTREAM_BAUD_115200, 0, 0, 0, &s) == aErrNone;
            (void)!write(ready[1], &opened, 1);
            if (signal == 0) {
                aStream_Destroy(&s);
                _exit(0);
            }
            aTime_MSSleep(5000); // ended by the signal
            _exit(3);
        }
        char opened = 0;
        ASSERT_EQ(read(ready[0], &opened, 1), 1);
        ASSERT_TRUE(opened);
        if (signal != 0) {
            const termios during = pty.slaveSettings();
            EXPECT_EQ(during.c_cflag & (CRTSCTS | HUPCL), 0u);
            EXPECT_EQ(cfgetospeed(&during), speed_t(B115200));
            kill(child, signal);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (signal != 0) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "the signal takes its course";
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        const termios after = pty.slaveSettings();
        EXPECT_EQ(after.c_cflag, before.c_cflag) << signal;
        EXPECT_EQ(after.c_lflag, before.c_lflag) << signal;
        EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before)) << signal;
        close(ready[0]);
        close(ready[1]);
    }
}

} // namespace
