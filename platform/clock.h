// Local time of day and the seeded pseudo-random generator.
#pragma once

#include <cstdint>
#include <string>

namespace glx::platform {

// The local time of day in the long time format, "HH:MM:SS".
std::string timeOfDayText();
// Seeds the generator from the clock.
void randomize();
void randomSeed(uint32_t seed);
// Uniform integer 0 .. range - 1.
int random(int range);

}  // namespace glx::platform
