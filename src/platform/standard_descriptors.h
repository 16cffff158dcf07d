#pragma once

namespace scene {

// Which of the standard descriptors were closed when the process started.
struct ClosedStandardDescriptors {
    bool input = false;
    bool output = false;
    bool error = false;
};

// Gives every closed standard descriptor to /dev/null, before anything else
// can open a file into its number (the runtime's own wake pipe would
// otherwise be read as standard input). Call it first thing in `main`. What
// was closed stays closed to the program: a closed input is at its end, a
// closed output takes no line.
ClosedStandardDescriptors reserveStandardDescriptors();

}  // namespace scene
