// pyrovane: the screen saver's process, holding the one application object.
#include "app/app.h"

app::CSaverApp theApp;

int main(int argc, char** argv) { return app::AfxWinMain(argc, argv); }
