// The paste script's position lines and the settings file's colour text.
#include <string>

#include "app/paste.h"
#include "app/prompts.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    glxfuzz::guarded([&] { (void)glx::app::parsePositionLine(text); });
    glxfuzz::guarded([&] { (void)glx::app::parseColor(text); });
    return 0;
}
