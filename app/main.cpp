// pyrovane: the screen saver's process.
#include "app/app.h"

int main(int argc, char** argv) { return app::RunSaver(argc, argv); }
