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

// Delivery threads whose own callback destroyed their StreamDelivery. Nothing
// else knows them: the next delivery to start or end joins them once they have
// finished, and the program's end at the latest.
struct OrphanThreads {
    std::mutex mutex;
    std::list<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> threads;
};

// Joins the orphans the program still has when its statics go. Any left after
// that (a Link of static storage ending later) stay in the list, which is never
// destroyed, and end with the process.
struct JoinAtProgramEnd {
    OrphanThreads* orphans;
    ~JoinAtProgramEnd() {
        std::list<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> ending;
        {
            std::lock_guard<std::mutex> lock(orphans->mutex);
            ending.splice(ending.end(), orphans->threads);
        }
        for (auto& orphan : ending) {
            if (orphan.first.get_id() == std::this_thread::get_id())
                adopt(std::move(orphan));
            else
                orphan.first.join();
        }
    }
    void adopt(std::pair<std::thread, std::shared_ptr<std::atomic<bool>>> orphan) {
        std::lock_guard<std::mutex> lock(orphans->mutex);
        orphans->threads.push_back(std::move(orphan));
    }
};

// Never destroyed: a Link of static storage may still use it after the
// program's own statics went.
OrphanThreads& sOrphans() {
    static OrphanThreads* orphans = new OrphanThreads;
    static JoinAtProgramEnd join{orphans};
    return *orphans;
}

} // namespace

StreamDelivery::~StreamDelivery() {
    std::thread last = stop();
    if (last.joinable()) last.join();
    // A thread that stopped itself may still be in its callback: it is waited
    // for, unless this is that callback destroying the Link.
    for (Worker& worker : retired_) {
        if (worker.thread.get_id() == std::this_thread::get_id())
            adoptOrphan(std::move(worker));
        else
            worker.thread.join();
    }
    reapOrphans();
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
    reapFinished();
    reapOrphans();
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

void StreamDelivery::adoptOrphan(Worker worker) {
    OrphanThreads& orphans = sOrphans();
    std::lock_guard<std::mutex> lock(orphans.mutex);
    orphans.threads.emplace_back(std::move(worker.thread), std::move(worker.done));
}

void StreamDelivery::reapOrphans() {
    std::list<std::thread> finished;
    {
        OrphanThreads& orphans = sOrphans();
        std::lock_guard<std::mutex> lock(orphans.mutex);
        for (auto it = orphans.threads.begin(); it != orphans.threads.end();) {
            if (!it->second->load()) {
                ++it;
                continue;
            }
            finished.push_back(std::move(it->first));
            it = orphans.threads.erase(it);
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
