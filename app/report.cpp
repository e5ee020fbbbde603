#include "app/report.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/prompts.h"
#include "app/state.h"
#include "base/string_list.h"
#include "base/strutil.h"
#include "platform/fs.h"
#include "platform/ui.h"

namespace glx::app {

std::string errorReportText(const std::string& message) {
    return printableText(message) + "   " + "\r\n" + "Last picture: " + printableText(picPath) + "\r\n" +
           "Tech code: #" + std::to_string(phase);
}

void printHelp() {
    std::string text = replaceAll(helpText(), "\r\n", "\n");
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void reportUnusable(const std::string& path) {
    struct stat st {};
    const int err = ::stat(path.c_str(), &st) == 0 ? 0 : errno;
    const std::string line = "glumixer: cannot open \"" + printableText(path) + "\": " +
                             (path.empty() ? "No such file or directory" : err ? std::strerror(err) : "Not a picture") +
                             "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void aeException(const std::string& message) {
    showMsg(errorReportText(message), 16);
    finish(kExitError);
}

void runHelpPath(bool argumentsGiven) {
    phase = 4;
    showMsg("Glumix by Orvando_9 \r\nOpen picture with this exe!", 16);
    std::string helpPath = changeFileExt(platform::programPath(), ".txt");
    if (!platform::isWritableFolder(extractFilePath(helpPath))) {
        // An installed program's folder belongs to the system: the help goes
        // where the user may write.
        const std::string cache = platform::userCacheFolder();
        if (!cache.empty() && platform::forceDirectories(cache)) helpPath = cache + "/" + extractFileName(helpPath);
    }
    if (!sharedList) sharedList = std::make_unique<TStringList>();
    sharedList->setText(helpText());
    sharedList->saveToFile(helpPath);
    platform::ui().openDocument(helpPath);
    finish(argumentsGiven ? kExitHelpWithArguments : kExitDone);
}

}  // namespace glx::app
