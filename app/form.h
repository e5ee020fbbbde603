// The main form: it is never shown; the whole job runs while it is created.
// It holds the run's state and the two hidden picture holders, and every
// run mode returns the process's exit status through it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/run.h"

namespace glx {
class TImage;
}

namespace glx::app {

class Tf {
public:
    explicit Tf(std::vector<std::string> arguments);
    ~Tf();
    Tf(const Tf&) = delete;
    Tf& operator=(const Tf&) = delete;

    // Grows the holder and its picture so that a w x h picture fits at
    // (x, y); never shrinks.
    void checkwh(TImage& control, int32_t x, int32_t y, int32_t w, int32_t h);
    // Grows pngCanvas so a w x h picture fits at (x, y); added area is black
    // with alpha 0. Never shrinks.
    void checkwhp(int32_t x, int32_t y, int32_t w, int32_t h);
    // Runs the whole job and gives the exit status.
    int FormCreate();
    // The error report for a failure; gives the error status.
    int aeException(const std::string& message);
    int FormActivate();
    int FormDestroy();

    Run run;
    // Hidden picture holders: i1 holds the picture being placed (or the
    // pattern), i2 the bitmap canvas of gluing (or a fragment).
    std::unique_ptr<TImage> i1;
    std::unique_ptr<TImage> i2;
};

// How an embedding program (a test, a fuzz target) wants the run made;
// the tool itself runs with the defaults.
struct AppOptions {
    // The limits and checks pictures and settings files are read under.
    ReadOptions read;
    // A broken invariant (EInternalError) aborts the process instead of
    // being reported, so that a fuzzer keeps the input.
    bool abortOnInternalError = false;
};

// Runs the application: creates the form, runs FormCreate and turns every
// way out (a finished run mode, any exception) into the exit status.
int runApplication(int argc, char** argv, const AppOptions& options = {});

}  // namespace glx::app
