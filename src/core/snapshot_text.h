#pragma once

#include <string>
#include <vector>

#include "platform/records.h"

namespace scene {

// Serialises the snapshot into its line and keeps the text of the snapshot's
// parts from one pass to the next. Between two passes most of a snapshot reads
// the same (often everything but two ages), and telling that a part has not
// changed costs a fraction of escaping and formatting it again. The line is
// byte for byte what the JSON library writes for the whole value. Main queue
// only, like the snapshot itself.
class SnapshotText {
public:
    // The line for `snapshot`; valid until the next call.
    const std::string& serialise(const Json& snapshot);

private:
    // One member of an object or element of an array. Down to kSplitDepth a
    // container is written element by element; below, a value is one piece of
    // text, kept together with a copy of the value it was made from.
    struct Part {
        std::string name;      // members only: the member's name...
        std::string nameText;  // ...as written: quoted, escaped, with the colon
        bool written = false;  // `value` and `text` hold a leaf already written
        Json value;
        std::string text;
        std::vector<Part> parts;
    };

    void write(const Json& value, Part& part, int depth);
    static void writeLeaf(const Json& value, Part& part);

    Part root_;
    std::string line_;
};

// Same type and same value, floats compared bit for bit, so that the JSON
// library writes the two alike. (Its own equality takes 1 and 1.0, or 0.0 and
// -0.0, for the same value, though they are written differently.)
bool identicalJson(const Json& a, const Json& b);

}  // namespace scene
