#include <gtest/gtest.h>

#include <deque>

#include "app/prompts.h"
#include "app/run.h"
#include "platform/ui.h"

using namespace glx;
using namespace glx::app;

namespace {

// Answers questions and dialogs from a script and records what was asked.
class ScriptedUi : public platform::UiBackend {
public:
    std::deque<int> buttons;
    std::deque<std::optional<std::string>> answers;  // nullopt = Cancel
    std::vector<std::string> shown;
    int messageBox(const std::string& caption, const std::string& text, unsigned flags) override {
        shown.push_back(caption + "|" + text + "|" + std::to_string(flags));
        if (buttons.empty()) return platform::kIdOk;
        int b = buttons.front();
        buttons.pop_front();
        return b;
    }
    bool inputQuery(const std::string& caption, const std::string& prompt, std::string& value) override {
        shown.push_back(caption + "|" + prompt + "|" + value);
        auto a = answers.front();
        answers.pop_front();
        if (!a) return false;
        value = *a;
        return true;
    }
    void openDocument(const std::string&) override {}
};

ScriptedUi* install() {
    auto ui = std::make_unique<ScriptedUi>();
    ScriptedUi* raw = ui.get();
    platform::setUi(std::move(ui));
    return raw;
}

}  // namespace

TEST(LayoutQuestions, AnswersGiveTheCounts) {
    struct Case {
        int button;
        std::optional<std::string> answer;
        int perRow, perColumn;
    } cases[] = {
        {platform::kIdYes, "3", 0, 3},          {platform::kIdNo, std::nullopt, 8, 0}, {platform::kIdNo, "x12", 18, 0},
        {platform::kIdNo, "0", 1, 0},           {platform::kIdYes, "garbage", 0, 1},   {platform::kIdYes, "-5", 0, 1},
        {platform::kIdYes, std::nullopt, 0, 8},
    };
    for (const auto& c : cases) {
        ScriptedUi* ui = install();
        ui->buttons = {c.button};
        ui->answers = {c.answer};
        glx::app::Run run({});
        askLayout(run);
        EXPECT_EQ(run.cursor.perRow, c.perRow);
        EXPECT_EQ(run.cursor.perColumn, c.perColumn);
        ASSERT_EQ(ui->shown.size(), 2u);
        EXPECT_EQ(ui->shown[0], "Glumixer|Use vertical placement?   |" + std::to_string(36 + 0x1000));
        EXPECT_EQ(ui->shown[1],
                  c.button == platform::kIdYes ? "Glumixer|Vertical Pics = |8" : "Glumixer|Horizontal Pics = |8");
        EXPECT_EQ(run.phase, 1120);
    }
    platform::setUi(nullptr);
}

TEST(ColourParser, ReadsEightHexDigitsAsTheColourValue) {
    uint16_t phase = 0;
    auto parseColor = [&phase](const std::string& text) { return glx::app::parseColor(phase, text); };
    EXPECT_EQ(parseColor("FFFFFF"), 0x00FFFFFF);
    EXPECT_EQ(parseColor("0"), 0);
    EXPECT_EQ(parseColor("00000000"), 0);
    EXPECT_EQ(parseColor("00000FF"), 0x000000FF);  // "#0000FF" after the sign became 0
    EXPECT_EQ(parseColor("0ff8000"), 0x00FF8000);  // "$ff8000" lower case upper-cased
    EXPECT_EQ(parseColor("12345678"), 0x12345678);
    EXPECT_EQ(phase, 1180);
    // Letters past F spill into the neighbouring digit: 'G' is 16, so "0G"
    // is 0 * 16 + 16 = 0x10.
    EXPECT_EQ(parseColor("0000000G"), 0x10);
    // A line longer than eight characters still gives a colour.
    EXPECT_NO_THROW(parseColor("FFFFFFFFFF"));
    EXPECT_EQ(hexDigit('9'), 9);
    EXPECT_EQ(hexDigit('A'), 10);
    EXPECT_EQ(hexDigit('#'), static_cast<uint8_t>(35 - 55));
    EXPECT_EQ(intPower(16, 0), 1);
    EXPECT_EQ(intPower(16, 6), 0x1000000);
}

TEST(Messages, ShowMsgAddsBlanksAndSystemModal) {
    ScriptedUi* ui = install();
    ui->buttons = {platform::kIdYes};
    glx::app::Run run({});
    EXPECT_EQ(showMsg(run, "Hello", kMbInformation), platform::kIdYes);
    EXPECT_EQ(ui->shown.back(), "Glumixer|Hello   |" + std::to_string(64 + 0x1000));
    EXPECT_EQ(run.phase, 1100);
    ui->answers = {std::nullopt};
    EXPECT_EQ(inputText(run, "", "P", "dflt"), "dflt");
    ui->answers = {std::string("typed")};
    EXPECT_EQ(inputText(run, "Cap", "P", "dflt"), "typed");
    EXPECT_EQ(ui->shown.back(), "Cap|P|dflt");
    platform::setUi(nullptr);
}
