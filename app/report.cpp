#include "app/report.h"

#include "app/prompts.h"
#include "app/state.h"
#include "base/string_list.h"
#include "base/strutil.h"
#include "platform/fs.h"
#include "platform/ui.h"

namespace glx::app {

std::string errorReportText(const std::string& message) {
    return message + "   " + "\r\n" + "Last picture: " + picPath + "\r\n" + "Tech code: #" + std::to_string(phase);
}

void aeException(const std::string& message) {
    showMsg(errorReportText(message), 16);
    finish(kExitError);
}

void runHelpPath(bool argumentsGiven) {
    phase = 4;
    showMsg("Glumix by Orvando_9 \r\nOpen picture with this exe!", 16);
    const std::string helpPath = changeFileExt(platform::programPath(), ".txt");
    if (!sharedList) sharedList = std::make_unique<TStringList>();
    sharedList->setText(helpText());
    sharedList->saveToFile(helpPath);
    platform::ui().openDocument(helpPath);
    finish(argumentsGiven ? kExitHelpWithArguments : kExitDone);
}

}  // namespace glx::app
