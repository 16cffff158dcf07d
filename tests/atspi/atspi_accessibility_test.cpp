// The accessibility interface over AT-SPI against a real GTK application on
// the private X desktop: focus and activation events reach observers on the
// main queue as the notifications the focus watch listens for, and a
// session without an accessibility bus, or with accessibility off, is not
// trusted.
#include "platform/atspi/atspi_accessibility.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "atspi_session_for_test.h"
#include "platform/asio_runtime.h"
#include "platform/manual_runtime.h"
#include "platform/x11/x11_desktop.h"
#include "platform/x11/x11_window_server.h"

namespace scene::x11 {
namespace {

using atspi::AtspiAccessibility;

class AtspiAccessibilityTest : public testing::AtspiSessionTest {
protected:
    void SetUp() override {
        AtspiSessionTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        desktop_ = X11Desktop::open(display_, runtime_.clock(), [](std::string_view) {});
        ASSERT_TRUE(desktop_);
        windowServer_ = std::make_unique<X11WindowServer>(desktop_, runtime_, display_);
    }
    void TearDown() override {
        windowServer_.reset();
        desktop_.reset();
        AtspiSessionTest::TearDown();
    }

    std::unique_ptr<AtspiAccessibility> accessibility(std::optional<std::string> sessionBus) {
        return std::make_unique<AtspiAccessibility>(runtime_, *windowServer_, std::move(sessionBus));
    }

    AsioRuntime runtime_;
    std::shared_ptr<X11Desktop> desktop_;
    std::unique_ptr<X11WindowServer> windowServer_;
};

std::string text(const AXResult<AXValue>& read) {
    const auto* value = std::get_if<std::string>(&read.value);
    return value != nullptr ? *value : std::string();
}

TEST_F(AtspiAccessibilityTest, FocusAndActivationReachTheObserverOnTheMainQueue) {
    auto tree = accessibility(sessionAddress_);
    ASSERT_TRUE(tree->isProcessTrusted());
    const nlohmann::json app = startApp();
    const pid_t pid = app_->pid();
    // The application is readable once it has registered on the bus.
    ASSERT_TRUE(testing::eventually(
        [&] { return tree->copyAttributeValue(tree->applicationElement(pid), "AXFocusedWindow").ok(); }));

    nlohmann::json shown = app;
    ASSERT_TRUE(testing::eventually([&] { return (shown = tell("report"))["active"] == "main"; }));

    // First the focus moves to the password entry, then to the other window,
    // which is not raised; whatever else the application says is let pass.
    std::optional<Element> entry;
    std::optional<Element> window;
    auto observer = tree->createObserver(pid, [&](const Element& element, const std::string& notification) {
        if (!entry && notification == kFocusedUIElementChanged &&
            text(tree->copyAttributeValue(element, "AXSubrole")) == "AXSecureTextField") {
            entry = element;
            xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_POINTER_ROOT,
                                app["windows"]["second"].get<std::uint32_t>(), XCB_CURRENT_TIME);
            xcb_flush(connection_);
        } else if (entry && notification == kFocusedWindowChanged) {
            window = element;
            runtime_.requestExit(0);
        }
    });
    ASSERT_TRUE(observer);
    const Element application = tree->applicationElement(pid);
    EXPECT_EQ(observer->addNotification(application, kFocusedWindowChanged), ax_error::success);
    EXPECT_EQ(observer->addNotification(application, kFocusedUIElementChanged), ax_error::success);
    observer->attachToMainLoop();
    runtime_.mainQueue().post([&] { app_->write("focus secret"); });
    runtime_.mainQueue().postAfter(20, [&] { runtime_.requestExit(1); });
    ASSERT_EQ(runtime_.run(), 0) << (entry ? "no activation was heard" : "no focus change was heard");

