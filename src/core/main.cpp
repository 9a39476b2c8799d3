#include "core/ServerMain.h"

int main(int argc, char** argv) { return runServer(argc, argv); }
