// The saver shell's public entry points: what the program's modes call.
#pragma once

// Settings mode: builds the settings dialog with no parent window, runs it modally and destroys
// it, ignoring the result. The toolkit comes up here, on first use, never in show mode. Where no
// display can be used the dialog counts as closed at once and this simply returns.
void RunSettingsDialog();
