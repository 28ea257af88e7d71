#include "frontend/procedures.h"

#include <cstdio>
#include <cstring>

#include "adapter_protocol.h"
#include "frontend/image_files.h"
#include "frontend/older_backup.h"
#include "platform/console.h"
#include "platform/interrupts.h"
#include "platform/winapi.h"
#include "run/console_services.h"
#include "run/run_state.h"
#include "savemem/bus.h"
#include "savemem/eeprom_parts.h"
#include "savemem/memory.h"
#include "savemem/stream.h"

namespace {

enum {
    WRITE_SETTLE_MS = 3000,  // after the streamed write or the EEPROM byte loop
    ERASE_SETTLE_MS = 1000,  // after the EEPROM's 0xFF loop
};

}  // namespace

// The streamed read sends a 24-bit address: the FLASH memories and the 24-bit EEPROM
// take it as it is, the narrower EEPROMs from an address that puts their bytes in place.
void read_save_memory() {
    if (save_type == SAVE_FLASH || save_type == SAVE_EEPROM_24BIT)
        stream_read(0, save_size, DISPLAY_PERCENT);
    else
        stream_read_eeprom(save_type, save_size, DISPLAY_PERCENT);
}

namespace {

// Reads the memory twice, the first read into first_read: dirty or worn contacts garble
// bits at random, which one read cannot tell from the save. The address of the first
// byte in which the reads differ, or -1 when they agree.
int read_twice() {
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
void check_reads_agree(int address) {
    if (address < 0) return;
    con_printf("Error: カートリッジの読み込みが安定しません(adr=%04X)\n", address);
    con_printf("(カートリッジの端子を掃除して、挿し直して下さい)\n");
    fail_run();
}

}  // namespace

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

namespace {

[[noreturn]] void fail_write_unfinished(int address) {
    con_printf("Error: 書き込みが終わりませんでした(adr=%04X)\n", address);
    fail_run();
}

// Takes the reply of the page sent from address page on: true when its write cycle ended
// while the firmware waited. A refused page sent nothing.
bool page_done(int page) {
    int reply = page_reply();
    if (reply == PAGE_REFUSED) fail_write_unfinished(page);
    return reply == PAGE_DONE;
}

// The reply of the last page sent; a cycle still running is waited for as the byte loop
// waits, and one that does not end by far ends the run.
void finish_page(int page) {
    if (!page_done(page) && wait_write_done() != 0) fail_write_unfinished(page);
}

// A firmware that writes EEPROM pages itself gets one page a time, and waits for its write
// cycle. Where it takes the next page while the one before is written (PAGES_AHEAD), each
// page is sent before the reply of the one before it is taken, so the adapter holds the
// next page when a cycle ends; not behind an infrared transceiver, where each page is asked
// for with its own OP_SAVE_PREFIX, whose reply would meet that of the page before. Where a
// cycle still ran after the firmware's wait, the page sent behind it met a busy memory,
// which ignores a write: once the cycle has ended (as the byte loop waits for it) that page
// is sent again. As in the byte loop, a memory that reads busy before the first page (a
// data-in line stuck high) is not written at all. An interrupt stops the run once the page
// under way is written. The display is that of the byte loop.
void fill_eeprom_pages(const EepromPart& part, const unsigned char* source, int value, int pages) {
    static unsigned char fill[PAGE_WRITE_MAX];
    std::memset(fill, value, sizeof fill);
    if (wait_write_done() != 0) fail_write_unfinished(0);
    bool ahead = pages == PAGES_AHEAD && !bus_prefixed();
    int pending = -1;  // the page whose reply is still to be taken
    for (int a = 0; a < save_size; a += part.page) {
        int n = save_size - a < part.page ? save_size - a : part.page;
        for (int i = 0; i < n; i++) show_progress(a + i, save_size);
        const unsigned char* data = source ? source + a : fill;
        page_send(part.address_bytes, a, data, n, pages);
        if (pending >= 0 && !page_done(pending)) {
            page_reply();  // of the page that met the busy memory
            if (wait_write_done() != 0) fail_write_unfinished(pending);
            page_send(part.address_bytes, a, data, n, pages);
        }
        pending = a;
        if (!ahead || interrupt_pending()) {
            finish_page(pending);
            pending = -1;
            check_interrupt();
        }
    }
    if (pending >= 0) finish_page(pending);
}

// On an older firmware every EEPROM byte gets its own write enable. The memory ignores
// the enable while its previous write cycle runs, so the status is read first: a write
// that has not ended by far ends the run before anything else is sent to the memory.
void fill_eeprom(const unsigned char* source, int value) {
    const EepromPart* part = eeprom_part(save_type, save_size);
    int pages = part != nullptr && part->page <= PAGE_WRITE_MAX ? probe_page_write() : PAGES_NONE;
    if (pages != PAGES_NONE) {
        fill_eeprom_pages(*part, source, value, pages);
        return;
    }
    for (int a = 0; a < save_size; a++) {
        show_progress(a, save_size);
        if (wait_write_done() != 0) fail_write_unfinished(a);
        write_enable();
        write_byte(save_type, a, source ? source[a] : value);
        check_interrupt();
    }
}

// Reads the memory back and compares it with source (or, without one, with value in
// every byte); the first difference ends the run with the two lines given.
void read_back(const unsigned char* source, int value, const char* difference, const char* retry) {
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

// A FLASH write does only what the file needs of the memory that the backup read left in
// cart_buffer: a sector that holds the file's bytes already is neither erased nor
// programmed, one that is erased already is not erased again, and a page of the file
// that is all 0xFF is not programmed, an erased page holding it already. A memory that
// reads erased from end to end may be no memory at all (an empty slot reads so): then
// every sector is erased, and the erase's status poll is the sign that a chip answers.
// The verification still reads everything.
unsigned char sector_kept[BUFFER_SIZE / SECTOR_SIZE];
unsigned char page_programmed[BUFFER_SIZE / STREAM_PAGE_SIZE];

bool all_ff(const unsigned char* bytes, int count) {
    for (int i = 0; i < count; i++)
        if (bytes[i] != 0xFF) return false;
    return true;
}

void plan_flash_write() {
    bool blank = all_ff(cart_buffer, save_size);
    for (int at = 0; at < save_size; at += SECTOR_SIZE) {
        int n = save_size - at < SECTOR_SIZE ? save_size - at : SECTOR_SIZE;
        bool same = std::memcmp(cart_buffer + at, image_buffer + at, (size_t)n) == 0;
        sector_kept[at / SECTOR_SIZE] = !blank && (same || all_ff(cart_buffer + at, n));
        for (int page = at; page < at + n; page += STREAM_PAGE_SIZE) {
            int length = at + n - page < STREAM_PAGE_SIZE ? at + n - page : STREAM_PAGE_SIZE;
            page_programmed[page / STREAM_PAGE_SIZE] =
                !same && !all_ff(image_buffer + page, length);
        }
    }
}

}  // namespace

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
        plan_flash_write();
        erase_flash(sector_kept);
        con_printf("データ消去完了、書き込みを開始します\n");
        stream_write_pages(save_size, page_programmed, DISPLAY_PERCENT);
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
