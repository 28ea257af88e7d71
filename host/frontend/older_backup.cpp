#include "frontend/older_backup.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "frontend/image_files.h"
#include "platform/console.h"
#include "platform/files.h"
#include "run/run_state.h"

namespace {

enum { PAIR = 2, KEPT_NAME_TRIES = 1000, KEPT_NAME_SIZE = PATH_SIZE + 48 };

char kept_names[PAIR][KEPT_NAME_SIZE];

// Only a regular file can be kept and replaced: anything else in its place stops the
// run before anything is kept.
bool present(const char* name) {
    FileKind kind = file_kind(name);
    if (kind == FILE_FOLDER || kind == FILE_OTHER) stop_writing(name);
    return kind == FILE_REGULAR;
}

// The local time of the pair's latest change, or of now when no time can be had.
void time_stamp(long long modified, char* stamp, size_t size) {
    std::time_t when = modified >= 0 ? static_cast<std::time_t>(modified) : std::time(nullptr);
    const std::tm* local = std::localtime(&when);
    if (local == nullptr || std::strftime(stamp, size, "%Y%m%d-%H%M%S", local) == 0) {
        std::snprintf(stamp, size, "00000000-000000");
    }
}

// Names that no file has yet, the pair's own stem and the same time for both files.
void choose_kept_names(const char* const names[PAIR], const char* stamp) {
    for (int n = 1;; ++n) {
        char suffix[16] = "";
        if (n > 1) std::snprintf(suffix, sizeof suffix, "-%d", n);
        bool free = true;
        for (int i = 0; i < PAIR; ++i) {
            const char* extension = names[i] + std::strlen(names[i]) - 4;
            const int stem = static_cast<int>(std::strlen(names[0]) - 4);
            std::snprintf(kept_names[i], sizeof kept_names[i], "%.*s-%s%s%s", stem, names[0], stamp,
                          suffix, extension);
            if (file_kind(kept_names[i]) != FILE_MISSING) free = false;
        }
        if (free) return;
        if (n == KEPT_NAME_TRIES) stop_writing(kept_names[0]);
    }
}

}  // namespace

void keep_older_backup(const char* text_name, const char* binary_name) {
    const char* const names[PAIR] = {text_name, binary_name};
    bool exists[PAIR];
    bool differs = false;
    long long modified = -1;
    for (int i = 0; i < PAIR; ++i) {
        exists[i] = present(names[i]);
        if (!exists[i]) continue;
        differs = differs || replaced_file_differs(names[i]);
        long long time = file_modified(names[i]);
        if (time > modified) modified = time;
    }
    if (!differs) return;

    char stamp[32];
    time_stamp(modified, stamp, sizeof stamp);
    choose_kept_names(names, stamp);
    // The message names the bare files, as the backup's own line does.
    const size_t prefix_length = std::strlen(backup_prefix);
    char shown[2 * KEPT_NAME_SIZE] = "";
    for (int i = 0; i < PAIR; ++i) {
        if (!exists[i]) continue;
        if (keep_file(names[i], kept_names[i]) != 0) stop_writing(kept_names[i]);
        size_t used = std::strlen(shown);
        std::snprintf(shown + used, sizeof shown - used, "%s%s", used > 0 ? ", " : "",
                      kept_names[i] + prefix_length);
    }
    con_printf("以前のバックアップを残しました(%s)\n", shown);
}
