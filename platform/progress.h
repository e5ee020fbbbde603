// When and how the progress of a long loop is shown. Short runs show
// nothing; long runs redraw at a limited rate so the loop stays cheap.
#pragma once

#include <string>

namespace glx::platform {

// Decides which progress calls are drawn. Times are seconds on any
// monotonic clock; the first call of a run starts the run's clock.
class ProgressGate {
public:
    ProgressGate(double delay, double interval) : delay_(delay), interval_(interval) {}
    // True when this call should redraw: the run has lasted at least the
    // delay and the last redraw is at least the interval ago. The last item
    // (done == total) is always drawn once shown, so the line ends complete.
    bool due(double now, int done, int total);
    bool shown() const { return shown_; }
    // A new run starts with the next call.
    void reset();

private:
    double delay_;
    double interval_;
    bool started_ = false;
    bool shown_ = false;
    double start_ = 0;
    double last_ = 0;
};

// Seconds on the monotonic clock.
double monotonicSeconds();

// "done/total name", cut to at most width bytes, never inside a UTF-8
// character (so it never takes more columns than that); the counter is
// always kept whole.
std::string progressText(int done, int total, const std::string& name, int width);

}  // namespace glx::platform
