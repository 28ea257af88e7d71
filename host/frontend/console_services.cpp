#include "frontend/console_services.h"

#include <cstdlib>

#include "frontend/run_state.h"
#include "link/link.h"
#include "platform/console.h"

void show_progress(int index, int total) {
    if (total < 0x100 || index % 128 != 0) return;
    con_printf("(%4.1f%%)\r", index * 100.0 / total);
}

void wait_key() {
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
