#include "platform/atspi/atspi_accessibility.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "platform/json_read.h"
#include "platform/records.h"

namespace scene::atspi {
namespace {

// Finding the accessibility bus may start its launcher; a session bus that
// takes longer than this is not going to be of use to a sampler either.
constexpr double kLookupTimeout = 1.0;
// A missing bus is asked for again at most this often.
constexpr double kRetrySpacing = 5.0;
// Applications appear on the registry as they start; an unknown process id
// sends the next look-up to the registry at most this often.
constexpr double kListingSpacing = 0.5;
// Reading an application's focused window begins a walk: the walk reads
// extents and the window list anew, unless another walk began this recently
// (the two samplers start theirs together and share them). Reads that come
// with no walk take what is at most this old.
constexpr double kWalkRenewal = 0.05;
constexpr double kWalkLife = 0.5;
// Events keep a view up to date; it is read in full again this often all
// the same, for toolkits that change things without a word.
constexpr double kViewLife = 2;
// A window's position is always asked anew (walks compare the frame at
// their end with the one at their start); its size comes with it.
constexpr double kWindowFrameReuse = 0.02;
// At most this many calls go out in one batch.
constexpr std::size_t kBatchLimit = 96;
// How far a window's accessible extents may be from the window list's
// bounds of the same window (the window list's frame includes the manager's
// decorations where the toolkit's may not).
constexpr double kWindowOffset = 16;
constexpr double kWindowSize = 48;
constexpr int kHitDepth = 64;
constexpr int kFocusDepth = 64;
// Until a sampler sets one.
constexpr double kDefaultTimeout = 0.025;

constexpr const char* kRegistry = "org.a11y.atspi.Registry";
constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr const char* kComponent = "org.a11y.atspi.Component";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kBusDaemon = "org.freedesktop.DBus";
constexpr const char* kStatus = "org.a11y.Status";
constexpr std::uint32_t kScreenCoordinates = 0;

// The events the views and the observers need, which the toolkits only send
// once a listener has registered for them (that also makes GTK keep its
// cache and announce what it adds to it and removes).
constexpr const char* kStateEvents = "object:state-changed";
constexpr const char* kChildrenEvents = "object:children-changed";
constexpr const char* kBoundsEvents = "object:bounds-changed";
constexpr const char* kValueEvents = "object:property-change:accessible-value";
constexpr const char* kActivateEvent = "window:activate";
constexpr const char* kObjectEvents = "org.a11y.atspi.Event.Object";
constexpr const char* kWindowEvents = "org.a11y.atspi.Event.Window";
constexpr const char* kCache = "org.a11y.atspi.Cache";

// What the samplers read, and where it comes from:
//   application element   the registry's application whose connection
//                         belongs to the process id
//   AXRole, AXSubrole     the role table (atspi_roles.cpp)
//   AXFocusedWindow       the application's window marked active, else its
//                         front-most one in the window list
//   AXFocusedUIElement    the focused accessible inside that window
//   AXPosition, AXSize    Component extents in screen coordinates
//   AXParent, AXChildren  the cache's parent and children (AXVisibleChildren:
//                         those showing)
//   AXHidden              not showing
//   AXEnabled, AXEditable, AXFocused   the enabled, editable, focused states
//   AXValue settable      editable text, or an enabled Value
//   hit test              the window list's front-most window at the point,
//                         then down through the children that hold it
constexpr std::string_view kRole = "AXRole";
constexpr std::string_view kSubrole = "AXSubrole";
constexpr std::string_view kFocusedWindow = "AXFocusedWindow";
constexpr std::string_view kFocusedUIElement = "AXFocusedUIElement";
constexpr std::string_view kFocused = "AXFocused";
constexpr std::string_view kHidden = "AXHidden";
constexpr std::string_view kEnabled = "AXEnabled";
constexpr std::string_view kEditable = "AXEditable";
constexpr std::string_view kPosition = "AXPosition";
constexpr std::string_view kSize = "AXSize";
constexpr std::string_view kParent = "AXParent";
constexpr std::string_view kChildren = "AXChildren";
constexpr std::string_view kVisibleChildren = "AXVisibleChildren";
constexpr std::string_view kValue = "AXValue";
constexpr std::string_view kApplicationRole = "AXApplication";

BusCall accessibleCall(const std::string& name, const std::string& path, const char* method,
                       GVariant* parameters = nullptr) {
    return {name, path, kAccessible, method, parameters};
}

BusCall extentsCall(const std::string& name, const std::string& path) {
    return {name, path, kComponent, "GetExtents", g_variant_new("(u)", kScreenCoordinates)};
}

BusCall propertyCall(const std::string& name, const std::string& path, const char* interface, const char* property) {
    return {name, path, kProperties, "Get", g_variant_new("(ss)", interface, property)};
}

// The object path of a (so) reference, when it is on `name`'s connection.
std::optional<std::string> sameConnection(GVariant* reference, const std::string& name) {
    const gchar* bus = nullptr;
    const gchar* path = nullptr;
    g_variant_get(reference, "(&s&o)", &bus, &path);
    if (name != bus) return std::nullopt;
    return std::string(path);
}

std::optional<Rect> windowListBounds(const nlohmann::json& entry) {
    const Json* bounds = json_read::member(entry, "kCGWindowBounds");
    if (bounds == nullptr) return std::nullopt;
    return json_read::windowBounds(*bounds);
}

bool holds(const Rect& rect, double x, double y) {
    return rect.absWidth() > 0 && rect.absHeight() > 0 && x >= rect.minX() && x < rect.maxX() && y >= rect.minY() &&
           y < rect.maxY();
}

double distance(const Rect& a, const Rect& b) {
    return std::fabs(a.minX() - b.minX()) + std::fabs(a.minY() - b.minY()) + std::fabs(a.absWidth() - b.absWidth()) +
           std::fabs(a.absHeight() - b.absHeight());
}

bool near(const Rect& a, const Rect& b) {
    return std::fabs(a.minX() - b.minX()) <= kWindowOffset && std::fabs(a.minY() - b.minY()) <= kWindowOffset &&
           std::fabs(a.absWidth() - b.absWidth()) <= kWindowSize &&
           std::fabs(a.absHeight() - b.absHeight()) <= kWindowSize;
}

bool showing(const Facts& facts) { return has(facts.states, state::showing) && !has(facts.states, state::defunct); }

// Visible means shown by the application; showing, also on screen. A
// scrolled viewport of GTK 3 says it is neither showing nor anywhere (its
// extents are the least integers) while what it holds shows, so walks and
// hit tests go by visibility and leave the screen to the extents.
bool visible(const Facts& facts) { return has(facts.states, state::visible) && !has(facts.states, state::defunct); }

bool placed(const Rect& rect) {
    constexpr double kNowhere = std::numeric_limits<std::int32_t>::min();
    return rect.minX() > kNowhere && rect.minY() > kNowhere;
}

// Controls end a hit test: what they hold (a label, an icon) is part of them.
bool isHitLeaf(std::uint32_t atspiRole) {
    switch (atspiRole) {
        case role::pushButton:
        case role::pushButtonMenu:
        case role::toggleButton:
        case role::checkBox:
        case role::radioButton:
        case role::comboBox:
        case role::link:
        case role::menuItem:
        case role::pageTab:
        case role::slider:
        case role::spinButton:
        case role::text:
        case role::entry:
        case role::passwordText:
            return true;
        default:
            return false;
    }
}

// The rectangle of a bounds-changed event (siiva{sv}, the v an (iiii)).
std::optional<Rect> announcedBounds(GVariant* body) {
    if (!g_variant_is_of_type(body, G_VARIANT_TYPE("(siiva{sv})"))) return std::nullopt;
    GVariant* boxed = g_variant_get_child_value(body, 3);
    GVariant* inner = g_variant_get_variant(boxed);
    g_variant_unref(boxed);
    std::optional<Rect> bounds;
    if (g_variant_is_of_type(inner, G_VARIANT_TYPE("(iiii)"))) {
        gint32 x = 0, y = 0, width = 0, height = 0;
        g_variant_get(inner, "(iiii)", &x, &y, &width, &height);
        bounds = Rect{static_cast<double>(x), static_cast<double>(y), static_cast<double>(width),
                      static_cast<double>(height)};
    }
    g_variant_unref(inner);
    return bounds;
}

// Extents read during the view's current walk.
bool readThisEpoch(const AtspiView& view, const Facts& facts) {
    return facts.extents && facts.extentsEpoch == view.epoch;
}

}  // namespace

// Observers attached to the main loop, by the process id they watch. Shared
// by the accessibility and its observers, so either may go first.
struct AtspiAccessibility::Observers {
    struct Entry {
        std::int32_t pid = 0;
        std::set<std::string, std::less<>> notifications;
        AXObserverCallback callback;
        bool attached = false;  // on the main queue only
    };
    Runtime& runtime;
    std::mutex mutex;
    std::vector<std::shared_ptr<Entry>> entries;

