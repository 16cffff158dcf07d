#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/atspi/atspi_roles.h"
#include "platform/rect.h"

namespace scene::atspi {

// What is known of one accessible of an application.
struct Facts {
    std::uint32_t role = 0;
    StateSet states = 0;
    std::optional<std::string> parent;                 // object path; the root for top-level windows
    std::optional<std::vector<std::string>> children;  // object paths in order, once known in full
    bool editableText = false;                         // takes typed text through EditableText
    bool value = false;                                // has a Value to set
    std::optional<Rect> extents;                       // screen extents, good while their epoch lasts
    std::uint64_t extentsEpoch = 0;                    // 0: old in every epoch
    double extentsAt = 0;                              // uptime of that answer
    // The bounds the toolkit last announced, in its own terms (GTK 3: within
    // the window of the parent widget, not on the screen).
    std::optional<Rect> announced;
};

// One application's accessibles: the toolkit's own cache where it keeps one
// (one reply for the whole tree), completed by single reads and kept up to
// date by the toolkit's events (states, accessibles added and removed).
// Changes come without all the events they imply: a new layout moves what
// did not change size, and a scroll moves everything it scrolls while only
// the scroll bar says so. So an event makes old the extents of the part of
// the tree it may have moved: what a scroll bar scrolls, whatever announced
// new bounds and all it holds, the siblings of what was shown or hidden, and
// what holds children that came or went. Bounds announced again as they were
// move nothing (GTK 3 announces them up to the window on every layout). An
// event about an accessible the view does not know makes the whole view
// stale, to be read anew; a window that moved makes all extents old. The
// window list a walk's hit tests use is the walk's own. Plain data, guarded
// by its owner.
struct AtspiView {
    double taken = 0;                                 // uptime of the full reading
    bool stale = false;                               // to be read anew before the next walk
    std::uint64_t epoch = 1;                          // extents read in another epoch are old
    double walkBegan = 0;                             // uptime of the walk now reading
    std::map<std::string, Facts, std::less<>> facts;  // by object path; the root is always there
    std::shared_ptr<const nlohmann::json> windows;
    // The window the toolkit last said it activated: while the deactivation
    // of the one before is on its way, both are marked active.
    std::optional<std::string> activated;
    std::set<std::string, std::less<>> unsettled;  // moved, not yet marked

    // The view of a cache reply (a((so)(so)(so)iiassusau)): every accessible
    // with its role, states, interfaces and parent; a parent's children when
    // the reply holds as many as it says it has.
    static AtspiView fromCache(GVariant* items, double taken);
    // A view of the root alone, for toolkits without a cache.
    static AtspiView empty(double taken);

    Facts* find(const std::string& path);

    // What the toolkit's events say.
    void changeState(const std::string& path, int bit, bool on);
    void announce(const std::string& path, const Rect& bounds);
    void scrolled(const std::string& scrollBar);  // its value moved
    void childrenChanged(const std::string& path);
    void add(GVariant* item);  // a cache item, as in the reply above
    void remove(const std::string& path);

    // The extents of `path` and of everything it holds are old. A scroll
    // says so many times a second: what moved is marked once, by `settle`,
    // which every read calls before it looks.
    void moved(const std::string& path);
    void settle();
    void shifted() { epoch += 1; }
    // What a reading anew keeps of the view it replaces: the epoch goes on,
    // and announced bounds stay the ones to compare the next with.
    void follow(const AtspiView& before);
};

// A state set from its wire form: a list of 32-bit words, lowest first.
StateSet stateSet(GVariant* words);

// Interface flags from the names an accessible says it implements.
void readInterfaces(GVariant* names, Facts& facts);

}  // namespace scene::atspi
