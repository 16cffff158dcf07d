#include "core/usage.h"

namespace scene {

std::string_view versionText() { return SCENE_SAMPLER_VERSION; }

std::string_view usageText() {
    return R"(Usage: scene-sampler [PID ...] [OPTION ...]

Writes one JSON line per sampling pass on standard output (about 30 a second)
describing the desktop, and takes commands on standard input, one per line:
pause, resume, rate MS, visual-on, visual-off, controls-on, controls-off,
inputs-on, inputs-off, anchor ID, capture-select, capture-retry,
capture-snapshot ID, quit.

Arguments:
  PID                           a process id whose windows are never reported
                                (pass the companion's own)
  --once                        one pass, one line, then exit
  --visual                      start with visual-edge sampling on
  --controls                    start with control sampling on
  --allow-screen-capture        allow capture of the display the user selects
                                ("capture-select"); supports need it
  --capture-state PATH          the capture state file, read once at start
  --platform simulated|x11      the desktop to sample
  --scene FILE                  the scene of the simulated desktop
  --permission-status           print the permission status line and exit
  --request-screen-permission   exit with status 64
  --help                        print this text and exit
  --version                     print the version and exit
Other arguments are ignored; an unknown one beginning "--" is named on
standard error.

Environment:
  SCENE_SAMPLER_SCENE           scene file when there is no --scene
  DISPLAY                       the X server to sample when neither --platform
                                nor a scene is given (or with --platform x11)
  VANTU_LIVE_CAPTURE            "1" allows capture like --allow-screen-capture
  VANTU_CAPTURE_STATE_PATH      capture state file when there is no
                                --capture-state
  HOME                          the home directory on the X desktop
  XAUTHORITY                    the X server's credentials, as usual for X

Without --platform or a scene: the X server named by DISPLAY; with DISPLAY
unset, the built-in demo desktop (said on standard error); with DISPLAY set but
no server answering, exit status 2.

Exit status: 0, also at end of input, on "quit", when the parent process ends
or standard output closes; 2 when the desktop cannot be opened (a bad scene, no
X server); 64 for --request-screen-permission.

The protocol: docs/protocol.md (installed as
share/scene-sampler/docs/protocol.md).
)";
}

}  // namespace scene