    explicit Observers(Runtime& runtime) : runtime(runtime) {}

    void deliver(std::int32_t pid, const std::string& notification, const Element& element) {
        std::lock_guard lock(mutex);
        for (const auto& entry : entries) {
            if (entry->pid != pid) continue;
            runtime.mainQueue().post([weak = std::weak_ptr<Entry>(entry), notification, element] {
                const auto live = weak.lock();
                if (live && live->attached && live->notifications.contains(notification))
                    live->callback(element, notification);
            });
        }
    }
};

namespace {

// One application's focus observer: an entry that hears the notifications
// added to it while it is attached. Used on the main queue.
class AtspiObserver final : public AXObserver {
public:
    AtspiObserver(std::shared_ptr<AtspiAccessibility::Observers> observers, std::int32_t pid,
                  AXObserverCallback callback)
        : observers_(std::move(observers)), entry_(std::make_shared<AtspiAccessibility::Observers::Entry>()) {
        entry_->pid = pid;
        entry_->callback = std::move(callback);
    }
    ~AtspiObserver() override { detachFromMainLoop(); }
    AtspiObserver(const AtspiObserver&) = delete;
    AtspiObserver& operator=(const AtspiObserver&) = delete;

    int addNotification(const Element&, std::string_view notification) override {
        if (notification != kFocusedWindowChanged && notification != kFocusedUIElementChanged)
            return ax_error::illegalArgument;
        entry_->notifications.emplace(notification);
        return ax_error::success;
    }
    void attachToMainLoop() override {
        if (entry_->attached) return;
        entry_->attached = true;
        std::lock_guard lock(observers_->mutex);
        observers_->entries.push_back(entry_);
    }
    void detachFromMainLoop() override {
        if (!entry_->attached) return;
        entry_->attached = false;
        std::lock_guard lock(observers_->mutex);
        std::erase(observers_->entries, entry_);
    }

private:
    std::shared_ptr<AtspiAccessibility::Observers> observers_;
    std::shared_ptr<AtspiAccessibility::Observers::Entry> entry_;
};

}  // namespace

// What one read carries: the bus it reads from and the time it began.
struct AtspiAccessibility::Reader {
    std::shared_ptr<AtspiBus> bus;
    double now = 0;
    double timeout = 0;
};

AtspiAccessibility::AtspiAccessibility(Runtime& runtime, WindowServer& windowServer,
                                       std::optional<std::string> sessionBus)
    : runtime_(runtime),
      windowServer_(windowServer),
      sessionBus_(std::move(sessionBus)),
      observers_(std::make_shared<Observers>(runtime)),
      messagingTimeout_(kDefaultTimeout) {}

AtspiAccessibility::~AtspiAccessibility() { events_.unsubscribeAll(); }

// ---- Trust and the buses

std::shared_ptr<AtspiAccessibility::Connection> AtspiAccessibility::connection() {
    std::lock_guard lock(connectionMutex_);
    if (connection_ && !connection_->bus->closed() && !connection_->session->closed()) return connection_;
    if (connection_) {
        events_.unsubscribeAll();
        connection_.reset();
    }
    const double now = runtime_.clock().uptime();
    if (lastAttempt_ && now - *lastAttempt_ < kRetrySpacing) return nullptr;
    lastAttempt_ = now;
    connection_ = connect();
    if (connection_) listen(connection_);
    return connection_;
}

std::shared_ptr<AtspiAccessibility::Connection> AtspiAccessibility::connect() {
    if (!sessionBus_) return nullptr;
    auto session = AtspiBus::open(*sessionBus_);
    if (!session) return nullptr;
    // The launcher hands out the bus's address; it need not be running yet.
    BusCall lookup{"org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr, true};
    const BusReply address = session->call(lookup, kLookupTimeout);
    if (!address.ok()) return nullptr;
    const gchar* text = nullptr;
    g_variant_get(address.body.get(), "(&s)", &text);
    auto bus = AtspiBus::open(text);
    if (!bus) return nullptr;
    auto connection = std::make_shared<Connection>();
    connection->session = std::move(session);
    connection->bus = std::move(bus);
    const BusReply enabled =
        connection->session->call(propertyCall("org.a11y.Bus", "/org/a11y/bus", kStatus, "IsEnabled"), kLookupTimeout);
    if (enabled.ok()) {
        GVariant* value = nullptr;
        g_variant_get(enabled.body.get(), "(v)", &value);
        connection->enabled = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
        g_variant_unref(value);
    }
    return connection;
}

void AtspiAccessibility::listen(const std::shared_ptr<Connection>& connection) {
    std::weak_ptr<Connection> weak = connection;
    events_.subscribe(
        connection->session, kProperties, "PropertiesChanged", "/org/a11y/bus", [weak](const BusSignal& signal) {
            const gchar* interface = nullptr;
            GVariant* changed = nullptr;
            g_variant_get(signal.body, "(&s@a{sv}@as)", &interface, &changed, nullptr);
            gboolean enabled = FALSE;
            if (std::string_view(interface) == kStatus && g_variant_lookup(changed, "IsEnabled", "b", &enabled)) {
                if (const auto live = weak.lock()) live->enabled = enabled != FALSE;
            }
            g_variant_unref(changed);
        });
    const std::weak_ptr<AtspiBus> bus = connection->bus;
    const auto on = [&](const char* interface, const char* member) {
        events_.subscribe(connection->bus, interface, member, nullptr, [this, bus](const BusSignal& signal) {
            if (const auto live = bus.lock()) heard(signal, live);
        });
    };
    on(kObjectEvents, "StateChanged");
    on(kObjectEvents, "ChildrenChanged");
    on(kObjectEvents, "BoundsChanged");
    on(kObjectEvents, "PropertyChange");
    on(kWindowEvents, "Activate");
    on(kCache, "AddAccessible");
    on(kCache, "RemoveAccessible");
    for (const char* event : {kStateEvents, kChildrenEvents, kBoundsEvents, kValueEvents, kActivateEvent}) {
        // The registry starts with the first application, which may not
        // have come yet.
        connection->bus->call({kRegistry, "/org/a11y/atspi/registry", kRegistry, "RegisterEvent",
                               g_variant_new("(s@ass)", event, g_variant_new_strv(nullptr, 0), ""), true},
                              kLookupTimeout);
    }
}

// On the event thread: the views follow the toolkits' changes, and focus
// and activation reach the observers.
void AtspiAccessibility::heard(const BusSignal& signal, const std::shared_ptr<AtspiBus>& bus) {
    std::optional<std::string_view> notification;
    {
        std::lock_guard lock(readMutex_);
        const auto found = views_.find(signal.sender);
        AtspiView* known = found != views_.end() ? &found->second : nullptr;
        if (signal.member == "StateChanged") {
            const gchar* detail = nullptr;
            gint32 on = 0;
            g_variant_get_child(signal.body, 0, "&s", &detail);
            g_variant_get_child(signal.body, 1, "i", &on);
            const auto bit = stateNamed(detail);
            if (known != nullptr && bit) known->changeState(signal.path, *bit, on != 0);
            if (bit == state::focused && on != 0) notification = kFocusedUIElementChanged;
        } else if (signal.member == "BoundsChanged") {
            if (known != nullptr) {
                if (const auto bounds = announcedBounds(signal.body)) {
                    known->announce(signal.path, *bounds);
                } else {
                    known->moved(signal.path);
                }
            }
        } else if (signal.member == "PropertyChange") {
            // A scroll bar that moved scrolled what it scrolls.
            const gchar* property = nullptr;
            g_variant_get_child(signal.body, 0, "&s", &property);
            const Facts* source = known != nullptr ? known->find(signal.path) : nullptr;
            if (source != nullptr && source->role == role::scrollBar &&
                std::string_view(property) == "accessible-value")
                known->scrolled(signal.path);
        } else if (signal.member == "ChildrenChanged") {
            if (known != nullptr) known->childrenChanged(signal.path);
        } else if (signal.member == "AddAccessible") {
            GVariant* item = g_variant_get_child_value(signal.body, 0);
            if (known != nullptr) known->add(item);
            g_variant_unref(item);
        } else if (signal.member == "RemoveAccessible") {
            GVariant* reference = g_variant_get_child_value(signal.body, 0);
            if (const auto path = sameConnection(reference, signal.sender); known != nullptr && path)
                known->remove(*path);
            g_variant_unref(reference);
        } else if (signal.member == "Activate") {
            if (known != nullptr) {
                known->changeState(signal.path, state::active, true);
                known->activated = signal.path;
            }
            notification = kFocusedWindowChanged;
        }
    }
    if (!notification) return;
    const auto pid = pidOf(signal.sender, bus);
    if (!pid) return;
    observers_->deliver(*pid, std::string(*notification), elements_.element(signal.sender, signal.path, *pid));
}

bool AtspiAccessibility::isProcessTrusted() {
    const auto live = connection();
    return live && live->enabled;
}

// ---- Applications

std::optional<std::int32_t> AtspiAccessibility::pidOf(const std::string& name, const std::shared_ptr<AtspiBus>& bus) {
    {
        std::lock_guard lock(namesMutex_);
        if (const auto found = pids_.find(name); found != pids_.end()) return found->second;
    }
    const BusReply reply = bus->call({kBusDaemon, "/org/freedesktop/DBus", kBusDaemon, "GetConnectionUnixProcessID",
                                      g_variant_new("(s)", name.c_str())},
                                     kLookupTimeout);
    if (!reply.ok()) return std::nullopt;
    guint32 pid = 0;
    g_variant_get(reply.body.get(), "(u)", &pid);
    std::lock_guard lock(namesMutex_);
    pids_[name] = static_cast<std::int32_t>(pid);
    return static_cast<std::int32_t>(pid);
}

std::optional<std::string> AtspiAccessibility::busOf(std::int32_t pid, const std::shared_ptr<AtspiBus>& bus) {
    const double now = runtime_.clock().uptime();
    {
        std::lock_guard lock(namesMutex_);
        if (const auto found = names_.find(pid); found != names_.end()) return found->second;
        if (lastListed_ && now - *lastListed_ < kListingSpacing) return std::nullopt;
        lastListed_ = now;
    }
    const BusReply listing =
        bus->call(accessibleCall(kRegistry, std::string(kRootPath), "GetChildren"), kLookupTimeout);
    if (!listing.ok()) return std::nullopt;
    std::vector<std::string> applications;
    GVariant* references = g_variant_get_child_value(listing.body.get(), 0);
    GVariantIter iter;
    g_variant_iter_init(&iter, references);
    const gchar* name = nullptr;
    while (g_variant_iter_next(&iter, "(&s&o)", &name, nullptr)) applications.emplace_back(name);
    g_variant_unref(references);

    std::vector<std::string> unknown;
    {
        std::lock_guard lock(namesMutex_);
        for (const auto& application : applications)
            if (!pids_.contains(application)) unknown.push_back(application);
    }
    std::vector<BusCall> calls;
    for (const auto& application : unknown)
        calls.push_back({kBusDaemon, "/org/freedesktop/DBus", kBusDaemon, "GetConnectionUnixProcessID",
                         g_variant_new("(s)", application.c_str())});
    const auto replies = bus->callAll(calls, kLookupTimeout);
    std::lock_guard lock(namesMutex_);
    for (std::size_t index = 0; index < unknown.size(); ++index) {
        if (!replies[index].ok()) continue;
        guint32 owner = 0;
        g_variant_get(replies[index].body.get(), "(u)", &owner);
        pids_[unknown[index]] = static_cast<std::int32_t>(owner);
    }
    // Names of applications that have gone are dropped with the listing.
    names_.clear();
    for (const auto& application : applications) {
        const auto found = pids_.find(application);
        if (found != pids_.end()) names_.emplace(found->second, application);
    }
    if (const auto found = names_.find(pid); found != names_.end()) return found->second;
    return std::nullopt;
}

Element AtspiAccessibility::applicationElement(std::int32_t processIdentifier) {
    const auto live = connection();
    std::optional<std::string> name;
    if (live) name = busOf(processIdentifier, live->bus);
    // An application that is not on the bus (yet) has an element that
    // answers nothing.
    if (!name) return elements_.element("", std::string(kRootPath), processIdentifier);
    return elements_.element(*name, std::string(kRootPath), processIdentifier);
}

// Every application gets the same time-out, and the samplers all ask for the
// same one; it is kept for the next reads of any application.
void AtspiAccessibility::setMessagingTimeout(const Element&, double seconds) {
    if (seconds > 0) messagingTimeout_ = seconds;
}

AXResult<std::int32_t> AtspiAccessibility::processIdentifier(const Element& element) {
    const AtspiElementNode* node = atspiNode(element);
    if (node == nullptr) return {ax_error::illegalArgument, 0};
    if (node->pid <= 0) return {ax_error::invalidElement, 0};
    return {ax_error::success, node->pid};
}

std::unique_ptr<AXObserver> AtspiAccessibility::createObserver(std::int32_t processIdentifier,
                                                               AXObserverCallback callback) {
    if (processIdentifier <= 0 || !callback || !isProcessTrusted()) return nullptr;
    return std::make_unique<AtspiObserver>(observers_, processIdentifier, std::move(callback));
}

// ---- Reads

AXResult<AXValue> AtspiAccessibility::copyAttributeValue(const Element& element, std::string_view attribute) {
    const AtspiElementNode* node = atspiNode(element);
    if (node == nullptr) return {ax_error::illegalArgument, {}};
    const auto live = connection();
    if (!live || !live->enabled) return {ax_error::apiDisabled, {}};
    if (node->bus.empty()) return {ax_error::invalidElement, {}};
    std::lock_guard lock(readMutex_);
    Reader reader{peer(node->bus, live->bus), runtime_.clock().uptime(), messagingTimeout_};
    if (node->isApplication()) return applicationAttribute(reader, *node, attribute);
    return nodeAttribute(reader, *node, attribute);
}

std::shared_ptr<AtspiBus> AtspiAccessibility::peer(const std::string& name, const std::shared_ptr<AtspiBus>& bus) {
    auto found = peers_.find(name);
    if (found != peers_.end() && found->second && found->second->closed()) {
        // The application went away, or closed its door: the bus tells which.
        peers_.erase(found);
        return bus;
    }
    if (found == peers_.end()) {
        std::shared_ptr<AtspiBus> direct;
        const BusReply address = bus->call(
            {name, std::string(kRootPath), "org.a11y.atspi.Application", "GetApplicationBusAddress"}, kLookupTimeout);
        if (address.ok()) {
            const gchar* text = nullptr;
            g_variant_get(address.body.get(), "(&s)", &text);
            if (*text != '\0') direct = AtspiBus::open(text, AtspiBus::Kind::peer);
        }
        std::erase_if(peers_, [](const auto& entry) { return entry.second && entry.second->closed(); });
        found = peers_.emplace(name, std::move(direct)).first;
    }
    return found->second ? found->second : bus;
}

AtspiView& AtspiAccessibility::view(Reader& reader, const std::string& name, bool walk) {
    auto found = views_.find(name);
    // A walk reads a stale view anew; other reads make do with it.
    if (found == views_.end() || (walk && found->second.stale) || reader.now - found->second.taken > kViewLife) {
        // Longer than a single call: the whole tree comes in one reply.
        const BusReply items = reader.bus->call({name, "/org/a11y/atspi/cache", kCache, "GetItems"},
                                                reader.timeout + static_cast<double>(kBatchLimit) * 0.001);
        AtspiView next = AtspiView::empty(reader.now);
        if (items.ok()) {
            GVariant* list = g_variant_get_child_value(items.body.get(), 0);
            next = AtspiView::fromCache(list, reader.now);
            g_variant_unref(list);
        }
        if (found != views_.end()) next.follow(found->second);
        // Applications that have not been read for a while are forgotten.
        for (auto view = views_.begin(); view != views_.end();) {
            if (reader.now - view->second.walkBegan <= kViewLife) {
                ++view;
                continue;
            }
            peers_.erase(view->first);
            view = views_.erase(view);
        }
        found = views_.insert_or_assign(name, std::move(next)).first;
        found->second.walkBegan = reader.now;
        found->second.windows = windowServer_.copyWindowList();
    }
    AtspiView& current = found->second;
    current.settle();
    if (reader.now - current.walkBegan >= (walk ? kWalkRenewal : kWalkLife)) {
        current.walkBegan = reader.now;
        current.windows = windowServer_.copyWindowList();
    }
    return current;
}

int AtspiAccessibility::ensureFacts(Reader& reader, AtspiView& view, const std::string& name,
                                    const std::vector<std::string>& paths) {
    if (paths.empty()) return ax_error::success;
    std::vector<std::string> missing;
    for (const auto& path : paths)
        if (view.find(path) == nullptr && missing.size() * 3 < kBatchLimit) missing.push_back(path);
    if (missing.empty()) return ax_error::success;
    std::vector<BusCall> calls;
    for (const auto& path : missing) {
        calls.push_back(accessibleCall(name, path, "GetRole"));
        calls.push_back(accessibleCall(name, path, "GetState"));
        calls.push_back(accessibleCall(name, path, "GetInterfaces"));
    }
    const auto replies = reader.bus->callAll(calls, reader.timeout);
    int code = ax_error::success;
    for (std::size_t index = 0; index < missing.size(); ++index) {
        const BusReply& role = replies[3 * index];
        const BusReply& states = replies[3 * index + 1];
        const BusReply& interfaces = replies[3 * index + 2];
        if (!role.ok() || !states.ok()) {
            if (missing[index] == paths.front()) code = !role.ok() ? role.code : states.code;
            continue;
        }
        Facts facts;
        g_variant_get(role.body.get(), "(u)", &facts.role);
        GVariant* words = g_variant_get_child_value(states.body.get(), 0);
        facts.states = stateSet(words);
        g_variant_unref(words);
        if (interfaces.ok()) {
            GVariant* names = g_variant_get_child_value(interfaces.body.get(), 0);
            readInterfaces(names, facts);
            g_variant_unref(names);
        }
        view.facts[missing[index]] = std::move(facts);
    }
    return code;
}

AXResult<std::vector<std::string>> AtspiAccessibility::children(Reader& reader, AtspiView& view,
                                                                const std::string& name, const std::string& path) {
    Facts* facts = view.find(path);
    if (facts != nullptr && facts->children) return {ax_error::success, *facts->children};
    const BusReply reply = reader.bus->call(accessibleCall(name, path, "GetChildren"), reader.timeout);
    if (!reply.ok()) return {reply.code, {}};
    std::vector<std::string> found;
    GVariant* references = g_variant_get_child_value(reply.body.get(), 0);
    const gsize count = g_variant_n_children(references);
    for (gsize index = 0; index < count; ++index) {
        GVariant* reference = g_variant_get_child_value(references, index);
        // Accessibles embedded from another connection are left out.
        if (auto child = sameConnection(reference, name)) found.push_back(std::move(*child));
        g_variant_unref(reference);
    }
    g_variant_unref(references);
    ensureFacts(reader, view, name, found);
    for (const auto& child : found)
        if (Facts* known = view.find(child); known != nullptr && !known->parent) known->parent = path;
    if (Facts* parent = view.find(path)) parent->children = found;
    return {ax_error::success, std::move(found)};
}

int AtspiAccessibility::ensureExtents(Reader& reader, AtspiView& view, const std::string& name,
                                      const std::vector<std::string>& paths) {
    if (paths.empty()) return ax_error::success;
    std::vector<std::string> missing;
    for (const auto& path : paths) {
        const Facts* facts = view.find(path);
        if (facts != nullptr && !readThisEpoch(view, *facts) && missing.size() < kBatchLimit) missing.push_back(path);
    }
    std::vector<BusCall> calls;
    for (const auto& path : missing) calls.push_back(extentsCall(name, path));
    const auto replies = reader.bus->callAll(calls, reader.timeout);
    int code = ax_error::success;
    for (std::size_t index = 0; index < missing.size(); ++index) {
        if (!replies[index].ok()) {
            if (missing[index] == paths.front()) code = replies[index].code;
            continue;
        }
        gint32 x = 0, y = 0, width = 0, height = 0;
        g_variant_get(replies[index].body.get(), "((iiii))", &x, &y, &width, &height);
        Facts& facts = view.facts[missing[index]];
        facts.extents = Rect{static_cast<double>(x), static_cast<double>(y), static_cast<double>(width),
                             static_cast<double>(height)};
        facts.extentsEpoch = view.epoch;
        facts.extentsAt = reader.now;
    }
    return code;
}

AXResult<Rect> AtspiAccessibility::extents(Reader& reader, AtspiView& view, const std::string& name,
                                           const std::string& path, bool fresh) {
    Facts* facts = view.find(path);
    if (facts == nullptr) return {ax_error::invalidElement, {}};
    if (readThisEpoch(view, *facts) && (!fresh || reader.now - facts->extentsAt < kWindowFrameReuse)) {
        return {ax_error::success, *facts->extents};
    }
    if (fresh) {
        const auto before = facts->extents;
        facts->extentsEpoch = 0;
        const int code = ensureExtents(reader, view, name, {path});
        if (code != ax_error::success) return {code, {}};
        Facts& read = *view.find(path);
        // A window that moved or changed its size took everything in it along.
        if (before && !(*before == *read.extents)) {
            view.shifted();
            read.extentsEpoch = view.epoch;
        }
        return {ax_error::success, *read.extents};
    }
    // Walks read siblings one after another, and the same kind of element
    // is what they look at: its siblings of the same role come in the same
    // batch.
    std::vector<std::string> batch{path};
    if (facts->parent) {
        if (const Facts* parent = view.find(*facts->parent); parent != nullptr && parent->children) {
            for (const auto& sibling : *parent->children) {
                const Facts* other = view.find(sibling);
                if (sibling != path && other != nullptr && other->role == facts->role && !readThisEpoch(view, *other) &&
                    visible(*other))
                    batch.push_back(sibling);
            }
        }
    }
    const int code = ensureExtents(reader, view, name, batch);
    if (code != ax_error::success) return {code, {}};
    const Facts* read = view.find(path);
    if (read == nullptr || !readThisEpoch(view, *read)) return {ax_error::cannotComplete, {}};
    return {ax_error::success, *read->extents};
}

std::vector<std::string> AtspiAccessibility::windows(Reader& reader, AtspiView& view, const std::string& name) {
    const auto listed = children(reader, view, name, std::string(kRootPath));
    std::vector<std::string> found;
    if (!listed.ok()) return found;
    for (const auto& path : listed.value) {
        const Facts* facts = view.find(path);
        if (facts != nullptr && isWindowRole(facts->role) && showing(*facts)) found.push_back(path);
    }
    return found;
}

std::optional<std::string> AtspiAccessibility::windowAt(Reader& reader, AtspiView& view, const std::string& name,
                                                        const Rect& bounds) {
    const auto candidates = windows(reader, view, name);
    ensureExtents(reader, view, name, candidates);
    std::optional<std::string> best;
    double bestDistance = 0;
    for (const auto& path : candidates) {
        const Facts* facts = view.find(path);
        if (facts == nullptr || !readThisEpoch(view, *facts) || !near(*facts->extents, bounds)) continue;
        const double apart = distance(*facts->extents, bounds);
        if (!best || apart < bestDistance) {
            best = path;
            bestDistance = apart;
        }
    }
    return best;
}

// The window the toolkit marks active is the one the manager gave the focus
// (the client of _NET_ACTIVE_WINDOW); an application that is not in front
// has none active, and then its front-most window in the list stands in.
std::optional<std::string> AtspiAccessibility::focusedWindow(Reader& reader, AtspiView& view, const std::string& name,
                                                             std::int32_t pid) {
    const auto candidates = windows(reader, view, name);
    std::optional<std::string> marked;
    for (const auto& path : candidates) {
        if (!has(view.find(path)->states, state::active)) continue;
        if (path == view.activated) return path;
        if (!marked) marked = path;
    }
    if (marked) return marked;
    if (!view.windows || !view.windows->is_array()) return std::nullopt;
    for (const auto& entry : *view.windows) {
        if (json_read::int32(entry, "kCGWindowOwnerPID") != pid) continue;
        const auto bounds = windowListBounds(entry);
        if (!bounds) continue;
        if (auto found = windowAt(reader, view, name, *bounds)) return found;
    }
    return std::nullopt;
}

AXResult<AXValue> AtspiAccessibility::applicationAttribute(Reader& reader, const AtspiElementNode& node,
                                                           std::string_view attribute) {
    if (attribute == kRole) return {ax_error::success, std::string(kApplicationRole)};
    if (attribute == kHidden) return {ax_error::success, false};
    if (attribute == kParent) return {ax_error::noValue, {}};
    const bool walk = attribute == kFocusedWindow;
    AtspiView& current = view(reader, node.bus, walk);
    if (attribute == kFocusedWindow) {
        const auto window = focusedWindow(reader, current, node.bus, node.pid);
        if (!window) return {ax_error::noValue, {}};
        return {ax_error::success, elements_.element(node.bus, *window, node.pid)};
    }
    if (attribute == kFocusedUIElement) {
        const auto window = focusedWindow(reader, current, node.bus, node.pid);
        if (!window) return {ax_error::noValue, {}};
        for (const auto& [path, facts] : current.facts) {
            if (!has(facts.states, state::focused) || path == *window) continue;
            // Only the focused window's own focus counts.
            std::optional<std::string> up = facts.parent;
            for (int step = 0; up && step < kFocusDepth; ++step) {
                if (*up == *window) return {ax_error::success, elements_.element(node.bus, path, node.pid)};
                const Facts* parent = current.find(*up);
                up = parent != nullptr ? parent->parent : std::nullopt;
            }
        }
        return {ax_error::noValue, {}};
    }
    if (attribute == kChildren) {
        std::vector<Element> list;
        for (const auto& path : windows(reader, current, node.bus))
            list.push_back(elements_.element(node.bus, path, node.pid));
        return {ax_error::success, std::move(list)};
    }
    return {ax_error::attributeUnsupported, {}};
}

AXResult<AXValue> AtspiAccessibility::nodeAttribute(Reader& reader, const AtspiElementNode& node,
                                                    std::string_view attribute) {
    AtspiView& current = view(reader, node.bus, false);
    const int code = ensureFacts(reader, current, node.bus, {node.path});
    if (code != ax_error::success) return {code, {}};
    Facts& facts = *current.find(node.path);
    if (has(facts.states, state::defunct)) return {ax_error::invalidElement, {}};
    if (attribute == kRole) return {ax_error::success, std::string(roleWords(facts.role, facts.states).role)};
    if (attribute == kSubrole) {
        const auto subrole = roleWords(facts.role, facts.states).subrole;
        if (subrole.empty()) return {ax_error::noValue, {}};
        return {ax_error::success, std::string(subrole)};
    }
    if (attribute == kHidden) return {ax_error::success, !visible(facts)};
    if (attribute == kEnabled) return {ax_error::success, has(facts.states, state::enabled)};
    if (attribute == kEditable) return {ax_error::success, has(facts.states, state::editable)};
    if (attribute == kFocused) return {ax_error::success, has(facts.states, state::focused)};
    if (attribute == kPosition || attribute == kSize) {
        // Windows are asked anew: a walk that began with one frame and ends
        // with another saw a window move.
        const bool fresh = isWindowRole(facts.role) && attribute == kPosition;
        const auto rect = extents(reader, current, node.bus, node.path, fresh);
        if (!rect.ok()) return {rect.code, {}};
        if (attribute == kPosition) return {ax_error::success, Point{rect.value.minX(), rect.value.minY()}};
        return {ax_error::success, Size{rect.value.absWidth(), rect.value.absHeight()}};
    }
    if (attribute == kParent) {
        if (!facts.parent) {
            const BusReply reply =
                reader.bus->call(propertyCall(node.bus, node.path, kAccessible, "Parent"), reader.timeout);
            if (!reply.ok()) return {reply.code, {}};
            GVariant* value = nullptr;
            g_variant_get(reply.body.get(), "(v)", &value);
            const auto parent = sameConnection(value, node.bus);
            g_variant_unref(value);
            if (!parent) return {ax_error::noValue, {}};
            current.find(node.path)->parent = *parent;
        }
        const std::string parent = *current.find(node.path)->parent;
        return {ax_error::success, elements_.element(node.bus, parent, node.pid)};
    }
    if (attribute == kChildren || attribute == kVisibleChildren) {
        const auto listed = children(reader, current, node.bus, node.path);
        if (!listed.ok()) return {listed.code, {}};
        std::vector<Element> list;
        list.reserve(listed.value.size());
        for (const auto& path : listed.value) {
            const Facts* child = current.find(path);
            if (attribute == kVisibleChildren && (child == nullptr || !visible(*child))) continue;
            list.push_back(elements_.element(node.bus, path, node.pid));
        }
        return {ax_error::success, std::move(list)};
    }
    return {ax_error::attributeUnsupported, {}};
}

AXResult<std::vector<Element>> AtspiAccessibility::copyAttributeValues(const Element& element,
                                                                       std::string_view attribute, int index,
                                                                       int maxValues) {
    if (index < 0 || maxValues < 0) return {ax_error::illegalArgument, {}};
    return listSlice(copyAttributeValue(element, attribute), index, maxValues);
}

AXResult<bool> AtspiAccessibility::isAttributeSettable(const Element& element, std::string_view attribute) {
    const AtspiElementNode* node = atspiNode(element);
    if (node == nullptr) return {ax_error::illegalArgument, false};
    const auto live = connection();
    if (!live || !live->enabled) return {ax_error::apiDisabled, false};
    if (node->bus.empty()) return {ax_error::invalidElement, false};
    if (node->isApplication()) return {ax_error::success, false};
    std::lock_guard lock(readMutex_);
    Reader reader{peer(node->bus, live->bus), runtime_.clock().uptime(), messagingTimeout_};
    AtspiView& current = view(reader, node->bus, false);
    const int code = ensureFacts(reader, current, node->bus, {node->path});
    if (code != ax_error::success) return {code, false};
    const Facts& facts = *current.find(node->path);
    // Nothing else is written through this interface.
    if (attribute != kValue) return {ax_error::success, false};
    const bool settable = (facts.editableText && has(facts.states, state::editable)) ||
                          (facts.value && has(facts.states, state::enabled));
    return {ax_error::success, settable};
}

AXResult<Element> AtspiAccessibility::elementAtPosition(const Element& application, float x, float y) {
    const AtspiElementNode* node = atspiNode(application);
    if (node == nullptr || !node->isApplication()) return {ax_error::illegalArgument, {}};
    const auto live = connection();
    if (!live || !live->enabled) return {ax_error::apiDisabled, {}};
    if (node->bus.empty()) return {ax_error::invalidElement, {}};
    std::lock_guard lock(readMutex_);
    Reader reader{peer(node->bus, live->bus), runtime_.clock().uptime(), messagingTimeout_};
    AtspiView& current = view(reader, node->bus, false);
    if (!current.windows || !current.windows->is_array()) return {ax_error::cannotComplete, {}};
    const double px = x;
    const double py = y;
    // The front-most window under the point, whoever owns it.
    std::optional<Rect> bounds;
    for (const auto& entry : *current.windows) {
        const auto rect = windowListBounds(entry);
        if (!rect || !holds(*rect, px, py)) continue;
        if (json_read::int32(entry, "kCGWindowOwnerPID") != node->pid) return {ax_error::noValue, {}};
        bounds = rect;
        break;
    }
    if (!bounds) return {ax_error::noValue, {}};
    auto at = windowAt(reader, current, node->bus, *bounds);
    if (!at) return {ax_error::noValue, {}};
    // Down through the first showing child that holds the point, as the
    // toolkits' own hit tests go, down to a control: a button's label is
    // part of the button. Children already read in this walk are tried
    // first (walks hit-test what they just read); the rest are read only
    // when none of those holds the point.
    std::string path = *at;
    for (int depth = 0; depth < kHitDepth; ++depth) {
        const Facts* here = current.find(path);
        if (here == nullptr || (depth > 0 && isHitLeaf(here->role))) break;
        const auto listed = children(reader, current, node->bus, path);
        if (!listed.ok() || listed.value.empty()) break;
        const auto holding = [&](const std::vector<std::string>& among) -> std::optional<std::string> {
            for (const auto& child : among) {
                const Facts* facts = current.find(child);
                if (facts != nullptr && visible(*facts) && readThisEpoch(current, *facts) &&
                    holds(*facts->extents, px, py))
                    return child;
            }
            return std::nullopt;
        };
        const auto shown = [&](const std::vector<std::string>& among) {
            std::vector<std::string> found;
            for (const auto& child : among) {
                const Facts* facts = current.find(child);
                if (facts != nullptr && visible(*facts)) found.push_back(child);
            }
            return found;
        };
        auto next = holding(listed.value);
        if (!next) {
            ensureExtents(reader, current, node->bus, shown(listed.value));
            next = holding(listed.value);
        }
        // A child that is nowhere may still hold what is somewhere: look
        // through it.
        for (const auto& child : listed.value) {
            if (next) break;
            const Facts* facts = current.find(child);
            if (facts == nullptr || !visible(*facts) || !readThisEpoch(current, *facts) || placed(*facts->extents))
                continue;
            const auto inside = children(reader, current, node->bus, child);
            if (!inside.ok()) continue;
            ensureExtents(reader, current, node->bus, shown(inside.value));
            if (holding(inside.value)) next = child;
        }
        if (!next) break;
        path = std::move(*next);
    }
    return {ax_error::success, elements_.element(node->bus, path, node->pid)};
}

}  // namespace scene::atspi
