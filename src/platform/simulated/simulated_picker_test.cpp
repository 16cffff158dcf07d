#include "platform/simulated/simulated_picker.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"

namespace scene::simulated {
namespace {

struct Answer {
    std::string kind;  // "update", "cancel" or "fail"
    double at = 0;
    ContentFilter filter;
    CaptureStream* stream = nullptr;
    PlatformError error;
};

class RecordingObserver final : public PickerObserver {
public:
    explicit RecordingObserver(ManualRuntime& runtime) : runtime_(runtime) {}
    void pickerDidUpdate(const ContentFilter& filter, CaptureStream* stream) override {
        answers.push_back({"update", runtime_.now(), filter, stream, {}});
    }
    void pickerDidCancel(CaptureStream* stream) override {
        answers.push_back({"cancel", runtime_.now(), {}, stream, {}});
    }
    void pickerStartDidFail(const PlatformError& error) override {
        answers.push_back({"fail", runtime_.now(), {}, nullptr, error});
    }

    std::vector<Answer> answers;

private:
    ManualRuntime& runtime_;
};

class NullDelegate final : public StreamDelegate {
public:
    void didStopWithError(CaptureStream&, const PlatformError&) override {}
};

class SimulatedPickerTest : public ::testing::Test {
protected:
    ContentSharingPicker& load(const std::string& version, const std::string& picker) {
        const std::string text = R"({"format": 1, "system": {"version": ")" + version + R"("},
            "displays": [{"id": 4, "bounds": [0, 0, 1512, 982]}, {"id": 7, "bounds": [1512, -200, 1920, 1080]}],
            "picker": )" + picker +
                                 "}";
        auto result = loadScene(text, "picker.json", runtime_, {4242, [] { return 1; }});
        EXPECT_EQ(result.error, "");
        platform_ = std::move(result.platform);
        ContentSharingPicker& shared = platform_->screenCapture().sharedPicker();
        shared.addObserver(observer_);
        shared.setActive(true);
        return shared;
    }

    ManualRuntime runtime_;
    std::unique_ptr<SimulatedPlatform> platform_;
    RecordingObserver observer_{runtime_};
};

TEST_F(SimulatedPickerTest, SelectAnswersAfterItsDelayWithTheDisplayFilter) {
    struct Case {
        std::string version, picker;
        ContentFilter::Style style;
        Rect contentRect;
        std::vector<DisplayID> included;
    };
    const std::vector<Case> cases{
        {"15.2", R"({"after": 0.5})", ContentFilter::Style::display, {0, 0, 1512, 982}, {4}},
        {"15.2",
         R"({"display": 7, "style": "window", "after": 0.5})",
         ContentFilter::Style::window,
         {1512, -200, 1920, 1080},
         {7}},
        {"15.2", R"({"displays": [7, 4], "after": 0.5})", ContentFilter::Style::display, {0, 0, 1512, 982}, {7, 4}},
        {"15.2", R"({"contentRect": [1, 2, 3, 4], "after": 0.5})", ContentFilter::Style::display, {1, 2, 3, 4}, {4}},
        // Before 15.2 the filter names no displays; only its content rect tells.
        {"14.5", R"({"display": 7, "after": 0.5})", ContentFilter::Style::display, {1512, -200, 1920, 1080}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.picker);
        observer_.answers.clear();
        const double start = runtime_.now();
        load(c.version, c.picker).presentForDisplayContent();
        runtime_.advance(0.49);
        EXPECT_TRUE(observer_.answers.empty());
        runtime_.advance(0.02);
        ASSERT_EQ(observer_.answers.size(), 1u);
        const Answer& answer = observer_.answers[0];
        EXPECT_EQ(answer.kind, "update");
        EXPECT_DOUBLE_EQ(answer.at, start + 0.5);
        EXPECT_EQ(answer.filter.style, c.style);
        EXPECT_EQ(answer.filter.contentRect, c.contentRect);
        EXPECT_EQ(answer.filter.includedDisplays, c.included);
        EXPECT_EQ(answer.stream, nullptr);
    }
}

TEST_F(SimulatedPickerTest, CancelFailAndNoneAnswerAsTheSceneSays) {
    struct Case {
        std::string picker;
        std::vector<std::string> kinds;
        long code;
    };
    for (const Case& c : std::vector<Case>{{R"({"action": "cancel"})", {"cancel"}, 0},
                                           {R"({"action": "fail"})", {"fail"}, -3801},
                                           {R"({"action": "fail", "code": -3802})", {"fail"}, -3802},
                                           {R"({"action": "none"})", {}, 0}}) {
        SCOPED_TRACE(c.picker);
        observer_.answers.clear();
        load("14.5", c.picker).presentForDisplayContent();
        runtime_.advance(10);
        std::vector<std::string> kinds;
        for (const auto& answer : observer_.answers) kinds.push_back(answer.kind);
        EXPECT_EQ(kinds, c.kinds);
        if (!c.kinds.empty() && c.kinds[0] == "fail") {
            EXPECT_EQ(observer_.answers[0].error, (PlatformError{"SCStreamErrorDomain", c.code}));
        }
    }
}

TEST_F(SimulatedPickerTest, InactiveRepeatedAndRemovedObserversGetNoStaleAnswers) {
    load("14.5", R"({"after": 1})");
    SimulatedPicker& picker = platform_->picker();
    picker.setConfiguration({true, {"com.example.companion"}, true});
    EXPECT_EQ(picker.configuration().excludedBundleIDs, std::vector<std::string>{"com.example.companion"});

    picker.setActive(false);
    picker.presentForDisplayContent();
    runtime_.advance(2);
    EXPECT_TRUE(observer_.answers.empty());  // an inactive picker shows nothing
    EXPECT_EQ(picker.presentations(), 0);

    picker.setActive(true);
    picker.presentForDisplayContent();
    runtime_.advance(0.5);
    picker.presentForDisplayContent();  // replaces the first presentation
    runtime_.advance(2);
    ASSERT_EQ(observer_.answers.size(), 1u);
    EXPECT_EQ(observer_.answers[0].at, ManualRuntime::kDefaultStartUptime + 3.5);

    picker.presentForDisplayContent();
    picker.removeObserver(observer_);
    runtime_.advance(2);
    EXPECT_EQ(observer_.answers.size(), 1u);
}

TEST_F(SimulatedPickerTest, PresentedForAStreamAnswersForThatStreamWhileItLives) {
    ContentSharingPicker& picker = load("14.5", R"({"action": "cancel", "after": 0.1})");
    NullDelegate delegate;
    auto stream = platform_->screenCapture().createStream({}, {}, delegate);
    picker.presentForStream(*stream);
    runtime_.advance(1);
    ASSERT_EQ(observer_.answers.size(), 1u);
    EXPECT_EQ(observer_.answers[0].stream, stream.get());

    picker.presentForStream(*stream);
    stream.reset();
    runtime_.advance(1);
    ASSERT_EQ(observer_.answers.size(), 2u);
    EXPECT_EQ(observer_.answers[1].stream, nullptr);  // never a dangling stream
}

}  // namespace
}  // namespace scene::simulated
