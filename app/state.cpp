#include "app/state.h"

#include "platform/ui.h"
#include "png/png_object.h"


namespace glx::app {

uint16_t phase = 0;
bool silent = false;
std::string picPath;
std::unique_ptr<TStringList> sharedList;
TColor bgColor = clWhite;
std::unique_ptr<TPNGObject> pngCanvas;
std::unique_ptr<TPNGObject> pngFragment;
uint16_t patternCount = 0;
std::string xmlPath;
bool pasteFound = false;

void finish(int status) {
    platform::ui().progressEnd();
    sharedList.reset();
    throw FinishSignal{status};
}

}  // namespace glx::app
