// The program's messages in the language of the locale, where a catalog of it exists.
#pragma once

// The translation of a program text (its Shift-JIS bytes, as the program holds it) for
// the language that LANGUAGE, LC_ALL, LC_MESSAGES and LANG choose, in the locale's
// character set; the very text that was given (the same pointer) when there is none:
// under the C and POSIX locales, in a language without a catalog (Japanese among them),
// and for a text the catalog does not hold.
const char* translated(const char* program_text);
