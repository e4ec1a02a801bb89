// A transport whose reader follows a script of bytes and failures, and whose writers
// record what they were given; for testing the stream logic above the transports.
#ifndef TESTS_STREAM_SCRIPTED_TRANSPORT_H
#define TESTS_STREAM_SCRIPTED_TRANSPORT_H

#include "aStream.h"

#include <deque>
#include <string>
#include <vector>

class ScriptedTransport {
  public:
    // Each step is a byte, or a failure when it is not in 0..255 (then -step is the aErr).
    void queueBytes(const std::string& bytes) {
        for (unsigned char c : bytes) steps_.push_back(c);
    }
    void queueFailure(aErr err) { steps_.push_back(-err); }
    // What the reader answers once the script has run out.
    void setIdle(aErr err) { idle_ = err; }
    // Let the n-th writer call (counting from 0) answer err.
    void failWriteCall(int n, aErr err) {
        failCall_ = n;
        failErr_ = err;
    }

    size_t pendingSteps() const { return steps_.size(); }
    const std::string& written() const { return written_; }
    int putByteCalls = 0;
    int writeBufferCalls = 0;
    int destroyCalls = 0;
    aErr destroyResult = aErrNone;

    // A stream over this transport with the chosen operations (the transport outlives it).
    aStream* stream(bool reader = true, bool byteWriter = true, bool bufferWriter = true) {
        return aStream_Create(reader ? sGetByte : nullptr, byteWriter ? sPutByte : nullptr,
                              bufferWriter ? sWriteBuffer : nullptr, sDestroy, this);
    }

  private:
    static aErr sGetByte(uint8* byte, void* ref) {
        auto* t = static_cast<ScriptedTransport*>(ref);
        if (t->steps_.empty()) return t->idle_;
        int step = t->steps_.front();
        t->steps_.pop_front();
        if (step < 0) return -step;
        *byte = static_cast<uint8>(step);
        return aErrNone;
    }
    aErr record(const uint8* bytes, uint32 count) {
        if (calls_++ == failCall_) return failErr_;
        written_.append(reinterpret_cast<const char*>(bytes), count);
        return aErrNone;
    }
    static aErr sPutByte(const uint8* byte, void* ref) {
        auto* t = static_cast<ScriptedTransport*>(ref);
        t->putByteCalls++;
        return t->record(byte, 1);
    }
    static aErr sWriteBuffer(const uint8* bytes, uint32 count, void* ref) {
        auto* t = static_cast<ScriptedTransport*>(ref);
        t->writeBufferCalls++;
        return t->record(bytes, count);
    }
    static aErr sDestroy(void* ref) {
        auto* t = static_cast<ScriptedTransport*>(ref);
        t->destroyCalls++;
        return t->destroyResult;
    }

    std::deque<int> steps_;
    aErr idle_ = aErrNotReady;
    std::string written_;
    int calls_ = 0;
    int failCall_ = -1;
    aErr failErr_ = aErrNone;
};

#endif
