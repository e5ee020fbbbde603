#include "app/prompts.h"

#include <algorithm>
#include <optional>

#include "app/report.h"
#include "app/run.h"
#include "base/exception.h"
#include "base/line_reader.h"
#include "base/strutil.h"
#include "platform/fs.h"
#include "platform/ui.h"

namespace glx::app {

constexpr const char* kTitle = "Glumixer";

int showMsg(Run& run, const std::string& text, unsigned flags) {
    run.phase = 1100;
    platform::ui().progressEnd();
    return platform::ui().messageBox(kTitle, printableText(text, true) + "   ", flags + platform::kMbSystemModal);
}

bool queryText(Run& run, const std::string& caption, const std::string& prompt, std::string& value) {
    run.phase = 1120;
    platform::ui().progressEnd();
    return platform::ui().inputQuery(caption, prompt, value);
}

std::string inputText(Run& run, const std::string& caption, const std::string& prompt, const std::string& def) {
    std::string result = def;
    queryText(run, caption.empty() ? kTitle : caption, prompt, result);
    return result;
}

namespace {

// The count answer; one that is not a number counts 1, and says so.
int32_t countAnswer(Run& run, const std::string& prompt) {
    const std::string answer = inputText(run, "", prompt, "8");
    const std::optional<int32_t> count = tryStrToInt(answer);
    if (!count) reportNote("count \"" + answer + "\" is not a number, read as 1");
    return count ? std::max(*count, 1) : 1;
}

}  // namespace

void askLayout(Run& run) {
    TGridCursor& grid = run.cursor;
    if (showMsg(run, "Use vertical placement?", kMbQuestion) == platform::kIdYes) {
        run.phase = 12;
        grid.perColumn = countAnswer(run, "Vertical Pics = ");
    } else {
        run.phase = 11;
        grid.perRow = countAnswer(run, "Horizontal Pics = ");
    }
}

std::string settingsPath(const std::string& opened) {
    // A picture named without a folder reads the settings of the current
    // folder (extractFilePath gives "" for a bare name).
    if (platform::fileExists(opened)) return extractFilePath(opened) + "Glumix.ini";
    return opened + "/Glumix.ini";
}

std::string firstLineOfSetting(const std::string& path, size_t maxLength) {
    LineReader reader(path);
    requireInsideFolder(reader);
    std::string line;
    if (!reader.next(line, maxLength)) throw EListError("List index out of bounds (0)");
    return line;
}

void requireInsideFolder(const LineReader& file) {
    const std::string folder = extractFilePath(file.path());
    if (!platform::isInsideFolder(file.resolvedPath(), folder.empty() ? "." : folder))
        throw EFOpenError(
            formatMessage("Cannot open file \"%s\". It leads outside the picture's folder", file.path().c_str()));
    // Another name of the file may lie anywhere: what it holds is not the
    // folder's own.
    if (file.linkCount() > 1)
        throw EFOpenError(formatMessage("Cannot open file \"%s\". It has more than one link", file.path().c_str()));
}

void readSettings(Run& run) {
    run.phase = 20;
    run.bgColor = 0xFFFFFF;
    const std::string path = settingsPath(run.picPath);
    if (platform::fileExists(path)) {
        run.phase = 21;
        std::string line = firstLineOfSetting(path, run.read.limits.lineLength);
        run.phase = 22;
        if (!line.empty()) {
            if (line[0] == '#' || line[0] == '$' || line[0] == 'h') line[0] = '0';
            try {
                run.bgColor = parseColor(run.phase, line);
            } catch (const std::exception&) {
                // An unreadable colour leaves the background white.
            }
        }
    }
}

uint8_t hexDigit(uint8_t c) {
    if (c >= 48 && c <= 57) return static_cast<uint8_t>(c - 48);
    return static_cast<uint8_t>(c - 55);
}

int64_t intPower(int64_t base, int exponent) {
    int64_t result = 1;
    for (int i = 0; i < exponent; ++i) result *= base;
    return result;
}

TColor parseColor(uint16_t& phase, const std::string& text) {
    phase = 1180;
    std::string digits = text;
    while (digits.size() < 8) digits.insert(digits.begin(), '0');
    // Longer text: only the first eight characters are read, so a long line
    // still gives a colour and never an error.
    digits = upperCaseAscii(digits.substr(0, 8));
    uint32_t value = 0;
    for (size_t k = 1; k <= 4; ++k) {
        uint8_t hi = hexDigit(static_cast<uint8_t>(digits[2 * k - 2]));
        uint8_t lo = hexDigit(static_cast<uint8_t>(digits[2 * k - 1]));
        uint32_t byte = (uint32_t(hi) * 16 + lo) % 256;
        value += byte * static_cast<uint32_t>(intPower(16, 8 - 2 * static_cast<int>(k)));
    }
    return static_cast<TColor>(value);
}

}  // namespace glx::app
