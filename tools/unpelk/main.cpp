// unpelk: restores, tests and lists pelk containers. See cli.h.
#include "tools/unpelk/cli.h"

int main(int argc, char** argv) { return pelk::unpelk_main(argc, argv); }
