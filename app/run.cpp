#include "app/run.h"

#include <cstring>

#include "base/exception.h"
#include "base/strutil.h"
#include "platform/ui.h"
#include "png/png_object.h"

namespace glx::app {

Run::Run(std::vector<std::string> args) : arguments(std::move(args)) {}

Run::~Run() = default;

FileAt fileIn(const platform::Folder& folder, const std::string& path) {
    if (!folder.valid())
        throw EFCreateError(
            formatMessage("Cannot create file \"%s\". %s", path.c_str(), std::strerror(folder.error())));
    return FileAt{folder.fd(), extractFileName(path), path};
}

int finish(Run& run, int status) {
    platform::ui().progressEnd();
    run.sharedList.clear();
    return status;
}

}  // namespace glx::app
