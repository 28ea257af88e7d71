// Translations through GNU gettext. A catalog per language, po/<language>.po, is
// compiled into <locale folder>/<language>/LC_MESSAGES/pelkat.mo with the program's
// texts as its msgids in the Shift-JIS bytes the compiler gives them, so that a lookup
// by the program's own bytes finds them. gettext hands the translation out in the
// character set that the LC_CTYPE locale names, ready for the console.
#include <langinfo.h>
#include <libintl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/translation.h"

namespace {

const char TEXT_DOMAIN[] = "pelkat";
bool opened;
bool translating;
char folder[4200];

// The catalogs stand beside the program: PELKAT_LOCALE_DIR_FROM_BIN is where the
// install puts them seen from where it puts the programs, and the build lays out its own
// tree the same way, so that its programs (and the tests' runs of them) find the build's
// catalogs and an installed program the installed ones. Where the program's own path is
// unknown, or nothing stands beside it there, the install's locale folder is taken.
const char* catalog_folder() {
    char program[4096];
    ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length <= 0) return PELKAT_LOCALE_DIR;
    program[length] = '\0';
    char* slash = std::strrchr(program, '/');
    if (slash == nullptr) return PELKAT_LOCALE_DIR;
    *slash = '\0';
    std::snprintf(folder, sizeof folder, "%s/%s", program, PELKAT_LOCALE_DIR_FROM_BIN);
    struct stat info;
    if (stat(folder, &info) != 0 || !S_ISDIR(info.st_mode)) return PELKAT_LOCALE_DIR;
    return folder;
}

void open_catalogs() {
    opened = true;
    // The messages' locale as the environment sets it; under C nothing is translated.
    const char* messages = setlocale(LC_MESSAGES, "");
    if (messages == nullptr || std::strcmp(messages, "C") == 0 ||
        std::strcmp(messages, "POSIX") == 0)
        return;
    locale_t ctype = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (ctype == static_cast<locale_t>(0)) return;
    bind_textdomain_codeset(TEXT_DOMAIN, nl_langinfo_l(CODESET, ctype));  // copied by gettext
    freelocale(ctype);
    bindtextdomain(TEXT_DOMAIN, catalog_folder());
    translating = true;
}

}  // namespace

const char* translated(const char* program_text) {
    if (!opened) open_catalogs();
    // "" would find the catalog's header.
    if (!translating || program_text[0] == '\0') return program_text;
    return dgettext(TEXT_DOMAIN, program_text);
}
