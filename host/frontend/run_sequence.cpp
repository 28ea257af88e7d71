#include "frontend/run_sequence.h"

#include "firmware_image.h"
#include "frontend/cmdline.h"
#include "frontend/help.h"
#include "frontend/image_files.h"
#include "frontend/procedures.h"
#include "link/link.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "run/console_services.h"
#include "run/run_state.h"
#include "savemem/bus.h"
#include "savemem/identify.h"

namespace {

[[noreturn]] void refuse_usage() {
    print_usage();
    wait_key();
    end_run(1);
}

void check_file_name(const char* argument) {
    switch (apply_file_name_rules(argument)) {
    case NAME_OK: return;
    case NAME_TOO_LONG: con_printf("Error: ファイル名が長すぎます\n"); break;
    case NAME_BACKUP_TXT:
        con_printf("Error: ファイル名backup.txtはリネームしてから使ってください\n");
        break;
    default: con_printf("Error: ファイル名backup.savはリネームしてから使ってください\n"); break;
    }
    fail_run();
}

}  // namespace

int pelkat_main(int argc, char** argv) {
    report_failed_writes();
    catch_interrupts();
    int mode = classify_arguments(argc, argv);
    // Asked from a shell or a script: no banner and no key wait.
    if (mode == ARGS_HELP || mode == ARGS_VERSION) {
        if (mode == ARGS_HELP) {
            print_help();
        } else {
            print_version();
        }
        end_run(0);
    }

    print_banner();
    if (mode < 0) refuse_usage();
    run_mode = mode;

    if (run_mode == RUN_WRITE) {
        check_file_name(argv[1]);
        load_image_file(input_path);
    }

    // Whatever a failed connection left open goes with the process.
    if (connect_adapter(0, &adapter_handle, firmware_image, "ZEMA", "Z100") != 0) {
        con_printf("Error: EZ-USBが見つかりませんでした\n");
        wait_key();
        end_run(0);
    }
    adapter_connected = true;

    identify_save_memory(run_mode, data_length);
    check_link();
    if (run_mode == RUN_READ) {
        read_run();
    } else if (run_mode == RUN_WRITE) {
        write_run();
    } else {
        erase_run();
    }

    bus_release();
    adapter_connected = false;
    close_adapter(&adapter_handle);
    con_printf("終了しました。\n");
    wait_key();
    end_run(0);
}
