// The numbers of a reference file in order (the picture suites' flat JSON
// arrays of samples).
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace glxtest {

inline std::vector<uint32_t> readNumbers(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint32_t> out;
    uint32_t value = 0;
    bool inNumber = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + uint32_t(c - '0');
            inNumber = true;
        } else if (inNumber) {
            out.push_back(value);
            value = 0;
            inNumber = false;
        }
    }
    if (inNumber) out.push_back(value);
    return out;
}

}  // namespace glxtest
