#include "app/atlas_formats.h"

#include <nlohmann/json.hpp>

#include "app/frame_names.h"
#include "base/exception.h"
#include "base/stream.h"
#include "base/strutil.h"

namespace glx::app {

namespace {

using Json = nlohmann::ordered_json;

Json rect(int32_t x, int32_t y, int32_t w, int32_t h) { return Json{{"x", x}, {"y", y}, {"w", w}, {"h", h}}; }
Json size(int32_t w, int32_t h) { return Json{{"w", w}, {"h", h}}; }

int32_t sourceW(const SheetFrame& f) { return f.sourceW > 0 ? f.sourceW : f.w; }
int32_t sourceH(const SheetFrame& f) { return f.sourceH > 0 ? f.sourceH : f.h; }

const char* pixelFormat(const SheetPage& page) { return page.alpha ? "RGBA8888" : "RGB888"; }

// One frame of the JSON atlases, without its name.
Json jsonFrame(const SheetFrame& f) {
    Json j;
    j["frame"] = rect(f.x, f.y, f.w, f.h);
    j["rotated"] = false;
    j["trimmed"] = f.trimmed;
    j["spriteSourceSize"] = rect(f.offsetX, f.offsetY, f.w, f.h);
    j["sourceSize"] = size(sourceW(f), sourceH(f));
    if (f.durationMs) j["duration"] = *f.durationMs;
    return j;
}

Json framesArray(const SheetPage& page) {
    Json frames = Json::array();
    for (const auto& f : page.frames) {
        Json j{{"filename", f.name}};
        j.update(jsonFrame(f));
        frames.push_back(std::move(j));
    }
    return frames;
}

Json meta(const SheetDescription& sheet, bool withPage) {
    Json m{{"app", "glumixer"}, {"version", GLX_VERSION}};
    if (withPage && !sheet.pages.empty()) {
        const SheetPage& page = sheet.pages.front();
        m["image"] = page.image;
        m["format"] = pixelFormat(page);
        m["size"] = size(page.width, page.height);
        m["scale"] = "1";
    }
    if (sheet.grid) {
        m["frameWidth"] = sheet.grid->frameWidth;
        m["frameHeight"] = sheet.grid->frameHeight;
        m["margin"] = sheet.grid->margin;
        m["spacing"] = sheet.grid->spacing;
    }
    if (sheet.loop) m["loop"] = *sheet.loop;
    if (!sheet.frameTags.empty()) {
        Json tags = Json::array();
        for (const auto& t : sheet.frameTags)
            tags.push_back(Json{{"name", t.name}, {"from", t.from}, {"to", t.to}, {"direction", "forward"}});
        m["frameTags"] = std::move(tags);
    }
    return m;
}

Json jsonAtlas(const SheetDescription& sheet, bool array) {
    Json root;
    if (sheet.pages.size() > 1) {
        // Several sheets: the multi-atlas form, one texture per page.
        Json textures = Json::array();
        for (const auto& page : sheet.pages)
            textures.push_back(Json{{"image", page.image},
                                    {"format", pixelFormat(page)},
                                    {"size", size(page.width, page.height)},
                                    {"scale", "1"},
                                    {"frames", framesArray(page)}});
        root["textures"] = std::move(textures);
    } else if (array) {
        root["frames"] = sheet.pages.empty() ? Json::array() : framesArray(sheet.pages.front());
    } else {
        Json frames = Json::object();
        if (!sheet.pages.empty())
            for (const auto& f : sheet.pages.front().frames) frames[f.name] = jsonFrame(f);
        root["frames"] = std::move(frames);
    }
    if (!sheet.animations.empty()) root["animations"] = sheet.animations;
    root["meta"] = meta(sheet, sheet.pages.size() <= 1);
    return root;
}

Json godotSheet(const SheetDescription& sheet) {
    Json textures = Json::array();
    for (const auto& page : sheet.pages) {
        Json sprites = Json::array();
        for (const auto& f : page.frames)
            sprites.push_back(Json{{"filename", f.name},
                                   {"region", rect(f.x, f.y, f.w, f.h)},
                                   {"margin", rect(f.offsetX, f.offsetY, sourceW(f) - f.w, sourceH(f) - f.h)}});
        textures.push_back(
            Json{{"image", page.image}, {"size", size(page.width, page.height)}, {"sprites", std::move(sprites)}});
    }
    return Json{{"textures", std::move(textures)}, {"meta", meta(sheet, false)}};
}

// A name as one line of the atlas text: its reader takes a line with a
// colon for a "key: value" entry, trims blanks and ends a page at a blank
// line, so colons and control bytes become "_" and the name is trimmed.
std::string atlasLine(const std::string& name) {
    std::string line;
    for (char c : name) line += (c == ':' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '_' : c;
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) return "_";
    return line.substr(first, line.find_last_not_of(" \t") + 1 - first);
}

std::string libGdxAtlas(const SheetDescription& sheet) {
    std::string text;
    UniqueNames names;
    for (const auto& page : sheet.pages) {
        text += "\n" + atlasLine(page.image) + "\n";
        text += "size: " + std::to_string(page.width) + ", " + std::to_string(page.height) + "\n";
        text += std::string("format: ") + pixelFormat(page) + "\n";
        text += "filter: Nearest, Nearest\nrepeat: none\n";
        for (const auto& f : page.frames) {
            // The atlas counts offsets from the bottom-left corner.
            const int32_t bottom = sourceH(f) - f.h - f.offsetY;
            text += names.take(atlasLine(f.name)) + "\n";
            text += "  rotate: false\n";
            text += "  xy: " + std::to_string(f.x) + ", " + std::to_string(f.y) + "\n";
            text += "  size: " + std::to_string(f.w) + ", " + std::to_string(f.h) + "\n";
            text += "  orig: " + std::to_string(sourceW(f)) + ", " + std::to_string(sourceH(f)) + "\n";
            text += "  offset: " + std::to_string(f.offsetX) + ", " + std::to_string(bottom) + "\n";
            text += "  index: -1\n";
        }
    }
    return text;
}

// A CSS class name: letters, digits, "-" and "_" stay, every other byte
// becomes "_".
std::string cssClass(const std::string& name) {
    std::string cls = "sprite-";
    for (char c : name) {
        const bool keep =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        cls += keep ? c : '_';
    }
    return cls;
}

// url(...) of the sheet: bare when the name needs no quoting, otherwise a
// quoted string with its quote, backslash and line-break bytes escaped.
std::string cssUrl(const std::string& image) {
    bool plain = !image.empty();
    for (char c : image)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
              c == '.'))
            plain = false;
    if (plain) return "url(" + image + ")";
    std::string quoted = "url(\"";
    for (char c : image) {
        if (c == '"' || c == '\\') quoted += std::string("\\") + c;
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            quoted += formatMessage("\\%x ", static_cast<unsigned>(static_cast<unsigned char>(c)));
        else quoted += c;
    }
    return quoted + "\")";
}

