// A small pool of threads that deflates pieces of image data. Whoever waits
// for a task that no thread has started yet runs it on its own thread, so a
// waiting writer helps instead of idling, and a pool without threads runs
// every task at once where it is submitted. Which thread runs a task never
// changes what the task computes: results depend only on its input.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace glx {

class PoolTask {
public:
    virtual ~PoolTask() = default;

protected:
    PoolTask() = default;
    // Must not throw: a task keeps its own failure for whoever waits on it.
    virtual void run() noexcept = 0;

private:
    friend class DeflatePool;
    std::atomic<bool> m_claimed{false};  // started, or dropped before it started
    bool m_done = false;  // guarded by the pool's mutex
};

class DeflatePool {
public:
    // workers <= 1: no threads, every task runs inside submit(). Threads are
    // started on the first task that needs them.
    explicit DeflatePool(unsigned workers);
    // Finishes the task each thread is on, drops the queued ones.
    ~DeflatePool();
    DeflatePool(const DeflatePool&) = delete;
    DeflatePool& operator=(const DeflatePool&) = delete;

    unsigned workers() const { return m_workers; }
    void submit(const std::shared_ptr<PoolTask>& task);
    // Returns once task has run (here, when no thread had started it).
    void wait(PoolTask& task);
    // The task will not start any more; one already running finishes on its
    // own (a task owns everything it touches). True when it had not
    // started, so it never runs and nothing need wait for it.
    static bool drop(PoolTask& task);

private:
    void startThreads();
    void work();

    unsigned m_workers;
    std::mutex m_mutex;
    std::condition_variable m_queued;
    std::condition_variable m_finished;
    std::deque<std::shared_ptr<PoolTask>> m_queue;
    std::vector<std::thread> m_threads;
    bool m_stop = false;
};

// Processor cores this process may run on (its affinity mask where the
// system tells it, else the machine's count), at least 1.
unsigned availableCores();

// The pool every image writer uses: availableCores() workers, made on first
// use and kept for the life of the process.
std::shared_ptr<DeflatePool> sharedDeflatePool();
// Replaces the shared pool (tests compare worker counts with it); writers
// already running keep the pool they started with. Returns the previous one.
std::shared_ptr<DeflatePool> setSharedDeflatePool(std::shared_ptr<DeflatePool> pool);

}  // namespace glx
