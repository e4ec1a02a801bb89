// Entry point of the Updater command-line tool.
#include "UpdaterMain.h"

int main(int argc, char** argv) {
    return updaterMain(argc, argv);
}
