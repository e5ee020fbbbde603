#include "app/run.h"

#include "platform/ui.h"
#include "png/png_object.h"

namespace glx::app {

Run::Run(std::vector<std::string> args) : arguments(std::move(args)) {}

Run::~Run() = default;

int finish(Run& run, int status) {
    platform::ui().progressEnd();
    run.sharedList.clear();
    return status;
}

}  // namespace glx::app
