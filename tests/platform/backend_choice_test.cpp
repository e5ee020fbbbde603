#include <gtest/gtest.h>

#include "platform/ui.h"

using namespace glx::platform;

namespace {

class FakeDesktop : public UiBackend {
public:
    int messageBox(const std::string&, const std::string&, unsigned) override { return kIdOk; }
    bool inputQuery(const std::string&, const std::string&, std::string&) override { return true; }
    void openDocument(const std::string&) override {}
};

bool displayAvailable = true;
std::unique_ptr<UiBackend> fakeFactory() {
    if (!displayAvailable) return nullptr;
    return std::make_unique<FakeDesktop>();
}

bool desktopChosen() { return dynamic_cast<FakeDesktop*>(&ui()) != nullptr; }

}  // namespace

TEST(BackendChoice, TheProgramNameDecidesAndAMissingDisplayFallsBack) {
    // Without a desktop back-end linked in, every name gets the terminal.
    registerDesktopBackend(nullptr);
    chooseBackend("/usr/bin/glumixer-gui");
    EXPECT_FALSE(desktopChosen());

    registerDesktopBackend(&fakeFactory);
    displayAvailable = true;
    chooseBackend("/usr/local/bin/glumixer-gui");
    EXPECT_TRUE(desktopChosen());
    chooseBackend("glumixer-gui");
    EXPECT_TRUE(desktopChosen());
    for (const char* other :
         {"glumixer", "/opt/glumixer-gui/glumixer", "glumixer-gui2", "", static_cast<const char*>(nullptr)}) {
        chooseBackend(other);
        EXPECT_FALSE(desktopChosen()) << (other ? other : "(none)");
    }
    displayAvailable = false;
    chooseBackend("glumixer-gui");
    EXPECT_FALSE(desktopChosen());

    registerDesktopBackend(nullptr);
    setUi(nullptr);
}
