// The memory instructions on each kind of save chip: address framing at the edges of
// each address width, block reads, writes, identification and the FLASH erase.
#include "rig.h"

#include <cstring>

#include "platform/winapi.h"
#include "run/run_state.h"
#include "savemem/memory.h"

namespace {

struct Kind {
    emu::ChipKind chip;
    int type;
};

class MemoryCommands : public Rig, public ::testing::WithParamInterface<Kind> {};

// A fresh chip per address: framing edges of the 9-bit, 16-bit and 24-bit addresses.
TEST_P(MemoryCommands, SingleBytesAtAddressEdges) {
    const Kind kind = GetParam();
    const int edges[] = {0x00, 0xFF, 0x100, 0x1A5, 0x1FF};
    insert_pattern(kind.chip);
    for (int address : edges) {
        clear_record();
        EXPECT_EQ(read_byte(kind.type, address), pattern(address)) << std::hex << address;
        PipeTraffic seen = traffic();
        EXPECT_EQ(seen.in.size(), 1u);
        EXPECT_EQ(seen.out.size(), 6u + static_cast<unsigned>(kind.type));
    }
    insert(kind.chip);  // blank: FLASH bytes can be programmed from 0xFF only
    for (int address : edges) {
        uint8_t value = static_cast<uint8_t>(pattern(address) ^ 0x5A);
        clear_record();
        write_enable();
        write_byte(kind.type, address, 0x100 | value);  // only the low 8 bits are written
        PipeTraffic seen = traffic();
        EXPECT_EQ(seen.out.size(), 4u + 7u + static_cast<unsigned>(kind.type));
        EXPECT_TRUE(seen.in.empty());
        Sleep(10);  // the write cycle
        EXPECT_EQ(read_byte(kind.type, address), value) << std::hex << address;
    }
    for (uint32_t a = 0; a < memory().size(); a++) {
        bool edge = false;
        for (int address : edges) edge |= a == static_cast<uint32_t>(address);
        ASSERT_EQ(memory()[a], edge ? (pattern(a) ^ 0x5A) : 0xFF) << std::hex << a;
    }
}

TEST_P(MemoryCommands, ReadBlockFillsTheBufferAtTheMemoryAddress) {
    const Kind kind = GetParam();
    insert_pattern(kind.chip);
    static unsigned char buffer[0x300];
    std::memset(buffer, 0xA5, sizeof buffer);
    read_block(kind.type, 0x100, buffer, 16);
    for (int i = 0; i < 0x100; i++) ASSERT_EQ(buffer[i], 0xA5) << i;
    for (int i = 0x100; i < 0x110; i++) EXPECT_EQ(buffer[i], pattern(i)) << i;
    for (int i = 0x110; i < 0x300; i++) ASSERT_EQ(buffer[i], 0xA5) << i;
    PipeTraffic seen = traffic();
    EXPECT_EQ(seen.out.size(), 5u + static_cast<unsigned>(kind.type) + 16u);
    EXPECT_EQ(seen.in.size(), 16u);

    // 0x1F0..0x20F crosses the end of the 9-bit EEPROM: it wraps to address 0.
    read_block(kind.type, 0x1F0, buffer, 0x20);
    uint32_t size = static_cast<uint32_t>(memory().size());
    for (uint32_t i = 0x1F0; i < 0x210; i++) EXPECT_EQ(buffer[i], pattern(i % size)) << i;

    clear_record();
    std::memset(buffer, 0xA5, sizeof buffer);
    read_block(kind.type, 0x10, buffer, 0);
    for (unsigned char byte : buffer) ASSERT_EQ(byte, 0xA5);
    seen = traffic();
    EXPECT_EQ(seen.out.size(), 5u + static_cast<unsigned>(kind.type));
    EXPECT_TRUE(seen.in.empty());
}

INSTANTIATE_TEST_SUITE_P(EveryChip, MemoryCommands,
                         ::testing::Values(Kind{emu::ChipKind::m95040, SAVE_EEPROM_9BIT},
                                           Kind{emu::ChipKind::m95640, SAVE_EEPROM_16BIT},
                                           Kind{emu::ChipKind::m95512, SAVE_EEPROM_16BIT},
                                           Kind{emu::ChipKind::le25fw203, SAVE_FLASH},
                                           Kind{emu::ChipKind::m45pe20, SAVE_FLASH}),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             return std::string(emu::chip_kind_name(info.param.chip));
                         });

using MemoryFraming = Rig;

TEST_F(MemoryFraming, HeadersCarryTheAddressOfEachWidth) {
    insert(emu::ChipKind::m95512);
    read_byte(1, 0x0FF);
    read_byte(1, 0x1FF);
    write_byte(1, 0x100, 0x5A);
    read_byte(2, 0x1A5);
    read_byte(3, 0x1A5);
    write_byte(2, 0, 0x1FF);
    write_enable();
    read_id();
    EXPECT_EQ(bus_commands(), (std::vector<Bytes>{{0x03, 0xFF},
                                                  {0x0B, 0xFF},
                                                  {0x0A, 0x00, 0x5A},
                                                  {0x03, 0x01, 0xA5},
                                                  {0x03, 0x00, 0x01, 0xA5},
                                                  {0x02, 0x00, 0x00, 0xFF},
                                                  {0x06},
                                                  {0x9F}}));
}

