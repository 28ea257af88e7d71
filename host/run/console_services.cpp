#include "run/console_services.h"

#include <cstdlib>

#include "link/link.h"
#include "platform/console.h"
#include "platform/interrupts.h"
#include "run/run_state.h"

void show_progress(int index, int total) {
    if (total < 0x100 || index % 128 != 0) return;
    con_printf("(%4.1f%%)\r", index * 100.0 / total);
}

// The run is over: an interrupt during the key wait takes its usual course.
void wait_key() {
    release_interrupts();
    con_printf("[ 何かキーを押して下さい ]\n");
    con_read_key();
}

// A run whose messages were lost does not end as a success.
void end_run(int code) {
    con_flush();
    std::exit(con_failed() ? 1 : code);
}

void fail_run() {
    if (adapter_connected) {
        adapter_connected = false;
        close_adapter(&adapter_handle);
    }
    wait_key();
    end_run(1);
}

void check_link() {
    if (link_take_failure() != 0) {
        con_printf("Error: アダプタとの通信に失敗しました\n");
        fail_run();
    }
    if (con_failed()) fail_run();  // nobody can follow the run any more
}

void changing_memory(bool changing) { defer_interrupts(changing); }

void check_interrupt() {
    if (!interrupt_pending()) return;
    con_printf(run_mode == RUN_ERASE
                   ? "Error: 中断しました。カートリッジは途中まで消去されています\n"
                   : "Error: 中断しました。カートリッジは途中まで書き込まれています\n");
    con_printf("(バックアップ: %sbackup.txt, %sbackup.sav)\n", backup_prefix, backup_prefix);
    fail_run();
}
