#include "savemem/identify.h"

#include <cstring>

#include "frontend/console_services.h"
#include "platform/console.h"
#include "savemem/bus.h"
#include "savemem/memory.h"
#include "savemem/stream.h"

enum {
    ID_NO_ANSWER = 0xFFFFFF,
    ID_LE25FW203 = 0x621600,
    ID_M45PE20 = 0x204012,
    PROBE_SIZE = 16,
    CHECK_SIZE = 0x4000,   // the start of the memory that the data check reads
    WRAP_OFFSET = 0x2000,  // an 8 KiB memory repeats itself from here on
    SIZE_9BIT = 0x200,
    SIZE_8K = 0x2000,
    SIZE_64K = 0x10000,
    SIZE_FLASH = 0x40000,
    DATA_UNRECOGNISED = -1,  // data present, address width not recognised
};

static const char MSG_LE25FW203[] = "シリアルFLASHメモリ SANYO製 LE25FW203 2Mbitです\n";
static const char MSG_M95640[] = "シリアルEEPROM STMicroelectronics製 M95640 64kbitです\n";
static const char MSG_M95512[] = "シリアルEEPROM STMicroelectronics製 M95512 512kbitです\n";

// Per address kind 1, 2, 3 (index kind - 1): one framed block read and sixteen single reads.
static unsigned char probe_block[3][PROBE_SIZE];
static unsigned char probe_singles[3][PROBE_SIZE];
static unsigned char all_ff[PROBE_SIZE];

static void settle(SaveType type, int size, const char* message) {
    save_type = type;
    save_size = size;
    con_print(message);
}

// Returns the identification.
static int identify_by_id() {
    con_printf("メモリIDをチェックします\n");
    read_id();  // the first answer is discarded
    int id = read_id();
    con_printf("メモリID=%06X\n", id);
    save_type = 0;
    if (id == ID_NO_ANSWER) return id;
    if (id == ID_LE25FW203)
        settle(SAVE_FLASH, SIZE_FLASH, MSG_LE25FW203);
    else if (id == ID_M45PE20)
        settle(SAVE_FLASH, SIZE_FLASH, "シリアルFLASHメモリ STMicroelectronics製 M45PE20 2Mbitです\n");
    else
        con_printf("未知のシリアルFLASHメモリです\n");
    return id;
}

// A data-in line held low answers the identification with 0x000000 and every probe
// read with 0x00. Taken for an EEPROM full of zeros, it would give a backup of zeros
// before the real contents are erased or overwritten.
static bool data_line_stuck_low(int id) {
    if (id != 0) return false;
    for (int kind = 0; kind < 3; kind++) {
        for (int i = 0; i < PROBE_SIZE; i++) {
            if (probe_block[kind][i] != 0 || probe_singles[kind][i] != 0) return false;
        }
    }
    return true;
}

[[noreturn]] static void fail_unknown() {
    check_link();  // nothing recognised because the link failed: say that instead
    con_printf("未知の方式なので、処理できませんでした\n");
    fail_run();
}

// A memory read with its own address width gives the same bytes through the block
// read and the single reads; with a wrong width the two disagree unless all bytes
// are alike, and an erased area recognises nothing.
static bool probe_matches(int kind) {
    return compare16(probe_block[kind - 1], probe_singles[kind - 1]) == 0 &&
           compare16(probe_block[kind - 1], all_ff) != 0;
}

static void identify_by_probe(int id) {
    con_printf("セーブ用メモリの先頭部分を読み込んで、セーブ方式を判別します\n");
    for (int kind = 1; kind <= 3; kind++) {
        read_block(kind, 0, probe_block[kind - 1], PROBE_SIZE);
        for (int i = 0; i < PROBE_SIZE; i++) probe_singles[kind - 1][i] = (unsigned char)read_byte(kind, i);
    }
    if (data_line_stuck_low(id)) fail_unknown();
    std::memset(all_ff, 0xFF, sizeof all_ff);
    if (probe_matches(SAVE_EEPROM_9BIT))
        settle(SAVE_EEPROM_9BIT, SIZE_9BIT, "シリアルEEPROM STMicroelectronics製 M95040 4kbitです\n");
    else if (probe_matches(SAVE_EEPROM_16BIT))
        save_type = SAVE_EEPROM_16BIT;  // sized by the wrap-around test
    else if (probe_matches(SAVE_FLASH))
        settle(SAVE_FLASH, SIZE_FLASH, MSG_LE25FW203);
}

// Returns the position of the first byte that is not 0xFF in the first 16 KiB, or -1.
static int find_first_data() {
    stream_read(0, CHECK_SIZE, DISPLAY_NONE);
    for (int i = 0; i < CHECK_SIZE; i++)
        if (cart_buffer[i] != 0xFF) return i;
    return -1;
}

// Positions of one streamed read are compared with each other, so the shift that a
// narrower address gives the streamed data does not matter.
static void size_16bit_eeprom(int position) {
    if (compare16(cart_buffer + position, cart_buffer + WRAP_OFFSET + position) == 0)
        settle(SAVE_EEPROM_16BIT, SIZE_8K, MSG_M95640);
    else
        settle(SAVE_EEPROM_16BIT, SIZE_64K, MSG_M95512);
}

static void guess_from_file(int length) {
    if (length == SIZE_9BIT)
        settle(SAVE_EEPROM_9BIT, SIZE_9BIT, "シリアルEEPROM STMicroelectronics製 M95040 4kbitと仮定\n");
    else if (length == SIZE_8K)
        settle(SAVE_EEPROM_16BIT, SIZE_8K, "シリアルEEPROM STMicroelectronics製 M95640 64kbitと仮定\n");
    else if (length == SIZE_FLASH)
        settle(SAVE_FLASH, SIZE_FLASH, "シリアルFLASHメモリ SANYO製 LE25FW203 2Mbitと仮定\n");
}

void identify_save_memory(RunMode mode, int length) {
    bus_open();
    int id = identify_by_id();
    if (save_type == 0) identify_by_probe(id);

    int first_data = 0;
    if (save_type == 0) {
        first_data = find_first_data();
        if (first_data >= 0) {
            save_type = DATA_UNRECOGNISED;
        } else {
            con_printf("このカートリッジはおそらく未フォーマットです\n");
            con_printf("形式が判別できないため、正しく読み書きできないかもしれない\n");
            con_printf("(あるいはカートリッジがちゃんと挿さっていません)\n");
        }
    }

    if (save_type == DATA_UNRECOGNISED) {
        size_16bit_eeprom(first_data);
    } else if (save_type == SAVE_EEPROM_16BIT) {  // only the probe leaves it unsized
        stream_read(0, CHECK_SIZE, DISPLAY_NONE);
        size_16bit_eeprom(0);
    }

    if (save_type == 0 && mode == RUN_WRITE) guess_from_file(length);

    if (save_type == 0) fail_unknown();
}
