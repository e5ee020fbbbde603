// How the frames of a sheet are ordered and named in its data files: the
// natural order of file names, names from the file name or its stem, one
// name per picture, and animations from names that end in a number.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/options.h"

namespace glx::app {

// Natural order: runs of digits compare as numbers ("2" < "10"), other
// characters as the folder listing compares them (ASCII letter case
// ignored). Names equal this way (a01, a1) are not less either way.
bool naturalLess(const std::string& a, const std::string& b);
// Sorts into natural order; equal names keep their order.
void sortNatural(std::vector<std::string>& names);

// The frame name of a picture's file: the name itself, or without its
// extension.
std::string frameNameOf(const std::string& fileName, FrameNames mode);

// Gives every frame its own name: the first picture keeps a name, later
// ones get "~2", "~3"... appended (the first of those still free; CSS
// classes take "-" instead of "~").
class UniqueNames {
public:
    explicit UniqueNames(std::string separator = "~") : m_separator(std::move(separator)) {}
    std::string take(const std::string& name);

private:
    std::string m_separator;
    std::set<std::string> m_used;
};

// Frames whose names end in a number (after the extension is dropped):
// "walk_0", "walk-3.png", "walk7" join the animation "walk", ordered by
// their numbers. A name that is all digits, or whose prefix would be empty, joins
// none.
std::map<std::string, std::vector<std::string>> groupAnimations(const std::vector<std::string>& frameNames);

}  // namespace glx::app
