#include "qdstrimctrl.h"

int main(int argc, char** argv) { return SolverMain(argc, argv); }
