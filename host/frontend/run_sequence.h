// The program's entry: one run from the banner to the key wait.
#pragma once

// Returns the exit code; fatal conditions end the process from within.
int pelkat_main(int argc, char** argv);
