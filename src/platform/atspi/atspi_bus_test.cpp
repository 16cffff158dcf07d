#include "platform/atspi/atspi_bus.h"

#include <gtest/gtest.h>

#include "platform/accessibility.h"

namespace scene::atspi {
namespace {

TEST(AtspiBusTest, FailedCallsBecomeTheResultCodesTheSamplersTellApart) {
    struct Case {
        GQuark domain;
        int code;
        int result;
    };
    for (const auto& [domain, code, result] : {
             Case{G_IO_ERROR, G_IO_ERROR_TIMED_OUT, ax_error::cannotComplete},
             Case{G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY, ax_error::cannotComplete},
             // The application is gone.
             Case{G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN, ax_error::invalidElement},
             Case{G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT, ax_error::invalidElement},
             Case{G_IO_ERROR, G_IO_ERROR_CLOSED, ax_error::invalidElement},
             Case{G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD, ax_error::attributeUnsupported},
             Case{G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED, ax_error::failure},
         }) {
        GError* error = g_error_new_literal(domain, code, "");
        EXPECT_EQ(resultCode(error), result) << g_quark_to_string(domain) << " " << code;
        g_error_free(error);
    }
}

TEST(AtspiBusTest, TheSessionBusIsWhereTheEnvironmentSaysAndNeverAnAutolaunch) {
    EXPECT_EQ(sessionBusAddress("unix:path=/run/bus", "/run/user/1"), "unix:path=/run/bus");
    EXPECT_EQ(sessionBusAddress(nullptr, nullptr), std::nullopt);
    EXPECT_EQ(sessionBusAddress("", "/nonexistent-runtime-directory"), std::nullopt);
}

}  // namespace
}  // namespace scene::atspi
