// main.cc: vrexcup's entry point.
#include "front_end/command_line.h"

int main(int argc, char** argv) { return vrexcup_main(argc, argv); }
