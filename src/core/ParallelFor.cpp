#include "ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>

namespace hexaloom {

WorkerThreads::~WorkerThreads()
{
    Join();
}

std::size_t WorkerThreads::Start(std::size_t count, const std::function<void()>& body, const ThreadStart& start)
{
    const std::size_t before = m_threads.size();
    try {
        m_threads.reserve(before + count);
        for (std::size_t i = 0; i < count; ++i)
            m_threads.push_back(start ? start(body) : std::thread(body));
    } catch (const std::system_error&) {
        // No more threads to be had: the ones started do the work.
    } catch (const std::bad_alloc&) {
    }
    return m_threads.size() - before;
}

void WorkerThreads::Join()
{
    for (std::thread& thread : m_threads)
        if (thread.joinable())
            thread.join();
    m_threads.clear();
}

std::size_t ThreadsFor(std::size_t items, int limit)
{
    const std::size_t wanted = limit > 0 ? std::size_t(limit) : std::max(1u, std::thread::hardware_concurrency());
    return std::max<std::size_t>(1, std::min(wanted, items));
}

void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& job, const ParallelOptions& options)
{
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    auto loop = [&](bool caller) {
        for (std::size_t i = next++; i < count; i = next++) {
            job(i);
            const std::size_t finished = ++done;
            if (caller && options.progress)
                options.progress(finished);
        }
    };
    WorkerThreads helpers;
    helpers.Start(ThreadsFor(count, options.threads) - 1, [&] { loop(false); }, options.start);
    // The caller takes items too, so that with no helper at all every item is still done.
    loop(true);
    helpers.Join();
}

} // namespace hexaloom
