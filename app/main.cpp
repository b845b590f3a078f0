// pyrovane: the screen saver's process, holding the one application object.
#include "app/app.h"

CSaverApp theApp;

int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
