#include "app/options.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>

#include "app/prompts.h"
#include "app/run.h"
#include "base/exception.h"
#include "base/line_reader.h"
#include "base/strutil.h"
#include "platform/fs.h"

namespace glx::app {

namespace {

using Value = std::optional<std::string>;

// A flag: given alone or with a yes/no value.
std::optional<bool> readFlag(const Value& value) {
    if (!value) return true;
    const std::string v = lowerCaseAscii(*value);
    if (v == "yes" || v == "true" || v == "on" || v == "1") return true;
    if (v == "no" || v == "false" || v == "off" || v == "0") return false;
    return std::nullopt;
}

// A whole decimal number from low to high, nothing else.
std::optional<int32_t> readCount(const Value& value, int32_t low, int32_t high) {
    if (!value || value->empty()) return std::nullopt;
    int32_t n = 0;
    const char* end = value->data() + value->size();
    const auto [ptr, ec] = std::from_chars(value->data(), end, n);
    if (ec != std::errc() || ptr != end || n < low || n > high) return std::nullopt;
    return n;
}

// One of the words, in the order of the list.
template <typename E>
std::optional<E> readWord(const Value& value, std::initializer_list<std::pair<const char*, E>> words) {
    if (!value) return std::nullopt;
    for (const auto& [word, e] : words)
        if (*value == word) return e;
    return std::nullopt;
}

constexpr std::pair<const char*, AtlasFormat> kFormats[] = {{"json", AtlasFormat::Json},
                                                            {"json-array", AtlasFormat::JsonArray},
                                                            {"godot", AtlasFormat::Godot},
                                                            {"libgdx", AtlasFormat::LibGdx},
                                                            {"css", AtlasFormat::Css}};

bool applyAtlas(Options& o, const Value& value) {
    if (!value || value->empty()) return false;
    std::vector<AtlasFormat> formats;
    size_t start = 0;
    while (start <= value->size()) {
        size_t comma = value->find(',', start);
        if (comma == std::string::npos) comma = value->size();
        const std::string word = value->substr(start, comma - start);
        const auto* found =
            std::find_if(std::begin(kFormats), std::end(kFormats), [&](const auto& f) { return word == f.first; });
        if (found == std::end(kFormats)) return false;
        if (std::find(formats.begin(), formats.end(), found->second) == formats.end()) formats.push_back(found->second);
        start = comma + 1;
    }
    o.atlas = std::move(formats);
    return true;
}

template <typename T>
bool store(std::optional<T> read, T& field) {
    if (!read) return false;
    field = *read;
    return true;
}

constexpr int32_t kMaxGap = 4096;  // padding, border, extrude
constexpr int32_t kMaxSheetSide = 16384;

struct OptionSpec {
    const char* key;
    const char* syntax;  // after "--key" in the help
    const char* help;  // one line
    const char* accepted;  // what the message names after a bad value
    bool (*apply)(Options&, const Value&);
};

const OptionSpec kOptions[] = {
    {"atlas", "=FORMAT[,FORMAT...]", "data files beside the sheet, named by its stem",
     "formats: json, json-array, godot, libgdx, css", applyAtlas},
    {"names", "=file|stem", "frame names: the file name, or without its extension", "names: file, stem",
     [](Options& o, const Value& v) {
         if (!store(readWord<FrameNames>(v, {{"file", FrameNames::FileName}, {"stem", FrameNames::Stem}}), o.names))
             return false;
         o.namesGiven = true;
         return true;
     }},
    {"sort", "=alphabetical|natural", "glue order; natural reads digit runs as numbers (2 before 10)",
     "orders: alphabetical, natural",
     [](Options& o, const Value& v) {
         return store(
             readWord<SortOrder>(v, {{"alphabetical", SortOrder::Alphabetical}, {"natural", SortOrder::Natural}}),
             o.sort);
     }},
    {"patterns", "=PATH|none", "write \"patterns.xml\" there instead, or none", "a file path or none",
     [](Options& o, const Value& v) {
         if (!v || v->empty()) return false;
         o.patternsNone = *v == "none";
         o.patternsPath = o.patternsNone ? std::string() : *v;
         return true;
     }},
    {"newline", "=crlf|lf", "line ends of the text files the run writes", "line ends: crlf, lf",
     [](Options& o, const Value& v) {
         return store(readWord<bool>(v, {{"crlf", false}, {"lf", true}}), o.newlineLf);
     }},
    {"animations", "", "names ending in a number grouped into animations", "yes or no",
     [](Options& o, const Value& v) { return store(readFlag(v), o.animations); }},
    {"padding", "=N", "pixels between frames", "padding: a whole number from 0 to 4096",
     [](Options& o, const Value& v) { return store(readCount(v, 0, kMaxGap), o.layout.padding); }},
    {"border", "=N", "pixels around the sheet", "border: a whole number from 0 to 4096",
     [](Options& o, const Value& v) { return store(readCount(v, 0, kMaxGap), o.layout.border); }},
    {"extrude", "=N", "each frame's edge pixels repeated N times around it", "extrude: a whole number from 0 to 4096",
     [](Options& o, const Value& v) { return store(readCount(v, 0, kMaxGap), o.layout.extrude); }},
    {"pot", "", "both sides of the sheet powers of two", "yes or no",
     [](Options& o, const Value& v) { return store(readFlag(v), o.layout.pot); }},
    {"cell", "=max", "uniform cells of the largest width and height", "cells: natural, max",
     [](Options& o, const Value& v) {
         return store(readWord<CellMode>(v, {{"natural", CellMode::Natural}, {"max", CellMode::Max}}), o.layout.cell);
     }},
    {"align", "=top-left|center|bottom", "where a picture sits in a larger cell",
     "alignments: top-left, center, bottom",
     [](Options& o, const Value& v) {
         return store(
             readWord<CellAlign>(
                 v, {{"top-left", CellAlign::TopLeft}, {"center", CellAlign::Center}, {"bottom", CellAlign::Bottom}}),
             o.layout.align);
     }},
    {"trim", "", "transparent borders cut before placing", "yes or no",
     [](Options& o, const Value& v) { return store(readFlag(v), o.layout.trim); }},
    {"alias", "", "identical pictures placed once, every name kept", "yes or no",
     [](Options& o, const Value& v) { return store(readFlag(v), o.layout.alias); }},
    {"pack", "=grid|maxrects", "the grid of rows or columns, or tight packing", "packings: grid, maxrects",
     [](Options& o, const Value& v) {
         return store(readWord<PackMode>(v, {{"grid", PackMode::Grid}, {"maxrects", PackMode::MaxRects}}),
                      o.layout.pack);
     }},
    {"max-size", "=N", "largest side of one sheet when packing (4096)", "max-size: a whole number from 1 to 16384",
     [](Options& o, const Value& v) { return store(readCount(v, 1, kMaxSheetSide), o.layout.maxSize); }},
    {"allow-outside", "", "pictures and fragments may lead outside the picture's folder", "yes or no",
     [](Options& o, const Value& v) { return store(readFlag(v), o.allowOutside); }},
    {"sheet", "", "GIF: the frames glued into one sheet with a data file", "yes or no",
     [](Options& o, const Value& v) { return store(readFlag(v), o.sheet); }},
    {"gif-meta", "", "GIF: \"frames.json\" beside \"delays.txt\"", "yes or no",
     [](Options& o, const Value& v) { return store(readFlag(v), o.gifMeta); }},
    {"compose", "=described|browser", "GIF: how frames are composed", "compositions: described, browser",
     [](Options& o, const Value& v) {
         return store(readWord<Compose>(v, {{"described", Compose::Described}, {"browser", Compose::Browser}}),
                      o.compose);
     }},
    {"apng", "", "GIF: an animated PNG of the animation as well", "yes or no",
     [](Options& o, const Value& v) { return store(readFlag(v), o.apng); }},
};

const OptionSpec* findOption(const std::string& key) {
    for (const auto& spec : kOptions)
        if (key == spec.key) return &spec;
    return nullptr;
}

std::string knownOptions() {
    std::string list = "options:";
    for (const auto& spec : kOptions) list += std::string(list.back() == ':' ? " --" : ", --") + spec.key;
    return list;
}

bool namesAnything(const std::string& path) { return platform::fileExists(path) || platform::directoryExists(path); }

// Options files hold a handful of lines; more is not an options file.
constexpr unsigned kMaxOptionLines = 1000;

}  // namespace

std::optional<std::string> applyOption(Options& options, const OptionSetting& setting) {
    const OptionSpec* spec = findOption(setting.key);
    if (!spec) return knownOptions();
    Options changed = options;
    if (!spec->apply(changed, setting.value)) return std::string(spec->accepted);
    options = std::move(changed);
    return std::nullopt;
}

bool isOptionKey(const std::string& key) { return findOption(key) != nullptr; }

OptionSetting parseOptionText(const std::string& text) {
    if (text.compare(0, 2, "--") != 0) return {};
    const size_t eq = text.find('=');
    if (eq == std::string::npos) return {text.substr(2), std::nullopt};
    return {text.substr(2, eq - 2), text.substr(eq + 1)};
}

FrontOptions takeFrontOptions(std::vector<std::string>& arguments, Options& options) {
    FrontOptions front;
    size_t i = 0;
    for (; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.compare(0, 2, "--") != 0) break;
        OptionSetting setting = parseOptionText(arg);
        if (setting.key == "help" && !setting.value) {
            front.action = FrontAction::Help;
            return front;
        }
        if (setting.key == "version" && !setting.value) {
            front.action = FrontAction::Version;
            return front;
        }
        if (!isOptionKey(setting.key) && namesAnything(arg)) break;
        if (auto problem = applyOption(options, setting)) {
            front.action = FrontAction::Error;
            front.errorLine = "glumixer: unknown option \"" + printableText(arg) + "\"; " + *problem + "\n";
            return front;
        }
        front.given.push_back(std::move(setting));
    }
    arguments.erase(arguments.begin(), arguments.begin() + static_cast<std::ptrdiff_t>(i));
    return front;
}

