// The saver shell's public entry point: the program's whole run.
#pragma once

namespace app {

// Runs the saver for this command line as the process's one application object: the settings
// dialog, the show or nothing, as the first argument says. Returns the process's exit status.
int RunSaver(int argc, char** argv);

} // namespace app
