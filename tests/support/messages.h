// The message a step raises, for tests that compare refusals by their text.
#pragma once

#include <functional>
#include <string>

#include "base/exception.h"

namespace glxtest {

// What f raised as a project exception, "(no exception)" when it ran through.
inline std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const glx::Exception& e) {
        return e.what();
    }
    return "(no exception)";
}

}  // namespace glxtest
