#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/accessibility.h"
#include "platform/atspi/atspi_bus.h"
#include "platform/atspi/atspi_element.h"
#include "platform/atspi/atspi_event_loop.h"
#include "platform/atspi/atspi_view.h"
#include "platform/runtime.h"
#include "platform/window_server.h"

namespace scene::atspi {

// The accessibility interface of a Linux desktop, over AT-SPI's D-Bus
// protocol. The process is trusted while the accessibility bus answers and
// says it is enabled (org.a11y.Status IsEnabled, which the user turns on).
// Applications are the registry's children, known by the process id of
// their connection; attributes are read from a view of the application (its
// toolkit's cache, kept up to date by its events, with extents read in
// batches and kept until an event says they may have moved) and hit tests
// follow the window list's stacking. Focus and window activation events
// reach observers on the main queue. Any thread: samplers read from their
// own queues, one read at a time.
class AtspiAccessibility final : public Accessibility {
public:
    // `sessionBus` is where to ask for the accessibility bus; none means the
    // process is never trusted.
    AtspiAccessibility(Runtime& runtime, WindowServer& windowServer, std::optional<std::string> sessionBus);
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility&) = delete;
    AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

    bool isProcessTrusted() override;
    Element applicationElement(std::int32_t processIdentifier) override;
    void setMessagingTimeout(const Element& element, double seconds) override;
    AXResult<AXValue> copyAttributeValue(const Element& element, std::string_view attribute) override;
    AXResult<std::vector<Element>> copyAttributeValues(const Element& element, std::string_view attribute, int index,
                                                       int maxValues) override;
    AXResult<bool> isAttributeSettable(const Element& element, std::string_view attribute) override;
    // The window list decides whose window is under the point; within one of
    // the application's windows the deepest showing accessible whose extents
    // hold the point answers. A point over another application's window
    // finds nothing of this one.
    AXResult<Element> elementAtPosition(const Element& application, float x, float y) override;
    AXResult<std::int32_t> processIdentifier(const Element& element) override;
    std::unique_ptr<AXObserver> createObserver(std::int32_t processIdentifier, AXObserverCallback callback) override;

    struct Observers;  // the attached observers, shared with the observers themselves

private:
    // The two buses and whether accessibility is on, as last heard.
    struct Connection {
        std::shared_ptr<AtspiBus> session;
        std::shared_ptr<AtspiBus> bus;
        std::atomic<bool> enabled{false};
    };
    std::shared_ptr<Connection> connection();
    std::shared_ptr<Connection> connect();
    void listen(const std::shared_ptr<Connection>& connection);
    void heard(const BusSignal& signal, const std::shared_ptr<AtspiBus>& bus);

    // Process ids of the applications' connections.
    std::optional<std::string> busOf(std::int32_t pid, const std::shared_ptr<AtspiBus>& bus);
    std::optional<std::int32_t> pidOf(const std::string& name, const std::shared_ptr<AtspiBus>& bus);

    // Reads below run under `readMutex_`.
    struct Reader;
    // The application's own connection where it offers one (the requests
    // then skip the bus daemon, half the trips), else the bus.
    std::shared_ptr<AtspiBus> peer(const std::string& name, const std::shared_ptr<AtspiBus>& bus);
    // The application's view; `walk` when a walk begins with this read.
    AtspiView& view(Reader& reader, const std::string& name, bool walk);
    AXResult<AXValue> applicationAttribute(Reader& reader, const AtspiElementNode& node, std::string_view attribute);
    AXResult<AXValue> nodeAttribute(Reader& reader, const AtspiElementNode& node, std::string_view attribute);
    int ensureFacts(Reader& reader, AtspiView& view, const std::string& name, const std::vector<std::string>& paths);
    AXResult<std::vector<std::string>> children(Reader& reader, AtspiView& view, const std::string& name,
                                                const std::string& path);
    AXResult<Rect> extents(Reader& reader, AtspiView& view, const std::string& name, const std::string& path,
                           bool fresh);
    int ensureExtents(Reader& reader, AtspiView& view, const std::string& name, const std::vector<std::string>& paths);
    std::vector<std::string> windows(Reader& reader, AtspiView& view, const std::string& name);
    std::optional<std::string> focusedWindow(Reader& reader, AtspiView& view, const std::string& name,
                                             std::int32_t pid);
    // The application's window that the window list's `bounds` stand for.
    std::optional<std::string> windowAt(Reader& reader, AtspiView& view, const std::string& name, const Rect& bounds);

    Runtime& runtime_;
    WindowServer& windowServer_;
    const std::optional<std::string> sessionBus_;
    ElementTable elements_;
    std::shared_ptr<Observers> observers_;
    std::atomic<double> messagingTimeout_;
    AtspiEventLoop events_;

    std::mutex connectionMutex_;
    std::shared_ptr<Connection> connection_;
    std::optional<double> lastAttempt_;

    std::mutex namesMutex_;
    std::map<std::int32_t, std::string> names_;  // pid -> the application's bus name
    std::map<std::string, std::int32_t> pids_;   // bus name -> pid, also of names that are no application
    std::optional<double> lastListed_;

    std::mutex readMutex_;
    std::map<std::string, AtspiView> views_;                  // by bus name
    std::map<std::string, std::shared_ptr<AtspiBus>> peers_;  // by bus name; null: none offered
};

}  // namespace scene::atspi
