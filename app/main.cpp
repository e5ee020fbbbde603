// Glumixer: glues the pictures of a folder into one sprite sheet, pastes
// fragments into a pattern picture, or exports the frames of a GIF.
#include "app/form.h"

int main(int argc, char** argv) { return glx::app::runApplication(argc, argv); }
