#include "savemem/identify.h"

#include <cstring>

#include "platform/console.h"
#include "run/console_services.h"
#include "savemem/bus.h"
#include "savemem/memory.h"
#include "savemem/stream.h"

namespace {

enum {
    ID_NO_ANSWER = 0xFFFFFF,
    ID_LE25FW203 = 0x621600,
    PROBE_SIZE = 16,
    CHECK_SIZE = 0x4000,  // the start of the memory that the data check reads
    RESUME_AT = 0x3E3E,   // where a read that goes on after the data check's starts
    SIZE_9BIT = 0x200,
    SIZE_8K = 0x2000,
    SIZE_64K = 0x10000,
    SIZE_128K = 0x20000,
};

// The serial FLASH memories known by their identification (RDID: maker, memory type,
// capacity), as their makers' data sheets give it.
struct FlashPart {
    int id;
    SaveType type;
    int size;
    const char* message;
};

constexpr FlashPart FLASH_PARTS[] = {
    {ID_LE25FW203, SAVE_FLASH, 0x40000, "シリアルFLASHメモリ SANYO製 LE25FW203 2Mbitです\n"},
    {0x204012, SAVE_FLASH, 0x40000, "シリアルFLASHメモリ STMicroelectronics製 M45PE20 2Mbitです\n"},
    {0x204013, SAVE_FLASH, 0x80000, "シリアルFLASHメモリ STMicroelectronics製 M45PE40 4Mbitです\n"},
    {0x204014, SAVE_FLASH, 0x100000,
     "シリアルFLASHメモリ STMicroelectronics製 M45PE80 8Mbitです\n"},
    // Its third byte is a dummy 00h, not a capacity code.
    {0x621100, SAVE_FLASH, 0x80000, "シリアルFLASHメモリ SANYO製 LE25FW403A 4Mbitです\n"},
    {0xC22012, SAVE_FLASH, 0x40000, "シリアルFLASHメモリ Macronix製 MX25L2005 2Mbitです\n"},
    {0xC22013, SAVE_FLASH, 0x80000, "シリアルFLASHメモリ Macronix製 MX25L4005 4Mbitです\n"},
    {0xC22014, SAVE_FLASH, 0x100000, "シリアルFLASHメモリ Macronix製 MX25L8005 8Mbitです\n"},
    {0xC22017, SAVE_FLASH, 0x800000, "シリアルFLASHメモリ Macronix製 MX25L6445E 64Mbitです\n"},
};

constexpr bool parts_fit_the_buffers() {
    for (const FlashPart& part : FLASH_PARTS)
        if (part.size > BUFFER_SIZE) return false;
    return true;
}
static_assert(parts_fit_the_buffers(), "a FLASH part larger than the buffers");

const FlashPart* flash_part(int id) {
    for (const FlashPart& part : FLASH_PARTS)
        if (part.id == id) return &part;
    return nullptr;
}

const char MSG_M95640[] = "シリアルEEPROM STMicroelectronics製 M95640 64kbitです\n";
const char MSG_M95512[] = "シリアルEEPROM STMicroelectronics製 M95512 512kbitです\n";
// The 1 Mbit EEPROM of DS cartridges (GBATEK, "DS Cartridge Backup"): 24-bit addresses
// like the FLASH memories, but no RDID (M95M01 data sheet, instruction set), so only
// the 24-bit probe answers, and a READ rolls over from its last byte to address 0.
const char MSG_M95M01[] = "シリアルEEPROM STMicroelectronics製 M95M01 1Mbitです\n";

// Per address kind 1, 2, 3 (index kind - 1): one framed block read and sixteen single reads.
unsigned char probe_block[3][PROBE_SIZE];
unsigned char probe_singles[3][PROBE_SIZE];
unsigned char all_ff[PROBE_SIZE];

// Each stage of the identification writes save_type and save_size only when it has
// identified the memory, and then says so by returning true.
void identify_as(SaveType type, int size, const char* message) {
    save_type = type;
    save_size = size;
    con_print(message);
}

void identify_as_part(const FlashPart& part) { identify_as(part.type, part.size, part.message); }

// The size that the third identification byte gives as a JEDEC capacity code (2 to the
// power of the code, in bytes), when it is one of a memory larger than 256 KiB that
// the buffers hold; otherwise 0. The probes would take such a memory for a 256 KiB one
// and every later step would leave out the rest of it.
int size_from_capacity_code(int id) {
    for (int code = 0x13; (1 << code) <= BUFFER_SIZE; code++)  // from 512 KiB on
        if ((id & 0xFF) == code) return 1 << code;
    return 0;
}

// The identification by RDID; the answer goes to *id for the later stages.
bool identify_by_id(int* id) {
    con_printf("メモリIDをチェックします\n");
    read_id();  // the first answer is discarded
    *id = read_id();
    con_printf("メモリID=%06X\n", *id);
    if (*id == ID_NO_ANSWER) return false;
    const FlashPart* part = flash_part(*id);
    if (part != nullptr) {
        identify_as_part(*part);
        return true;
    }
    con_printf("未知のシリアルFLASHメモリです\n");
    int size = size_from_capacity_code(*id);
    if (size == 0) return false;
    save_type = SAVE_FLASH;
    save_size = size;
    con_printf("容量を%dKbyteと仮定します\n", size / 1024);
    return true;
}

// An infrared cartridge puts a microcontroller in front of its save memory, which
// answers the identification itself (with zeros, or what looks like garbage) and takes
// READ and RDSR for writes of its own memory; a command reaches the memory only behind
// a 00h prefix (GBATEK, "DS Cart Infrared Cartridge SPI Commands"). A plain memory
// takes the prefix for an instruction it does not have and ignores the rest of the
// command, so its output floats: FFFFFF. True when the identification through the
// prefix answers; the bus stays prefixed then.
bool behind_transceiver() {
    bus_prefix(1);
    int id = read_id();
    if (id != ID_NO_ANSWER && id != 0) {
        con_printf("赤外線通信機能付きのカートリッジです\n");
        return true;
    }
    bus_prefix(0);
    return false;
}

// A data-in line held low answers the identification with 0x000000 and every probe
// read with 0x00. Taken for an EEPROM full of zeros, it would give a backup of zeros
// before the real contents are erased or overwritten.
bool data_line_stuck_low(int id) {
    if (id != 0) return false;
    for (int kind = 0; kind < 3; kind++) {
        for (int i = 0; i < PROBE_SIZE; i++) {
            if (probe_block[kind][i] != 0 || probe_singles[kind][i] != 0) return false;
        }
    }
    return true;
}

[[noreturn]] void fail_unknown() {
    check_link();  // nothing recognised because the link failed: say that instead
    con_printf("未知の方式なので、処理できませんでした\n");
    fail_run();
}

// Whether every block of size bytes in cart_buffer up to end repeats the first one.
bool repeats_every(int size, int end) {
    for (int block = size; block < end; block += size)
        if (std::memcmp(cart_buffer, cart_buffer + block, (size_t)size) != 0) return false;
    return true;
}

// A memory answers the addresses beyond its size with those of the address modulo its
// size, so an 8 KiB memory repeats its first 8 KiB all through the first 64 KiB. Whole
// blocks are compared: a 64 KiB save may well hold slots that begin alike. Positions of
// one streamed read are compared with each other, so the shift that a narrower address
// gives the streamed data does not matter. The data check's read holds the first two
// blocks; only when they agree is the rest read, by a stream that goes on from position
// RESUME_AT of the check's as if it were the same stream: a 16-bit memory takes the
// first two address bytes (0x3E3E) and gives address 0x3E3F first, position RESUME_AT of
// the check's, which it started at address 0 and gave one early; a 512-byte one (which
// also gets here when its first bytes are erased) takes the first byte (0x3E) and gives
// address 0x40 first, which the check's stream, two early, gave at RESUME_AT too
// (RESUME_AT + 2 = 0x3E40, 0x40 modulo 512). 0x3E3E is the last such start before
// CHECK_SIZE.
void size_16bit_eeprom() {
    bool repeats = repeats_every(SIZE_8K, CHECK_SIZE);
    if (repeats) {
        stream_read_to(RESUME_AT << 8, SIZE_64K - RESUME_AT, RESUME_AT, DISPLAY_NONE);
        repeats = repeats_every(SIZE_8K, SIZE_64K);
    }
    if (repeats)
        identify_as(SAVE_EEPROM_16BIT, SIZE_8K, MSG_M95640);
    else
        identify_as(SAVE_EEPROM_16BIT, SIZE_64K, MSG_M95512);
}

// A memory without an identification that the 24-bit probe answers: the 1 Mbit EEPROM
// when its 256 KiB streamed read (no shift: the address is as wide as the stream's)
// repeats after 128 KiB; a 256 KiB FLASH memory does not.
void size_24bit_memory() {
    stream_read(0, 2 * SIZE_128K, DISPLAY_NONE);
    if (repeats_every(SIZE_128K, 2 * SIZE_128K))
        identify_as(SAVE_EEPROM_24BIT, SIZE_128K, MSG_M95M01);
    else
        identify_as_part(*flash_part(ID_LE25FW203));
}

// A memory read with its own address width gives the same bytes through the block
// read and the single reads; with a wrong width the two disagree unless all bytes
// are alike, and an erased area recognises nothing.
bool probe_matches(int kind) {
    return compare16(probe_block[kind - 1], probe_singles[kind - 1]) == 0 &&
           compare16(probe_block[kind - 1], all_ff) != 0;
}

// The 16 bytes from address on, read with the address width of kind by one framed block
// read (into the part of cart_buffer past the data check's bytes, which is indexed by
// address) and by sixteen single reads.
void read_probe(int kind, int address) {
    unsigned char* scratch = cart_buffer + CHECK_SIZE;
    read_block(kind, address, scratch, PROBE_SIZE);
    std::memcpy(probe_block[kind - 1], scratch + address, PROBE_SIZE);
    for (int i = 0; i < PROBE_SIZE; i++)
        probe_singles[kind - 1][i] = (unsigned char)read_byte(kind, address + i);
}

bool identify_by_probe(int id) {
    con_printf("セーブ用メモリの先頭部分を読み込んで、セーブ方式を判別します\n");
    for (int kind = 1; kind <= 3; kind++) read_probe(kind, 0);
    if (data_line_stuck_low(id)) fail_unknown();
    std::memset(all_ff, 0xFF, sizeof all_ff);
    if (probe_matches(SAVE_EEPROM_9BIT)) {
        identify_as(SAVE_EEPROM_9BIT, SIZE_9BIT,
                    "シリアルEEPROM STMicroelectronics製 M95040 4kbitです\n");
    } else if (probe_matches(SAVE_EEPROM_16BIT)) {
        stream_read(0, CHECK_SIZE, DISPLAY_NONE);  // the data check's read
        size_16bit_eeprom();
    } else if (probe_matches(SAVE_FLASH) && id == ID_NO_ANSWER) {
        size_24bit_memory();
    } else if (probe_matches(SAVE_FLASH)) {
        identify_as_part(*flash_part(ID_LE25FW203));
    } else {
        return false;
    }
    return true;
}

// The position of the first byte that is not 0xFF in the first 16 KiB, or -1.
int find_first_data() {
    stream_read(0, CHECK_SIZE, DISPLAY_NONE);
    for (int i = 0; i < CHECK_SIZE; i++)
        if (cart_buffer[i] != 0xFF) return i;
    return -1;
}

// Data after an erased start, which the probes at address 0 could not see: the 24-bit
// probe is made again on the 16 bytes around the first data (a memory with 24-bit
// addresses gives the streamed read's bytes at their own addresses). A narrower memory
// cannot answer it: its 24-bit reads there give bytes of its erased start, which the
// block read and the single reads give alike only when all are 0xFF. So the 128 KiB EEPROM (or a
// FLASH memory without an identification) is not taken for a 16-bit EEPROM when its first 16 bytes
// are erased. Without any data nothing is identified.
bool identify_by_first_data(int id) {
    int first_data = find_first_data();
    if (first_data < 0) {
        con_printf("このカートリッジはおそらく未フォーマットです\n");
        con_printf("形式が判別できないため、正しく読み書きできないかもしれない\n");
        con_printf("(あるいはカートリッジがちゃんと挿さっていません)\n");
        return false;
    }
    if (id == ID_NO_ANSWER) {
        read_probe(SAVE_FLASH, first_data & ~(PROBE_SIZE - 1));
        if (probe_matches(SAVE_FLASH)) {
            size_24bit_memory();
            return true;
        }
    }
    size_16bit_eeprom();  // the data check's bytes are still in cart_buffer
    return true;
}

// The memory that a file of length bytes would fill, for a write run on a blank memory.
bool guess_from_file(int length) {
    if (length == SIZE_9BIT)
        identify_as(SAVE_EEPROM_9BIT, SIZE_9BIT,
                    "シリアルEEPROM STMicroelectronics製 M95040 4kbitと仮定\n");
    else if (length == SIZE_8K)
        identify_as(SAVE_EEPROM_16BIT, SIZE_8K,
                    "シリアルEEPROM STMicroelectronics製 M95640 64kbitと仮定\n");
    else if (length == SIZE_128K)
        identify_as(SAVE_EEPROM_24BIT, SIZE_128K,
                    "シリアルEEPROM STMicroelectronics製 M95M01 1Mbitと仮定\n");
    else if (length == flash_part(ID_LE25FW203)->size)
        identify_as(SAVE_FLASH, length, "シリアルFLASHメモリ SANYO製 LE25FW203 2Mbitと仮定\n");
    else
        return false;
    return true;
}

}  // namespace

// The stages in their order, each made only when the ones before it identified nothing.
void identify_save_memory(RunMode mode, int length) {
    bus_open();
    int id;
    bool identified = identify_by_id(&id) || (behind_transceiver() && identify_by_id(&id)) ||
                      identify_by_probe(id) || identify_by_first_data(id) ||
                      (mode == RUN_WRITE && guess_from_file(length));
    if (!identified) fail_unknown();
}
