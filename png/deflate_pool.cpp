#include "png/deflate_pool.h"

#include <sched.h>

#include <system_error>

#include "base/exception.h"

namespace glx {

DeflatePool::DeflatePool(unsigned workers) : m_workers(workers < 1 ? 1 : workers) {}

DeflatePool::~DeflatePool() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        for (const auto& task : m_queue) drop(*task);
        m_queue.clear();
    }
    m_queued.notify_all();
    for (std::thread& t : m_threads) t.join();
}

void DeflatePool::startThreads() {
    // Called with m_mutex held. A thread that cannot be made leaves its share
    // of the work to the threads that wait (results are the same).
    try {
        while (m_threads.size() < m_workers) m_threads.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
    }
}

void DeflatePool::submit(const std::shared_ptr<PoolTask>& task) {
    if (m_workers <= 1) {
        if (!task->m_claimed.exchange(true)) task->run();
        std::lock_guard<std::mutex> lock(m_mutex);
        task->m_done = true;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_threads.empty()) startThreads();
        m_queue.push_back(task);
    }
    m_queued.notify_one();
}

void DeflatePool::wait(PoolTask& task) {
    if (!task.m_claimed.exchange(true)) {
        // Nobody has started it: run it here. The queue still holds it; the
        // thread that takes it finds it claimed and passes on.
        task.run();
        std::lock_guard<std::mutex> lock(m_mutex);
        task.m_done = true;
        return;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_finished.wait(lock, [&] { return task.m_done; });
}

bool DeflatePool::drop(PoolTask& task) { return !task.m_claimed.exchange(true); }

void DeflatePool::work() {
    for (;;) {
        std::shared_ptr<PoolTask> task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_queued.wait(lock, [&] { return m_stop || !m_queue.empty(); });
            if (m_stop) return;
            task = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (task->m_claimed.exchange(true)) continue;
        task->run();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            task->m_done = true;
        }
        m_finished.notify_all();
    }
}

unsigned availableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<unsigned>(n);
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

namespace {

struct SharedPool {
    std::mutex mutex;
    std::shared_ptr<DeflatePool> pool;
};

// Never destroyed: threads of the pool may still be waiting for work when
// the process ends, and a writer on another thread may still hold it.
SharedPool& sharedPoolSlot() {
    static SharedPool* slot = new SharedPool;
    return *slot;
}

// Called with slot.mutex held.
void makeDefaultPool(SharedPool& slot) {
    // Kept alive by the slot for ever (see above).
    if (!slot.pool) slot.pool = std::shared_ptr<DeflatePool>(new DeflatePool(availableCores()), [](DeflatePool*) {});
}

}  // namespace

std::shared_ptr<DeflatePool> sharedDeflatePool() {
    SharedPool& slot = sharedPoolSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    makeDefaultPool(slot);
    return slot.pool;
}

std::shared_ptr<DeflatePool> setSharedDeflatePool(std::shared_ptr<DeflatePool> pool) {
    if (!pool) throw EInternalError("no deflate pool given");
    SharedPool& slot = sharedPoolSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    makeDefaultPool(slot);
    std::swap(slot.pool, pool);
    return pool;
}

}  // namespace glx
