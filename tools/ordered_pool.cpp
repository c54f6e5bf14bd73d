#include "ordered_pool.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace cli {

void RunInOrder(size_t count, unsigned threads, size_t ahead,
                const std::function<std::string(size_t)>& produce,
                const std::function<void(size_t, std::string&&)>& consume) {
    threads = std::max(1u, threads);
    ahead = std::max<size_t>(1, ahead);
    std::mutex mutex;
    std::condition_variable changed;
    size_t next = 0;      // the next item a worker takes
    size_t consumed = 0;  // items handed to consume
    // Slot i % ahead holds item i's result from when it is produced until it is consumed: an
    // item is taken only while it is fewer than `ahead` items past the first unconsumed one.
    std::vector<std::string> slots(ahead);
    std::vector<char> ready(ahead, 0);

    const auto worker = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return next >= count || next < consumed + ahead; });
            if (next >= count) return;
            const size_t item = next++;
            lock.unlock();
            std::string result = produce(item);
            lock.lock();
            slots[item % ahead] = std::move(result);
            ready[item % ahead] = 1;
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < std::min<size_t>(threads, count); ++t) workers.emplace_back(worker);
    for (size_t item = 0; item < count; ++item) {
        std::string result;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return ready[item % ahead] != 0; });
            result = std::move(slots[item % ahead]);
            slots[item % ahead] = std::string();
            ready[item % ahead] = 0;
        }
        consume(item, std::move(result));
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ++consumed;
        }
        changed.notify_all();
    }
    for (std::thread& w : workers) w.join();
}

}  // namespace cli
