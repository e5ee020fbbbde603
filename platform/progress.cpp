#include "platform/progress.h"

#include <chrono>

namespace glx::platform {

bool ProgressGate::due(double now, int done, int total) {
    if (!started_) {
        started_ = true;
        start_ = now;
        last_ = now;
    }
    if (!shown_) {
        if (now - start_ < delay_) return false;
        shown_ = true;
        last_ = now;
        return true;
    }
    if (done >= total || now - last_ >= interval_) {
        last_ = now;
        return true;
    }
    return false;
}

void ProgressGate::reset() {
    started_ = false;
    shown_ = false;
}

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string progressText(int done, int total, const std::string& name, int width) {
    std::string text = std::to_string(done) + "/" + std::to_string(total);
    if (!name.empty()) text += " " + name;
    const size_t counter = std::to_string(done).size() + 1 + std::to_string(total).size();
    size_t limit = width > 0 ? static_cast<size_t>(width) : 0;
    if (limit < counter) limit = counter;
    if (text.size() <= limit) return text;
    size_t cut = limit;
    // Never split a multi-byte character: step back over continuation bytes.
    while (cut > counter && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace glx::platform
