// The pair of files (a backup, or a read's savedata) that new ones are about to replace.
#pragma once

// Before the new pair (written, not yet committed) replaces text_name and binary_name:
// when either existing file differs from its new contents, every existing file of the
// pair gets a further name beside it, the pair's stem (e.g. "backup") with
// "-YYYYMMDD-HHMMSS" after the pair's latest modification and the old extension ("-2",
// "-3" ... added when that name is taken), and the run says so. A folder or a device in a backup's place ends the run.
void keep_older_backup(const char* text_name, const char* binary_name);
