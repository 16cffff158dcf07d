#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
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
    std::uint64_t extentsEpoch = 0;
    double extentsAt = 0;  // uptime of that answer
};

// One application's accessibles: the toolkit's own cache where it keeps one
// (one reply for the whole tree), completed by single reads and kept up to
// date by the toolkit's events (states, accessibles added and removed).
// Some changes come without all the events they imply: what scrolls into
// view becomes showing without a word, and a new layout moves what did not
// change size. After such a change (a scroll bar moved, bounds or children
// changed, something was shown or hidden) the view is stale and is read
// anew; a window that moved only makes its extents old. The window list a
// walk's hit tests use is the walk's own. Plain data, guarded by its owner.
struct AtspiView {
    double taken = 0;                    // uptime of the full reading
    bool stale = false;                  // to be read anew before the next walk
    std::uint64_t epoch = 1;             // extents read in another epoch are old
    double walkBegan = 0;                // uptime of the walk now reading
    std::map<std::string, Facts> facts;  // by object path; the root is always there
    std::shared_ptr<const nlohmann::json> windows;
    // The window the toolkit last said it activated: while the deactivation
    // of the one before is on its way, both are marked active.
    std::optional<std::string> activated;

    // The view of a cache reply (a((so)(so)(so)iiassusau)): every accessible
    // with its role, states, interfaces and parent; a parent's children when
    // the reply holds as many as it says it has.
    static AtspiView fromCache(GVariant* items, double taken);
    // A view of the root alone, for toolkits without a cache.
    static AtspiView empty(double taken);

    Facts* find(const std::string& path);

    // What the toolkit's events say.
    void changeState(const std::string& path, int bit, bool on);
    void moved() { stale = true; }
    void shifted() { epoch += 1; }
    void childrenChanged(const std::string& path);
    void add(GVariant* item);  // a cache item, as in the reply above
    void remove(const std::string& path);
};

// A state set from its wire form: a list of 32-bit words, lowest first.
StateSet stateSet(GVariant* words);

// Interface flags from the names an accessible says it implements.
void readInterfaces(GVariant* names, Facts& facts);

}  // namespace scene::atspi
