#include "frontend/cmdline.h"

#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "run/run_state.h"

int classify_arguments(int argc, char** argv) {
    if (argc == 1) return RUN_READ;
    if (argc != 2) return ARGS_USAGE;
    if (std::strcmp(argv[1], "-e") == 0 || std::strcmp(argv[1], "-E") == 0) return RUN_ERASE;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) return ARGS_HELP;
    if (std::strcmp(argv[1], "--version") == 0) return ARGS_VERSION;
    return RUN_WRITE;
}

namespace {

// The directory part ends at the last backslash on Windows, where one in the very first
// position does not count (\name is a name on the current drive, and its backup stays in
// the current directory). On POSIX the slash takes its place; there "/" is the root
// folder, so the backup of /name lands beside it like any other.
int directory_part_length(const char* path) {
#ifdef _WIN32
    const char* last = std::strrchr(path, '\\');
    if (last == nullptr || last == path) return 0;
#else
    const char* last = std::strrchr(path, '/');
    if (last == nullptr) return 0;
#endif
    return static_cast<int>(last - path) + 1;
}

// The name that a backup could collide with: what follows the last character that ends
// a directory or drive. On Windows a slash and a drive colon do that too (.\backup.sav,
// ./backup.sav, c:backup.sav and \backup.sav all name the backup's own file).
const char* refusal_name(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
#ifdef _WIN32
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
#else
        if (*p == '/') name = p + 1;
#endif
    }
    return name;
}

// Windows and macOS file systems ignore the case of ASCII letters by default: there
// BACKUP.TXT is the backup's own file as well, and would be overwritten by it.
bool names_backup(const char* name, const char* backup) {
#if defined(_WIN32) || defined(__APPLE__)
    for (; *name != '\0' && *backup != '\0'; ++name, ++backup) {
        char c = (*name >= 'A' && *name <= 'Z') ? static_cast<char>(*name - 'A' + 'a') : *name;
        if (c != *backup) return false;
    }
    return *name == *backup;
#else
    return std::strcmp(name, backup) == 0;
#endif
}

}  // namespace

NameCheck apply_file_name_rules(const char* argument) {
    input_path[0] = '\0';
    backup_prefix[0] = '\0';
    size_t length = std::strlen(argument);
    if (length >= PATH_SIZE) return NAME_TOO_LONG;
    std::memcpy(input_path, argument, length + 1);

    const char* name = refusal_name(input_path);
    if (names_backup(name, "backup.txt")) return NAME_BACKUP_TXT;
    if (names_backup(name, "backup.sav")) return NAME_BACKUP_SAV;

    int prefix_length = directory_part_length(input_path);
    if (prefix_length + static_cast<int>(sizeof "backup.txt") > PATH_SIZE) return NAME_TOO_LONG;
    std::memcpy(backup_prefix, input_path, static_cast<size_t>(prefix_length));
    backup_prefix[prefix_length] = '\0';

    // A link to a backup file, or a name for it that the rules above do not see, would
    // be replaced by the backup just the same.
    char backup_name[PATH_SIZE + 16];
    std::snprintf(backup_name, sizeof backup_name, "%s%s", backup_prefix, "backup.txt");
    if (same_file(input_path, backup_name)) return NAME_BACKUP_TXT;
    std::snprintf(backup_name, sizeof backup_name, "%s%s", backup_prefix, "backup.sav");
    if (same_file(input_path, backup_name)) return NAME_BACKUP_SAV;
    return NAME_OK;
}
