// Work in jobs split into parts, produced on worker threads and handed on in order: the one
// threading mechanism of the analyser. A job is a file, opened (loaded, decoded) on a worker and
// then split into batches of windows that any worker analyses; the calling thread prints every
// batch in order, job by job. One long file and many short ones keep all workers busy alike.
#pragma once
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace cli {

// What opening a job gives: its parts 0 .. parts - 1 and what produces each. produce runs on the
// workers, several parts at once, and must not throw; it is dropped once its last part is taken,
// so whatever it holds (the loaded sound) goes with the last part produced.
template <class Result>
struct OpenedJob {
    size_t parts = 1;                                             // at least 1
    std::function<Result(size_t part, unsigned worker)> produce;  // worker: 0 .. threads - 1
};

// Runs open(j) for j = 0 .. jobs - 1 and then every part of job j on `threads` worker threads
// (at least 1), and calls consume(j, result) on the calling thread for each part in order: job
// by job, each job's parts in increasing order. Workers take the earliest part there is, and
// open the next job only when no opened job has a part left. At most `ahead` (at least 1) parts
// of the job being consumed and `ahead` of later jobs are produced or wait at any time, so
// memory stays bounded however many jobs or parts; the job being consumed is never kept waiting
// for later ones. open must not throw.
template <class Result>
void RunJobsInOrder(size_t jobs, unsigned threads, size_t ahead,
                    const std::function<OpenedJob<Result>(size_t job)>& open,
                    const std::function<void(size_t job, Result&&)>& consume) {
    struct Job {
        bool opened = false;
        size_t parts = 1, taken = 1;  // part 0 is taken with the opening
        size_t inFlight = 1;          // parts taken and not yet consumed
        std::function<Result(size_t, unsigned)> produce;
        std::map<size_t, Result> done;  // produced parts waiting to be consumed
    };
    threads = std::max(1u, threads);
    ahead = std::max<size_t>(1, ahead);
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Job> pending;  // jobs first .. nextJob - 1: opening, or not wholly consumed
    size_t first = 0, nextJob = 0;
    size_t inFlight = 0;  // over all pending jobs

    // Under the lock: takes the earliest part or job there is room for. Returns false when
    // nothing can be taken now; sets `finished` when nothing ever will be.
    const auto take = [&](size_t& job, size_t& part, bool& finished) {
        finished = nextJob == jobs;
        const size_t frontInFlight = pending.empty() ? 0 : pending.front().inFlight;
        for (size_t d = 0; d < pending.size(); ++d) {
            Job& j = pending[d];
            if (!j.opened || j.taken < j.parts) finished = false;
            const bool room = d == 0 ? j.inFlight < ahead : inFlight - frontInFlight < ahead;
            if (!j.opened || j.taken == j.parts || !room) continue;
            job = first + d, part = j.taken++;
            ++j.inFlight, ++inFlight;
            return true;
        }
        if (nextJob == jobs || (!pending.empty() && inFlight - frontInFlight >= ahead))
            return false;
        job = nextJob++, part = 0;
        pending.emplace_back();
        ++inFlight;
        return true;
    };
    const auto worker = [&](unsigned id) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            size_t job = 0, part = 0;
            bool taken = false, finished = false;
            changed.wait(lock, [&] { return (taken = take(job, part, finished)) || finished; });
            if (!taken) return;
            std::function<Result(size_t, unsigned)> produce;
            if (part == 0) {
                lock.unlock();
                OpenedJob<Result> opened = open(job);
                lock.lock();
                Job& j = pending[job - first];
                j.opened = true;
                j.parts = std::max<size_t>(1, opened.parts);
                produce = opened.produce;
                if (j.parts > 1) j.produce = std::move(opened.produce);
                changed.notify_all();  // the other parts can be taken now
            } else {
                Job& j = pending[job - first];
                produce = j.produce;
                if (j.taken == j.parts) j.produce = nullptr;
            }
            lock.unlock();
            Result result = produce(part, id);
            produce = nullptr;
            lock.lock();
            pending[job - first].done.emplace(part, std::move(result));
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) workers.emplace_back(worker, t);
    for (size_t job = 0; job < jobs; ++job) {
        for (size_t part = 0;; ++part) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock,
                         [&] { return !pending.empty() && pending.front().done.count(part); });
            Job& j = pending.front();
            Result result = std::move(j.done.at(part));
            j.done.erase(part);
            lock.unlock();
            consume(job, std::move(result));
            lock.lock();
            --j.inFlight, --inFlight;
            const bool last = part + 1 == j.parts;
            if (last) pending.pop_front(), ++first;
            changed.notify_all();
            if (last) break;
        }
    }
    for (std::thread& w : workers) w.join();
}

}  // namespace cli
