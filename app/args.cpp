#include "app/args.h"

#include <algorithm>

#include "app/report.h"
#include "app/run.h"
#include "base/strutil.h"
#include "platform/fs.h"

namespace glx::app {

std::string getArg(Run& run, uint16_t index) {
    std::string arg;
    if (index == 0) arg = platform::programPath();
    else if (index <= run.arguments.size()) arg = run.arguments[index - 1u];
    size_t at = arg.find(":silent");
    if (at != std::string::npos && at > 0) {
        run.silent = true;
        arg.erase(at);
    }
    return arg;
}

std::string joinArgs(Run& run) {
    run.phase = 1110;
    std::string joined = getArg(run, 1);
    const size_t last = std::min<size_t>(run.arguments.size(), 2550);
    for (size_t i = 2; i <= last; ++i) {
        std::string next = getArg(run, static_cast<uint16_t>(i));
        if (!next.empty()) joined += " " + next;
    }
    return joined;
}

PositionalArgs readPositional(Run& run) {
    PositionalArgs out;
    out.picture = getArg(run, 1);
    const std::string folder = extractFilePath(out.picture);

    const std::string given = getArg(run, 2);
    std::string layout = upperCaseAscii(given);
    if (!layout.empty()) {
        const bool vertical = layout[0] == 'V';
        const std::string rest = layout.substr(1);
        int32_t count = strToIntDef(rest, 1);
        (vertical ? out.perColumn : out.perRow) = count;
        // "V" alone is one per column; anything else not read whole is said.
        if ((!vertical && layout[0] != 'H') || (!rest.empty() && !tryStrToInt(rest)))
            reportNote("layout \"" + given + "\" read as " + (vertical ? "V" : "H") + std::to_string(count));
    }

    std::string output = getArg(run, 3);
    if (!output.empty()) {
        out.outPath = platform::absolutePath((output[0] == '/') ? output : folder + output);
        run.silent = true;
    }

    std::string paste = getArg(run, 4);
    if (!paste.empty()) out.pastePath = platform::absolutePath(platform::fileExists(paste) ? paste : folder + paste);
    return out;
}

bool readsAsLayout(const std::string& arg) {
    std::string text = upperCaseAscii(arg);
    if (!text.empty() && (text[0] == 'V' || text[0] == 'H')) {
        text.erase(0, 1);
        if (text.empty()) return true;  // "V" alone: one per column
    }
    return !text.empty() && tryStrToInt(text).has_value();
}

}  // namespace glx::app
