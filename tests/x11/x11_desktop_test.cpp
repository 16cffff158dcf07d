#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/asio_runtime.h"
#include "platform/x11/x11_platform.h"
#include "x_session_for_test.h"

namespace scene::x11 {
namespace {

using testing::Child;
using testing::eventually;
using testing::installed;

class X11DesktopTest : public testing::XSessionTest {
protected:
    void SetUp() override {
        XSessionTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        runtime_ = std::make_unique<AsioRuntime>();
        platform_ = X11Platform::open(display_, *runtime_);
        ASSERT_TRUE(platform_);
    }
    void TearDown() override {
        platform_.reset();
        XSessionTest::TearDown();
    }

    std::unique_ptr<AsioRuntime> runtime_;
    std::unique_ptr<X11Platform> platform_;
};

TEST_F(X11DesktopTest, ListsAClientWithItsOwnerAndFramedBoundsAndMakesItFront) {
    if (!installed("xterm")) GTEST_SKIP() << "xterm is needed";
    Child client({"xterm", "-geometry", "80x24+100+100"}, {displayVariable()});
    ASSERT_GT(client.pid(), 0);
    auto& server = platform_->windowServer();
    std::shared_ptr<const nlohmann::json> list;
    ASSERT_TRUE(eventually([&] {
        list = server.copyWindowList();
        for (const auto& entry : *list)
            if (entry.value("kCGWindowOwnerPID", 0) == client.pid()) return true;
        return false;
    }));
    for (const auto& entry : *list) {
        if (entry.value("kCGWindowOwnerPID", 0) != client.pid()) continue;
        EXPECT_EQ(entry["kCGWindowLayer"], kNormalLevel);
        EXPECT_GT(entry["kCGWindowBounds"]["Width"].get<double>(), 0.0);
        EXPECT_TRUE(entry["kCGWindowBounds"]["X"].is_number_float());
    }
    auto& workspace = platform_->workspace();
    EXPECT_TRUE(eventually([&] {
        const auto front = workspace.frontmostApplication();
        return front && front->processIdentifier == client.pid() && front->bundleIdentifier == "XTerm";
    }));
    EXPECT_TRUE(workspace.bundlePath(client.pid()));
}

TEST_F(X11DesktopTest, DisplaysComeFromTheServerMonitors) {
    auto& server = platform_->windowServer();
    const auto displays = server.activeDisplayList(8);
    ASSERT_TRUE(displays);
    ASSERT_EQ(displays->size(), 1u);
    EXPECT_EQ(server.displayBounds(displays->front()), (Rect{0, 0, 1280, 800}));
    EXPECT_TRUE(server.displayIsActive(displays->front()));
    EXPECT_TRUE(server.displayUUID(displays->front()));
    EXPECT_EQ(server.sessionDictionary(),
              (nlohmann::json{{"CGSSessionScreenIsLocked", false}, {"kCGSSessionOnConsoleKey", true}}));
}

}  // namespace
}  // namespace scene::x11