std::string optionsHelp() {
    std::string text;
    for (const auto& spec : kOptions) {
        std::string left = "  --" + std::string(spec.key) + spec.syntax;
        if (left.size() < 31) left.resize(31, ' ');
        else left += "  ";
        text += left + spec.help + "\n";
    }
    return text;
}

std::vector<OptionSetting> readOptionsFile(const std::string& path, size_t maxLine) {
    LineReader reader(path);
    requireInsideFolder(reader);
    struct stat st {};
    if (::stat(reader.resolvedPath().c_str(), &st) == 0 && st.st_nlink > 1)
        throw EFOpenError(formatMessage("Cannot open file \"%s\". It has more than one link", path.c_str()));
    std::vector<OptionSetting> settings;
    std::string line;
    Options probe;
    unsigned count = 0;
    while (reader.next(line, maxLine + 1)) {
        if (line.size() > maxLine)
            throw EInOutError(formatMessage("Line %u of \"%s\" is too long", count + 1, path.c_str()));
        if (++count > kMaxOptionLines)
            throw EInOutError(formatMessage("\"%s\" has more than %u lines", path.c_str(), kMaxOptionLines));
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        const size_t last = line.find_last_not_of(" \t");
        line = line.substr(first, last + 1 - first);
        OptionSetting setting;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            setting.key = line;
        } else {
            setting.key = line.substr(0, eq);
            setting.key.erase(setting.key.find_last_not_of(" \t") + 1);
            setting.value = line.substr(eq + 1);
            setting.value->erase(0, setting.value->find_first_not_of(" \t"));
        }
        if (!isOptionKey(setting.key))
            throw EInOutError(formatMessage("Unknown key \"%s\" in \"%s\"", setting.key.c_str(), path.c_str()));
        if (auto problem = applyOption(probe, setting))
            throw EInOutError(formatMessage("Bad value of key \"%s\" in \"%s\"; %s", setting.key.c_str(), path.c_str(),
                                            problem->c_str()));
        settings.push_back(std::move(setting));
    }
    return settings;
}

}  // namespace glx::app

namespace glx::app {

void readOptionsBeside(Run& run, const std::string& folder) {
    const std::string path = folder + kOptionsFileName;
    if (!platform::fileExists(path)) return;
    const uint16_t phase = run.phase;
    run.phase = 21;
    Options options;
    for (const auto& setting : readOptionsFile(path, run.read.limits.lineLength)) {
        applyOption(options, setting);
        // A path in the file is relative to the file's folder.
        if (setting.key == "patterns" && !options.patternsNone && options.patternsPath[0] != '/')
            options.patternsPath = platform::absolutePath(folder + options.patternsPath);
    }
    // The command line wins over the file.
    for (const auto& setting : run.givenOptions) {
        applyOption(options, setting);
        if (setting.key == "patterns") options.patternsPath = run.options.patternsPath;
    }
    run.options = std::move(options);
    run.phase = phase;
}

}  // namespace glx::app