std::string pixels(int32_t v) { return v == 0 ? "0" : std::to_string(v) + "px"; }

std::string css(const SheetDescription& sheet) {
    std::string text;
    UniqueNames names("-");
    for (const auto& page : sheet.pages) {
        const std::string url = cssUrl(page.image);
        for (const auto& f : page.frames)
            text += "." + names.take(cssClass(f.name)) + " { background: " + url + " " + pixels(-f.x) + " " +
                    pixels(-f.y) + "; width: " + std::to_string(f.w) + "px; height: " + std::to_string(f.h) + "px; }\n";
    }
    return text;
}

std::string withLineEnds(const std::string& text, bool lf) { return lf ? text : replaceAll(text, "\n", "\r\n"); }

std::string dumpJson(const Json& j) {
    // File names need not be UTF-8: invalid bytes become U+FFFD rather than
    // an error.
    return j.dump(1, '\t', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string atlasDataText(AtlasFormat format, const SheetDescription& sheet, bool lf) {
    switch (format) {
        case AtlasFormat::Json:
            return withLineEnds(dumpJson(jsonAtlas(sheet, false)), lf);
        case AtlasFormat::JsonArray:
            return withLineEnds(dumpJson(jsonAtlas(sheet, true)), lf);
        case AtlasFormat::Godot:
            return withLineEnds(dumpJson(godotSheet(sheet)), lf);
        case AtlasFormat::LibGdx:
            return withLineEnds(libGdxAtlas(sheet), lf);
        case AtlasFormat::Css:
            return withLineEnds(css(sheet), lf);
    }
    return {};
}

std::string atlasDataPath(AtlasFormat format, const std::vector<AtlasFormat>& all, const std::string& sheetPath) {
    switch (format) {
        case AtlasFormat::Json:
            return changeFileExt(sheetPath, ".json");
        case AtlasFormat::JsonArray: {
            const bool both = std::find(all.begin(), all.end(), AtlasFormat::Json) != all.end();
            return changeFileExt(sheetPath, both ? "-array.json" : ".json");
        }
        case AtlasFormat::Godot:
            return changeFileExt(sheetPath, ".tpsheet");
        case AtlasFormat::LibGdx:
            return changeFileExt(sheetPath, ".atlas");
        case AtlasFormat::Css:
            return changeFileExt(sheetPath, ".css");
    }
    return {};
}

void writeAtlasFiles(const Options& options, const SheetDescription& sheet, const std::string& sheetPath, int folder) {
    for (AtlasFormat format : options.atlas) {
        const std::string text = atlasDataText(format, sheet, options.newlineLf);
        const std::string path = atlasDataPath(format, options.atlas, sheetPath);
        if (folder == AT_FDCWD) writeWholeFile(path, text.data(), text.size());
        else writeWholeFile(FileAt{folder, extractFileName(path), path}, text.data(), text.size());
    }
}

}  // namespace glx::app
