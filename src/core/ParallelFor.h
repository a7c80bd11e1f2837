#pragma once
// Work spread over the cores. The system may refuse a thread (std::thread's constructor throws
// std::system_error when it runs out of threads or memory): the threads that did start carry the work,
// down to the caller's thread alone, and no item is lost.
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace hexaloom {

// How a thread is started; tests pass one that refuses the way the system may.
using ThreadStart = std::function<std::thread(std::function<void()>)>;

// Threads that each run one body until it returns; joined by Join() or on destruction.
class WorkerThreads
{
public:
    WorkerThreads() = default;
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // Starts up to `count` threads running `body` and returns how many started: starting stops at the
    // first thread the system refuses.
    std::size_t Start(std::size_t count, const std::function<void()>& body, const ThreadStart& start = {});
    void Join();
    bool empty() const { return m_threads.empty(); }

private:
    std::vector<std::thread> m_threads;
};

// How many threads `items` items are worth: `limit` when it is above 0, else one per core; never more
// than the items, never fewer than one.
std::size_t ThreadsFor(std::size_t items, int limit = 0);

struct ParallelOptions
{
    int threads = 0; // threads in all, the caller's included; 0: one per core
    // Called on the caller's thread after each item it ran, with the number of items finished so far.
    std::function<void(std::size_t done)> progress = {};
    ThreadStart start = {};
};

// Runs job(i) once for every i in [0, count) on up to ThreadsFor(count, options.threads) threads, the
// caller's among them, and returns when every item is done. `job` must not throw: on a helper thread an
// exception would end the program.
void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& job, const ParallelOptions& options = {});

} // namespace hexaloom
