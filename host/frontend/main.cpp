#include "frontend/run_sequence.h"

int main(int argc, char** argv) { return pelkat_main(argc, argv); }
