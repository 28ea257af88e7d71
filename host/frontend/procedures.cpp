#include "frontend/procedures.h"

#include <cstdio>
#include <cstring>

#include "frontend/console_services.h"
#include "frontend/image_files.h"
#include "frontend/older_backup.h"
#include "frontend/run_state.h"
#include "platform/console.h"
#include "platform/winapi.h"
#include "savemem/memory.h"
#include "savemem/stream.h"

enum {
    WRITE_SETTLE_MS = 3000,  // after the streamed write or the EEPROM byte loop
    ERASE_SETTLE_MS = 1000,  // after the EEPROM's 0xFF loop
};

// The streamed read sends a 24-bit address: the FLASH memories and the 24-bit EEPROM
// take it as it is, the narrower EEPROMs are read by their own framed read.
void read_save_memory() {
    if (save_type == SAVE_FLASH || save_type == SAVE_EEPROM_24BIT)
        stream_read(0, save_size, DISPLAY_PERCENT);
    else
        read_block(save_type, 0, cart_buffer, save_size);
}

// Reads the memory twice, the first read into first_read: dirty or worn contacts garble
// bits at random, which one read cannot tell from the save. The address of the first
// byte in which the reads differ, or -1 when they agree.
static int read_twice() {
    read_save_memory();
    check_link();  // a read over a failing link must not become a file
    std::memcpy(first_read, cart_buffer, static_cast<size_t>(save_size));
    con_printf("確認のため、もう一度読み込みます...\n");
    read_save_memory();
    check_link();
    for (int a = 0; a < save_size; a++) {
        if (first_read[a] != cart_buffer[a]) return a;
    }
    return -1;
}

// Ends the run when the two reads differed at address: what was read is saved, but
// nothing may rely on it.
static void check_reads_agree(int address) {
    if (address < 0) return;
    con_printf("Error: カートリッジの読み込みが安定しません(adr=%04X)\n", address);
    con_printf("(カートリッジの端子を掃除して、挿し直して下さい)\n");
    fail_run();
}

void take_backup() {
    static char names[2][PATH_SIZE + 16];  // the prefix plus the bare name always fits
    con_printf("カートリッジデータ読み込み中です...\n");
    int differs = read_twice();
    std::snprintf(names[0], sizeof names[0], "%s%s", backup_prefix, "backup.txt");
    std::snprintf(names[1], sizeof names[1], "%s%s", backup_prefix, "backup.sav");
    // Both files are complete on the disk before either replaces the older pair, and
    // every step ends the run itself when it fails: nothing after the backup touches
    // the memory unless both files are in place, and no older backup is lost.
    write_text_dump(names[0], first_read, save_size);
    write_binary_file(names[1], first_read, save_size);
    keep_older_backup(names[0], names[1]);
    commit_written_files();
    check_reads_agree(differs);
    con_printf("バックアップしました(backup.txt, backup.sav)\n");
}

void read_run() {
    con_printf("カートリッジデータの読み込み中です...\n");
    int differs = read_twice();
    write_text_dump("savedata.txt", first_read, save_size);
    write_binary_file("savedata.sav", first_read, save_size);
    // Reads that differ are saved, but must not take the place of an earlier save.
    if (differs >= 0) keep_older_backup("savedata.txt", "savedata.sav");
    commit_written_files();
    check_reads_agree(differs);
    con_printf("保存しました(savedata.txt, savedata.sav)\n");
}

// Every EEPROM byte gets its own write enable. The memory ignores the enable while its
// previous write cycle runs, so the status is read first: a write that has not ended
// by far ends the run before anything else is sent to the memory.
static void fill_eeprom(const unsigned char* source, int value) {
    for (int a = 0; a < save_size; a++) {
        show_progress(a, save_size);
        if (wait_write_done() != 0) {
            con_printf("Error: 書き込みが終わりませんでした(adr=%04X)\n", a);
            fail_run();
        }
        write_enable();
        write_byte(save_type, a, source ? source[a] : value);
        check_interrupt();
    }
}

// Reads the memory back and compares it with source (or, without one, with value in
// every byte); the first difference ends the run with the two lines given.
static void read_back(const unsigned char* source, int value, const char* difference,
                      const char* retry) {
    con_printf("カートリッジデータ読み込み中です...\n");
    read_save_memory();
    check_link();
    for (int a = 0; a < save_size; a++) {
        if (cart_buffer[a] != (source ? source[a] : value)) {
            con_printf(difference, a);
            con_print(retry);
            fail_run();
        }
    }
}

void write_run() {
    drop_padding(save_size);
    if (save_size != data_length) {
        con_printf("Error: カートリッジと書き込みするファイルのサイズが異なる\n");
        con_printf("(cart=%d,file=%d)\n", save_size, data_length);
        fail_run();
    }
    con_printf("カートリッジに書き込みする前にバックアップします\n");
    take_backup();
    changing_memory(true);
    if (save_type == SAVE_FLASH) {
        con_printf("書き込み前に、フラッシュメモリの消去を行います\n");
        con_printf("カートリッジデータ消去中です...\n");
        erase_flash();
        con_printf("データ消去完了、書き込みを開始します\n");
        stream_write(0, save_size, 0, DISPLAY_PERCENT);
        check_link();
        Sleep(WRITE_SETTLE_MS);
        con_printf("書き込み完了\n");
    } else {
        con_printf("カートリッジデータ書き込み中です...\n");
        fill_eeprom(image_buffer, 0);
        check_link();
        Sleep(WRITE_SETTLE_MS);
    }
    check_interrupt();
    changing_memory(false);
    con_printf("書き込み結果をベリファイします\n");
    read_back(image_buffer, 0, "Error: 正しく書き込まれていません(adr=%04X)\n",
              "(もう一度、書き込みを試みて下さい)\n");
    con_printf("正しく書き込まれています\n");
}

void erase_run() {
    con_printf("カートリッジデータを消去する前にバックアップします\n");
    take_backup();
    changing_memory(true);
    con_printf("カートリッジデータ消去中です...\n");
    if (save_type == SAVE_FLASH) {
        erase_flash();
    } else {
        fill_eeprom(nullptr, 0xFF);
        Sleep(ERASE_SETTLE_MS);
    }
    check_interrupt();
    changing_memory(false);
    check_link();  // an erase that did not reach the memory must not end as a success
    read_back(nullptr, 0xFF, "Error: 正しく消去されていません(adr=%04X)\n",
              "(もう一度、消去を試みて下さい)\n");
    con_printf("正しく消去されています\n");
}
