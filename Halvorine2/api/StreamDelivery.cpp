// StreamDelivery: the ring of stream samples and the thread that hands them to
// the callbacks.
#include "StreamDelivery.h"

#include <chrono>

namespace Veltrano::Halvorine {

namespace {

// The thread looks at its stop flag at least this often even when no wake-up comes.
constexpr auto kIdleCheck = std::chrono::milliseconds(100);

void sFree(asyncPacket& entry) {
    if (entry.packet) aPacket_Destroy(&entry.packet);
    entry = asyncPacket();
}

} // namespace

StreamDelivery::~StreamDelivery() {
    std::thread last = stop();
    if (last.joinable()) last.join();
    for (Worker& worker : retired_)
        if (worker.thread.joinable() && worker.thread.get_id() != std::this_thread::get_id())
            worker.thread.join();
    discardPending();
}

void StreamDelivery::queue(const streamCallback& callback, void* reference, const aPacket* packet) {
    asyncPacket entry{callback, reference, aPacket_Copy(packet)};
    if (!entry.packet || !ring_.push(entry)) {
        sFree(entry);
        drops_.fetch_add(1);
        return;
    }
    wake();
}

void StreamDelivery::wake() {
    // Taking the lock orders the push before a sleeper's check of the ring.
    { std::lock_guard<std::mutex> lock(wakeMutex_); }
    wakeup_.notify_all();
}

bool StreamDelivery::running() const {
    return current_.thread.joinable();
}

void StreamDelivery::start() {
    reapFinished();
    if (running()) return;
    current_.stop = std::make_shared<std::atomic<bool>>(false);
    current_.done = std::make_shared<std::atomic<bool>>(false);
    current_.thread = std::thread(&StreamDelivery::run, this, current_.stop, current_.done);
}

std::thread StreamDelivery::stop() {
    if (!running()) return std::thread();
    current_.stop->store(true);
    wake();
    Worker worker = std::move(current_);
    current_ = Worker();
    if (worker.thread.get_id() == std::this_thread::get_id()) {
        retired_.push_back(std::move(worker));
        return std::thread();
    }
    return std::move(worker.thread);
}

void StreamDelivery::reapFinished() {
    for (auto it = retired_.begin(); it != retired_.end();) {
        if (!it->done->load()) {
            ++it;
            continue;
        }
        it->thread.join(); // it has finished its last callback: this is immediate
        it = retired_.erase(it);
    }
}

void StreamDelivery::run(std::shared_ptr<std::atomic<bool>> stop, std::shared_ptr<std::atomic<bool>> done) {
    {
        std::lock_guard<std::mutex> consuming(consumer_);
        while (!stop->load()) {
            deliverAvailable(*stop);
            std::unique_lock<std::mutex> lock(wakeMutex_);
            wakeup_.wait_for(lock, kIdleCheck, [&] { return stop->load() || !ring_.empty(); });
        }
        // Samples queued for subscriptions that are gone are not delivered.
        discardPending();
    }
    done->store(true);
}

void StreamDelivery::deliverAvailable(const std::atomic<bool>& stop) {
    asyncPacket entry;
    while (!stop.load() && ring_.pop(entry)) {
        entry.callback(entry.packet, entry.reference);
        sFree(entry);
    }
}

void StreamDelivery::discardPending() {
    asyncPacket entry;
    while (ring_.pop(entry))
        sFree(entry);
}

} // namespace Veltrano::Halvorine
