// The texts that describe the tool rather than a run: the banner, the usage lines, the
// help of --help and the version line of --version.
#pragma once

void print_banner();   // the first lines of every run
void print_usage();    // the three usage lines
void print_help();     // the usage, the runs, the two file formats and the exit codes
void print_version();  // "pelkat " and the version
