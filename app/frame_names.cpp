#include "app/frame_names.h"

#include <algorithm>

#include "base/strutil.h"

namespace glx::app {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
unsigned char folded(char c) { return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); }

// -1, 0 or 1 as a orders before, with or after b.
int naturalCompare(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Leading zeros do not count; then the longer run is larger,
            // and runs of one length compare digit by digit.
            while (i < a.size() && a[i] == '0') ++i;
            while (j < b.size() && b[j] == '0') ++j;
            size_t ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei])) ++ei;
            while (ej < b.size() && isDigit(b[ej])) ++ej;
            if (ei - i != ej - j) return ei - i < ej - j ? -1 : 1;
            for (; i < ei; ++i, ++j)
                if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
            continue;
        }
        const unsigned char ca = folded(a[i]), cb = folded(b[j]);
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

}  // namespace

bool naturalLess(const std::string& a, const std::string& b) { return naturalCompare(a, b) < 0; }

void sortNatural(std::vector<std::string>& names) { std::stable_sort(names.begin(), names.end(), naturalLess); }

std::string frameNameOf(const std::string& fileName, FrameNames mode) {
    if (mode == FrameNames::FileName) return fileName;
    const std::string ext = extractFileExt(fileName);
    // A name that is all extension (".png") keeps it, so no frame is nameless.
    return ext.size() < fileName.size() ? fileName.substr(0, fileName.size() - ext.size()) : fileName;
}

std::string UniqueNames::take(const std::string& name) {
    std::string unique = name;
    for (unsigned n = 2; !m_used.insert(unique).second; ++n) unique = name + m_separator + std::to_string(n);
    return unique;
}

std::map<std::string, std::vector<std::string>> groupAnimations(const std::vector<std::string>& frameNames) {
    struct Member {
        std::string number, stem, name;  // number: the final digits without leading zeros
    };
    std::map<std::string, std::vector<Member>> groups;
    for (const auto& name : frameNames) {
        const std::string ext = extractFileExt(name);
        const bool digitsAfterDot = ext.size() > 1 && std::all_of(ext.begin() + 1, ext.end(), isDigit);
        const std::string stem = digitsAfterDot ? name : frameNameOf(name, FrameNames::Stem);
        size_t digits = stem.size();
        while (digits > 0 && isDigit(stem[digits - 1])) --digits;
        if (digits == stem.size()) continue;  // no number at the end
        size_t end = digits;
        while (end > 0 &&
               (stem[end - 1] == '_' || stem[end - 1] == '-' || stem[end - 1] == '.' || stem[end - 1] == ' '))
            --end;
        if (end == 0) continue;
        std::string number = stem.substr(digits);
        number.erase(0, std::min(number.find_first_not_of('0'), number.size()));
        groups[stem.substr(0, end)].push_back(Member{std::move(number), stem, name});
    }
    std::map<std::string, std::vector<std::string>> animations;
    for (auto& [key, members] : groups) {
        std::stable_sort(members.begin(), members.end(), [](const Member& a, const Member& b) {
            if (a.number.size() != b.number.size()) return a.number.size() < b.number.size();
            if (a.number != b.number) return a.number < b.number;
            return naturalLess(a.stem, b.stem);
        });
        auto& list = animations[key];
        for (auto& m : members) list.push_back(std::move(m.name));
    }
    return animations;
}

}  // namespace glx::app