    EXPECT_EQ(tree->processIdentifier(*entry).value, pid);
    EXPECT_EQ(tree->processIdentifier(*window).value, pid);
    // The activated window is the application's focused window now: the
    // same element as the one the focus watch hears of.
    const auto focused = tree->copyAttributeValue(application, "AXFocusedWindow");
    ASSERT_TRUE(focused.ok());
    EXPECT_EQ(std::get<Element>(focused.value), *window);
}

TEST_F(AtspiAccessibilityTest, WithoutABusOrWithAccessibilityOffNothingIsRead) {
    startApp();
    const pid_t pid = app_->pid();
    auto nowhere = accessibility(std::nullopt);
    auto elsewhere = accessibility("unix:path=" + runtimeDirectory_ + "/no-bus-here");
    for (auto* tree : {nowhere.get(), elsewhere.get()}) {
        EXPECT_FALSE(tree->isProcessTrusted());
        EXPECT_FALSE(tree->createObserver(pid, [](const Element&, const std::string&) {}));
        EXPECT_EQ(tree->copyAttributeValue(tree->applicationElement(pid), "AXFocusedWindow").code,
                  ax_error::apiDisabled);
    }

    auto tree = accessibility(sessionAddress_);
    ASSERT_TRUE(tree->isProcessTrusted());
    ASSERT_TRUE(enable(false));
    // The change is heard, not polled for.
    EXPECT_TRUE(testing::eventually([&] { return !tree->isProcessTrusted(); }));
    EXPECT_EQ(tree->copyAttributeValue(tree->applicationElement(pid), "AXFocusedWindow").code, ax_error::apiDisabled);
}

// The clock stands still, so the view of the application is never read anew
// for its age: what a scroll moved is read again because the scroll was
// heard, or never. The rest of the window is not read again at all.
TEST_F(AtspiAccessibilityTest, AListScrolledBackAndForthIsReadWhereItIsNow) {
    ManualRuntime frozen;
    AtspiAccessibility tree(frozen, *windowServer_, sessionAddress_);
    const nlohmann::json app = startApp();
    const pid_t pid = app_->pid();
    nlohmann::json shown = app;
    ASSERT_TRUE(testing::eventually([&] { return (shown = tell("report"))["active"] == "main"; }));
    // Until the application is on the bus, looking it up again waits for the clock.
    ASSERT_TRUE(testing::eventually([&] {
        frozen.advance(1);
        return tree.copyAttributeValue(tree.applicationElement(pid), "AXFocusedWindow").ok();
    }));
    // What a walk finds at the middle of `widget`, when it is there.
    const auto at = [&](const nlohmann::json& widget) -> std::optional<Element> {
        tree.copyAttributeValue(tree.applicationElement(pid), "AXFocusedWindow");  // as a walk begins
        const auto hit =
            tree.elementAtPosition(tree.applicationElement(pid),
                                   static_cast<float>(widget["x"].get<double>() + widget["width"].get<double>() / 2),
                                   static_cast<float>(widget["y"].get<double>() + widget["height"].get<double>() / 2));
        if (!hit.ok()) return std::nullopt;
        const auto position = tree.copyAttributeValue(hit.value, "AXPosition");
        const auto size = tree.copyAttributeValue(hit.value, "AXSize");
        if (!position.ok() || !size.ok() ||
            !(std::get<Point>(position.value) == Point{widget["x"].get<double>(), widget["y"].get<double>()}) ||
            !(std::get<Size>(size.value) == Size{widget["width"].get<double>(), widget["height"].get<double>()}))
            return std::nullopt;
        return hit.value;
    };
    const auto row0 = at(shown["widgets"]["row0"]);
    const auto save = at(shown["widgets"]["save"]);
    ASSERT_TRUE(row0 && save);
    const nlohmann::json scrolled = tell("scroll")["widgets"];
    std::optional<Element> row39;
    EXPECT_TRUE(testing::eventually([&] { return (row39 = at(scrolled["row39"])) && *row39 != *row0; }));
    const nlohmann::json back = tell("scroll")["widgets"];
    ASSERT_EQ(back["row0"], shown["widgets"]["row0"]);
    EXPECT_TRUE(testing::eventually([&] { return at(back["row0"]) == row0; }));
    EXPECT_EQ(at(back["save"]), save);
}

}  // namespace
}  // namespace scene::x11
