#include "app/report.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/options.h"
#include "app/prompts.h"
#include "app/run.h"
#include "base/string_list.h"
#include "base/strutil.h"
#include "platform/fs.h"
#include "platform/ui.h"

namespace glx::app {

namespace {

// A message's own CR LF line breaks stay; every other control character is
// shown escaped.
std::string printableMessage(const std::string& message) {
    std::string out;
    size_t start = 0;
    for (size_t at; (at = message.find("\r\n", start)) != std::string::npos; start = at + 2)
        out += printableText(message.substr(start, at - start)) + "\r\n";
    return out + printableText(message.substr(start));
}

}  // namespace

std::string errorReportText(const Run& run, const std::string& message) {
    return printableMessage(message) + "   " + "\r\n" + "Last picture: " + printableText(run.picPath) + "\r\n" +
           "Tech code: #" + std::to_string(run.phase);
}

void printHelp() {
    std::string text = replaceAll(helpText(), "\r\n", "\n") +
                       "\nOPTIONS (before the picture; the same keys without \"--\", one \"key=value\" a line,\n"
                       "in \"Glumix_options.ini\" beside the picture; \"--\" ends them)\n" +
                       optionsHelp();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void reportUnusable(const std::string& path) {
    struct stat st {};
    const int err = ::stat(path.c_str(), &st) == 0 ? 0 : errno;
    const std::string line = "glumixer: cannot open \"" + printableText(path) + "\": " +
                             (path.empty() ? "No such file or directory"
                              : err        ? std::strerror(err)
                                           : "Not a picture") +
                             "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void reportNote(const std::string& text) {
    platform::ui().progressEnd();
    const std::string line = "glumixer: " + printableText(text) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

int runHelpPath(Run& run, bool argumentsGiven) {
    run.phase = 4;
    showMsg(run, "Glumix by Orvando_9 \r\nOpen picture with this exe!", kMbError);
    std::string helpPath = changeFileExt(platform::programPath(), ".txt");
    if (!platform::isWritableFolder(extractFilePath(helpPath))) {
        // An installed program's folder belongs to the system: the help goes
        // where the user may write.
        const std::string cache = platform::userCacheFolder();
        if (!cache.empty() && platform::forceDirectories(cache)) helpPath = cache + "/" + extractFileName(helpPath);
    }
    run.sharedList.setText(helpText());
    run.sharedList.saveToFile(helpPath);
    platform::ui().openDocument(helpPath);
    return finish(run, argumentsGiven ? kExitHelpWithArguments : kExitDone);
}

}  // namespace glx::app
