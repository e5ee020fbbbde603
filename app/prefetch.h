// Reads the pictures of a gluing run ahead of the placement loop on a
// second thread. The loop still takes them strictly in order and sees each
// failure at the step where reading or decoding would have failed, so runs
// give the same files, atlas lines, messages and phase codes as reading
// each picture when its turn comes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/limits.h"

namespace glx {
class TGraphic;
}

namespace glx::app {

struct PrefetchedPicture {
    std::unique_ptr<TGraphic> graphic;  // null when loading failed
    std::exception_ptr loadError;  // raised where the file is loaded
    std::exception_ptr decodeError;  // raised where the pixels are first needed
};

class Prefetcher {
public:
    // rgba: ".png" names are read as PNG image objects (the RGBA path);
    // every other name goes through the picture container.
    // Every picture is read under options.
    Prefetcher(std::vector<std::string> names, bool rgba, const ReadOptions& options);
    ~Prefetcher();
    Prefetcher(const Prefetcher&) = delete;
    Prefetcher& operator=(const Prefetcher&) = delete;

    // The next picture in order; waits until it has been read.
    PrefetchedPicture next();

private:
    void work();

    std::vector<std::string> m_names;
    bool m_rgba;
    ReadOptions m_options;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<PrefetchedPicture> m_ready;
    uint64_t m_readyBytes = 0;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace glx::app
