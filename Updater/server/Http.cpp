#include "Http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <new>
#include <stdexcept>

#include "LargeBuffer.h"
#include "UpdaterLog.h"

namespace {

// What the write callback needs: the record it fills and the transfer, whose
// announced length sizes the body once; and why it refused a chunk, when an
// exception stopped it.
struct Receiver {
    Http::Reply* reply;
    CURL* handle;
    size_t maxBodyBytes;
    char failure[128];
};

// Appends a chunk to the reply body; the whole chunk is always taken.
size_t receive(Receiver* receiver, const char* data, size_t size, size_t count) {
    Http::Reply* reply = receiver->reply;
    const size_t length = size * count;
    // Refusing the chunk makes libcurl end the transfer with a write error.
    if (length > receiver->maxBodyBytes - reply->body.size()) return 0;
    if (reply->body.empty()) {
        curl_off_t announced = -1;
        // Builds run to megabytes: one allocation instead of repeated growth.
        if (curl_easy_getinfo(receiver->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
            announced > 0 && static_cast<size_t>(announced) <= receiver->maxBodyBytes) {
            reply->body.reserve(static_cast<size_t>(announced));
            adviseLargeBuffer(&reply->body[0], reply->body.capacity());
        }
    }
    // The chunk is not NUL-terminated: never show more of it than arrived.
    const int shown = static_cast<int>(std::min<size_t>(length, 100));
    updaterLog(DEBUG_ServerComm, "rcv_data called (..., %d, %d, %08X) [%100.*s]\n", static_cast<int>(size),
               static_cast<int>(count), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(reply)), shown,
               data);
    reply->body.append(data, length);
    updaterLog(DEBUG_ServerComm, "rcv_data returns %d\n", static_cast<int>(length));
    return length;
}

// libcurl's write callback. No exception may cross libcurl's C code: one that stops
// the chunk (memory for the body running out) ends the transfer, and get() then
// raises its text.
size_t rcv_data(char* data, size_t size, size_t count, void* userData) {
    Receiver* receiver = static_cast<Receiver*>(userData);
    try {
        return receive(receiver, data, size, count);
    } catch (const std::bad_alloc&) {
        snprintf(receiver->failure, sizeof receiver->failure, "%s", curl_easy_strerror(CURLE_OUT_OF_MEMORY));
    } catch (const std::length_error&) {
        // A body longer than any string can hold: no memory would do either.
        snprintf(receiver->failure, sizeof receiver->failure, "%s", curl_easy_strerror(CURLE_OUT_OF_MEMORY));
    } catch (const std::exception& error) {
        snprintf(receiver->failure, sizeof receiver->failure, "%s", error.what());
    } catch (...) {
        snprintf(receiver->failure, sizeof receiver->failure, "%s", curl_easy_strerror(CURLE_WRITE_ERROR));
    }
    return 0;
}

// Owns one easy handle; any failing libcurl call releases it and raises the
// library's text for the result.
class EasyHandle {
  public:
    EasyHandle() {
        static std::once_flag globalInit;
        std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        handle_ = curl_easy_init();
        if (!handle_) throw std::runtime_error("Could not create curl instance");
    }
    ~EasyHandle() { curl_easy_cleanup(handle_); }
    EasyHandle(const EasyHandle&) = delete;
    EasyHandle& operator=(const EasyHandle&) = delete;

    template <typename T> void set(CURLoption option, T value) {
        check(curl_easy_setopt(handle_, option, value));
    }
    CURL* handle() const { return handle_; }
    // A transfer the write callback stopped fails with the callback's reason.
    void perform(const Receiver& receiver) {
        const CURLcode result = curl_easy_perform(handle_);
        if (result != CURLE_OK && receiver.failure[0] != '\0') throw std::runtime_error(receiver.failure);
        check(result);
    }
    long responseCode() {
        long code = 0;
        check(curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &code));
        return code;
    }

  private:
    static void check(CURLcode result) {
        if (result != CURLE_OK) throw std::runtime_error(curl_easy_strerror(result));
    }
    CURL* handle_;
};

} // namespace

namespace Http {

std::string requestUrl(const std::string& baseUrl, const Parameters& parameters) {
    std::string url = baseUrl;
    if (!parameters.empty()) url += '?';
    for (const auto& pair : parameters) {
        url += pair.first;
        url += '=';
        url += pair.second;
        url += '&';
    }
    return url;
}

Reply get(const char* baseUrl, const Parameters& parameters, const Limits& limits) {
    Reply reply;
    reply.url = requestUrl(baseUrl ? baseUrl : "", parameters);
    EasyHandle curl;
    curl.set(CURLOPT_WRITEFUNCTION, rcv_data);
    Receiver receiver{&reply, curl.handle(), limits.maxBodyBytes, ""};
    curl.set(CURLOPT_WRITEDATA, static_cast<void*>(&receiver));
    curl.set(CURLOPT_URL, reply.url.c_str());
    // An update server speaks HTTP: a -u of file:// or another scheme must not
    // make libcurl read local files or talk other protocols.
    curl.set(CURLOPT_PROTOCOLS_STR, "http,https");
    // Firmware must come from the server it claims to come from.
    curl.set(CURLOPT_SSL_VERIFYHOST, 2L);
    curl.set(CURLOPT_SSL_VERIFYPEER, 1L);
    curl.set(CURLOPT_SSL_VERIFYSTATUS, 0L);
    // No request may hang: bounded connect, and a stalled transfer is abandoned.
    // No signals, so the time-outs are safe on the download worker thread.
    curl.set(CURLOPT_NOSIGNAL, 1L);
    // Builds run to megabytes: take them in large pieces.
    curl.set(CURLOPT_BUFFERSIZE, 256L * 1024);
    curl.set(CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
    curl.set(CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
    curl.set(CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    curl.set(CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
    updaterLog(DEBUG_ServerComm, "GET(%s)\n", reply.url.c_str());
    curl.perform(receiver);
    reply.status = static_cast<int>(curl.responseCode());
    return reply;
}

} // namespace Http