TEST_F(MemoryFraming, Compare16LooksAtAllSixteenBytes) {
    unsigned char a[16], b[16];
    for (int i = 0; i < 16; i++) a[i] = b[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(compare16(a, b), 0);
    b[15] ^= 1;
    EXPECT_EQ(compare16(a, b), -1);
    b[15] ^= 1;
    b[0] ^= 0x80;
    EXPECT_EQ(compare16(a, b), -1);
}

using Identification = Rig;

TEST_F(Identification, ReadIdGivesTheThreeBytes) {
    insert(emu::ChipKind::le25fw203);
    EXPECT_EQ(read_id(), 0x621600);
    PipeTraffic seen = traffic();
    EXPECT_EQ(seen.out.size(), 7u);
    EXPECT_EQ(seen.in.size(), 3u);
    insert(emu::ChipKind::m45pe20);
    EXPECT_EQ(read_id(), 0x204012);
    insert(emu::ChipKind::m95040);
    EXPECT_EQ(read_id(), 0xFFFFFF);
    insert(emu::ChipKind::m95512);
    EXPECT_EQ(read_id(), 0xFFFFFF);
}

// Status reads that found the write-in-progress bit set: the last bit of an 8-bit read.
int busy_polls(const PipeTraffic& seen) {
    int polls = 0;
    for (const Bytes& reply : seen.in) polls += reply.size() == 8 && (reply[7] & 1);
    return polls;
}

// The sector lines of erase_flash for a chip whose erase takes `polls` busy status reads.
std::string erase_output(int dots_per_sector, int sectors = 4) {
    std::string text = "フラッシュメモリの消去を開始します\n";
    for (int s = 0; s < sectors; s++)
        text +=
            "Sector " + std::to_string(s) + " erase " + std::string(dots_per_sector, '.') + "\n";
    return text;
}

// erase_flash erases the identified size: that of these 256 KiB chips.
struct EraseFlash : Rig {
    void SetUp() override {
        Rig::SetUp();
        save_size = 0x40000;
    }
};

TEST_F(EraseFlash, ErasesTheFourSectorsWithADotPerWait) {
    for (emu::ChipKind kind : {emu::ChipKind::le25fw203, emu::ChipKind::m45pe20}) {
        emu::SaveChip& chip = insert_pattern(kind);
        uint64_t start = adapter().now_ns();
        Console console;
        erase_flash();
        uint64_t erase_ns = chip.cycles()[0].end_ns - chip.cycles()[0].start_ns;
        std::string output = console.text();
        for (uint32_t a = 0; a < 0x40000; a++) ASSERT_EQ(memory()[a], 0xFF) << std::hex << a;
        ASSERT_EQ(chip.cycles().size(), 4u);
        for (uint32_t s = 0; s < 4; s++) {
            EXPECT_EQ(chip.cycles()[s].kind, emu::ChipCycle::Kind::sector_erase);
            EXPECT_EQ(chip.cycles()[s].address, s << 16);
            // Each sector is waited for before the next one is started.
            if (s > 0) {
                EXPECT_GE(chip.cycles()[s].start_ns, chip.cycles()[s - 1].end_ns);
            }
        }
        // One dot per status read that found the sector still busy, so at least one per
        // 300 ms of erasing.
        int polls = busy_polls(traffic());
        EXPECT_EQ(output, erase_output(polls / 4));
        EXPECT_GE(polls / 4, static_cast<int>((erase_ns + 299999999) / 300000000));
        EXPECT_GE(adapter().now_ns() - start, 4 * erase_ns);
    }
}

TEST_F(EraseFlash, AnIdleStatusAtTheFirstPollPrintsNoDots) {
    insert(emu::ChipKind::le25fw203);
    emu::StuckDataIn stuck_low(chip_.get(), 0);
    adapter().insert(&stuck_low);
    Console console;
    erase_flash();
    EXPECT_EQ(console.text(), erase_output(0));
}

// A memory identified as larger gets one sector erase and one line per 64 KiB of it.
TEST_F(EraseFlash, ErasesEverySectorOfTheIdentifiedSize) {
    insert(emu::ChipKind::le25fw203);
    emu::StuckDataIn stuck_low(chip_.get(), 0);  // every sector reads done at once
    adapter().insert(&stuck_low);
    save_size = 0x80000;
    Console console;
    erase_flash();
    EXPECT_EQ(console.text(), erase_output(0, 8));
    std::vector<Bytes> erases;
    for (const Bytes& command : bus_commands())
        if (!command.empty() && command[0] == 0xD8) erases.push_back(command);
    ASSERT_EQ(erases.size(), 8u);
    for (uint8_t s = 0; s < 8; s++) EXPECT_EQ(erases[s], (Bytes{0xD8, s, 0x00, 0x00}));
}

TEST_F(EraseFlash, GivesUpOnASectorAfterSixtySeconds) {
    emu::SaveChip& chip = insert(emu::ChipKind::m45pe20);
    chip.set_erase_hang(true);
    uint64_t start = adapter().now_ns();
    Ending ending = run_to_exit([] { erase_flash(); });
    EXPECT_EQ(ending.code, 1);
    std::string expected =
        "フラッシュメモリの消去を開始します\nSector 0 erase " + std::string(200, '.') +
        "\nError: フラッシュメモリの消去が終わりませんでした\n[ 何かキーを押して下さい ]\n";
    EXPECT_EQ(ending.output, expected);
    (void)start;
}

}  // namespace
