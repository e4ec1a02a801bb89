// The chip's end of a serial line, on a pseudo-terminal: the host opens path() as
// its serial port. A boot ROM emulator reads the host's bytes through the receiver
// and answers with send().
//
// Paced, the line carries what a real UART does: 10 bits a byte (start, 8 data,
// stop) at the rate the host set its port to, in each direction on its own, so a
// host that writes faster than the line fills the terminal's buffer and waits, and
// a reply takes the time its bytes take. Unpaced, bytes move at once.
//
// The receiver learns the host's rate with each byte, so an auto-bauding chip can
// tell when the host talks at another rate than it locked onto.
//
// A chip busy with its flash reads nothing: holdReceiver keeps the host's bytes in
// a 16-byte receive FIFO, as a UART's is, and loses the rest as overruns, said on
// standard error and counted, since a host that talks to a busy chip is at fault.
//
// Threads: the line runs one thread of its own, which calls the receiver. send(),
// discardOutput() and the observers may be called from any thread, the receiver
// included.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace Veltrano::Sim {

class SerialLine {
  public:
    // One byte from the host, and the rate (bits per second) its port was set to
    // when the byte arrived (0 when the rate is not a standard one).
    using Receiver = std::function<void(uint8_t byte, uint32_t hostBaud)>;

    struct Settings {
        bool paced = false;
    };

    // Throws std::runtime_error when no pseudo-terminal can be made.
    SerialLine(Receiver receiver, Settings settings);
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    const std::string& path() const { return path_; }

    // Queues bytes for the host; they go out in order, paced when the line is.
    void send(const uint8_t* bytes, size_t count);
    void send(const std::string& text);
    // Forgets what is queued and not yet sent (a chip that resets mid-reply).
    void discardOutput();
    // The rate the host's port is set to now, in bits per second (0: unknown).
    uint32_t hostBaud() const;
    // From the receiver only: the chip is busy for ms from now, then sends after
    // and reads what its receive FIFO kept.
    void holdReceiver(uint32_t ms, const std::string& after);

    uint64_t bytesReceived() const { return received_; }
    // Host bytes lost because they reached a busy chip whose FIFO was full.
    uint64_t overruns() const { return overruns_; }
    uint64_t bytesSent() const { return sent_; }

    // Ends the line's thread; the terminal is closed. Idempotent.
    void stop();

  private:
    void run();
    // Ends a hold whose time is over: its reply goes out, the FIFO is read.
    void releaseHold(std::chrono::steady_clock::time_point now, uint32_t baud);
    void deliver(uint8_t byte, uint32_t baud);

    Receiver receiver_;
    Settings settings_;
    int masterFd_ = -1;
    int slaveFd_ = -1;
    int wakeFd_ = -1;
    std::string path_;
    mutable std::mutex mutex_;
    std::deque<uint8_t> output_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> received_{0};
    std::atomic<uint64_t> sent_{0};
    std::atomic<uint64_t> overruns_{0};
    // The hold, touched by the line's thread only.
    bool held_ = false;
    std::chrono::steady_clock::time_point heldUntil_;
    std::string afterHold_;
    std::deque<uint8_t> fifo_;
    std::thread thread_;
};

} // namespace Veltrano::Sim
