// StreamDelivery: the ring of stream samples and the thread that hands them to
// the callbacks.
#include "StreamDelivery.h"

#include <chrono>
#include <list>

namespace Veltrano::Halvorine {

namespace {

// The thread looks at its stop flag at least this often even when no wake-up comes.
constexpr auto kIdleCheck = std::chrono::milliseconds(100);

void sFree(asyncPacket& entry) {
    if (entry.packet) aPacket_Destroy(&entry.packet);
    entry = asyncPacket();
}

} // namespace

// Delivery threads that stopped themselves from a callback. Their owner may be
// gone, so they are joined by the next thread to pass by once they have
// finished, and by the program's end at the latest.
struct RetiredThreads {
    std::mutex mutex;
    std::list<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> threads;

    ~RetiredThreads() {
        for (auto& retired : threads)
            if (retired.first.joinable()) retired.first.join();
    }
};

namespace {

RetiredThreads& sRetired() {
    static RetiredThreads retired;
    return retired;
}

} // namespace

StreamDelivery::~StreamDelivery() {
    std::thread last = stop();
    if (last.joinable()) last.join();
    reapRetired();
}

StreamDelivery::Core::~Core() {
    discardPending();
}

void StreamDelivery::queue(const streamCallback& callback, void* reference, const aPacket* packet) {
    asyncPacket entry{callback, reference, aPacket_Copy(packet)};
    if (!entry.packet || !core_->ring.push(entry)) {
        sFree(entry);
        core_->drops.fetch_add(1);
        return;
    }
    core_->wake();
}

void StreamDelivery::Core::wake() {
    // Taking the lock orders the push before a sleeper's check of the ring.
    { std::lock_guard<std::mutex> lock(wakeMutex); }
    wakeup.notify_all();
}

bool StreamDelivery::running() const {
    return current_.thread.joinable();
}

void StreamDelivery::start() {
    reapRetired();
    if (running()) return;
    current_.stop = std::make_shared<std::atomic<bool>>(false);
    current_.done = std::make_shared<std::atomic<bool>>(false);
    current_.thread = std::thread(&StreamDelivery::run, core_, current_.stop, current_.done);
}

std::thread StreamDelivery::stop() {
    if (!running()) return std::thread();
    current_.stop->store(true);
    core_->wake();
    Worker worker = std::move(current_);
    current_ = Worker();
    if (worker.thread.get_id() == std::this_thread::get_id()) {
        retire(std::move(worker));
        return std::thread();
    }
    return std::move(worker.thread);
}

void StreamDelivery::retire(Worker worker) {
    RetiredThreads& retired = sRetired();
    std::lock_guard<std::mutex> lock(retired.mutex);
    retired.threads.emplace_back(std::move(worker.thread), std::move(worker.done));
}

void StreamDelivery::reapRetired() {
    std::list<std::thread> finished;
    {
        RetiredThreads& retired = sRetired();
        std::lock_guard<std::mutex> lock(retired.mutex);
        for (auto it = retired.threads.begin(); it != retired.threads.end();) {
            bool ended = it->second->load() && it->first.get_id() != std::this_thread::get_id();
            if (!ended) {
                ++it;
                continue;
            }
            finished.push_back(std::move(it->first));
            it = retired.threads.erase(it);
        }
    }
    // They have finished their last callback: each join is immediate.
    for (std::thread& thread : finished)
        thread.join();
}

void StreamDelivery::run(std::shared_ptr<Core> core, std::shared_ptr<std::atomic<bool>> stop,
                         std::shared_ptr<std::atomic<bool>> done) {
    {
        std::lock_guard<std::mutex> consuming(core->consumer);
        while (!stop->load()) {
            core->deliverAvailable(*stop);
            std::unique_lock<std::mutex> lock(core->wakeMutex);
            core->wakeup.wait_for(lock, kIdleCheck, [&] { return stop->load() || !core->ring.empty(); });
        }
        // Samples queued for subscriptions that are gone are not delivered.
        core->discardPending();
    }
    done->store(true);
}

void StreamDelivery::Core::deliverAvailable(const std::atomic<bool>& stop) {
    asyncPacket entry;
    while (!stop.load() && ring.pop(entry)) {
        entry.callback(entry.packet, entry.reference);
        sFree(entry);
    }
}

void StreamDelivery::Core::discardPending() {
    asyncPacket entry;
    while (ring.pop(entry))
        sFree(entry);
}

} // namespace Veltrano::Halvorine
