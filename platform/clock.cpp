#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <random>

namespace glx::platform {

namespace {
std::mt19937& generator() {
    static std::mt19937 gen(12345);
    return gen;
}
}  // namespace

std::string timeOfDayText() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &local);
    return buf;
}

void randomize() {
    auto ticks = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    generator().seed(static_cast<uint32_t>(ticks ^ (ticks >> 32)));
}

void randomSeed(uint32_t seed) { generator().seed(seed); }

int random(int range) {
    if (range <= 1) return 0;
    std::uniform_int_distribution<int> dist(0, range - 1);
    return dist(generator());
}

}  // namespace glx::platform
