// Identification of each save memory, by its answer to RDID, by the probes of each address
// width, by the data check and the wrap-around test, by the file size, or not at all.
#include "rig.h"

#include <cstdio>
#include <cstring>

#include "chip_messages.h"
#include "chips/infrared.h"
#include "run/run_state.h"
#include "savemem/bus.h"
#include "savemem/identify.h"

namespace {

const std::string BLANK =
    "このカートリッジはおそらく未フォーマットです\n"
    "形式が判別できないため、正しく読み書きできないかもしれない\n"
    "(あるいはカートリッジがちゃんと挿さっていません)\n";
const std::string UNKNOWN = "未知の方式なので、処理できませんでした\n[ 何かキーを押して下さい ]\n";
// The line of the 256 KiB FLASH part, which the probes take every FLASH part without RDID for.
const std::string LE25FW203 = part_line(emu::ChipKind::le25fw203);

// A FLASH chip whose answer to RDID is replaced: by silence (id < 0), as a chip without
// the instruction gives, or by the given identification. The first byte of every command
// is held back from the chip and passed on only when it is not 0x9F.
class RdidOverride : public emu::Cartridge {
public:
    explicit RdidOverride(emu::Cartridge* inner, int id = -1) : inner_(inner), id_(id) {}
    void drive(emu::BusLines lines, uint64_t now_ns) override {
        if (lines.select) {
            held_.clear();
            bits_ = 0;
            muted_ = false;
            inner_->drive(lines, now_ns);
            return;
        }
        if (muted_) {
            if (clock_ && !lines.clock) ++sent_;  // the next identification bit appears
            clock_ = lines.clock;
            return;
        }
        if (bits_ < 8) {
            if (lines.clock && !clock_)
                first_ = static_cast<uint8_t>(first_ << 1 | lines.data), bits_++;
            clock_ = lines.clock;
            held_.push_back(lines);
            if (bits_ < 8) return;
            muted_ = first_ == 0x9F;
            sent_ = 0;
            if (!muted_)
                for (const emu::BusLines& held : held_) inner_->drive(held, now_ns);
            return;
        }
        clock_ = lines.clock;
        inner_->drive(lines, now_ns);
    }
    int output(uint64_t now_ns) override {
        if (bits_ < 8) return -1;
        if (!muted_) return inner_->output(now_ns);
        return id_ < 0 || sent_ < 1 || sent_ > 24 ? -1 : (id_ >> (24 - sent_)) & 1;
    }

private:
    emu::Cartridge* inner_;
    int id_;
    std::vector<emu::BusLines> held_;
    int bits_ = 0;
    int sent_ = 0;
    uint8_t first_ = 0;
    bool clock_ = false;
    bool muted_ = false;
};

class Identify : public Rig {
protected:
    void SetUp() override {
        Rig::SetUp();
        std::memset(cart_buffer, 0, BUFFER_SIZE);  // as at the start of a run
    }

    // The chip's memory: 0xFF but for the given bytes.
    emu::SaveChip& insert_with(emu::ChipKind kind,
                               std::initializer_list<std::pair<uint32_t, uint8_t>> bytes) {
        emu::SaveChip& chip = insert(kind);
        std::vector<uint8_t> contents(chip.size(), 0xFF);
        for (const auto& byte : bytes) contents[byte.first] = byte.second;
        chip.fill(contents);
        return chip;
    }

    // Identifies in-process; returns the output.
    std::string identify(RunMode mode = RUN_READ, int length = 0) {
        Console console;
        identify_save_memory(mode, length);
        return console.text();
    }

    // The size of the chip's row in the emulator's table.
    static int size_of(emu::ChipKind kind) { return static_cast<int>(emu::chip_info(kind).size); }

    static int stream_reads() {
        int reads = 0;
        for (const Bytes& packet : traffic().out) reads += !packet.empty() && packet[0] == 0x05;
        return reads;
    }
};

TEST_F(Identify, FlashChipsByTheirId) {
    insert_pattern(emu::ChipKind::le25fw203);
    EXPECT_EQ(identify(), identified(emu::ChipKind::le25fw203));
    EXPECT_EQ(save_type, SAVE_FLASH);
    EXPECT_EQ(save_size, size_of(emu::ChipKind::le25fw203));
    EXPECT_EQ(stream_reads(), 0);
    EXPECT_EQ(traffic().in.size(), 6u);  // two RDIDs and nothing else

    insert(emu::ChipKind::m45pe20);
    EXPECT_EQ(identify(RUN_WRITE, 0x200), identified(emu::ChipKind::m45pe20));
    EXPECT_EQ(save_type, SAVE_FLASH);
    EXPECT_EQ(save_size, size_of(emu::ChipKind::m45pe20));
}

TEST_F(Identify, EepromsByTheProbes) {
    insert_pattern(emu::ChipKind::m95040);
    EXPECT_EQ(identify(), identified(emu::ChipKind::m95040));
    EXPECT_EQ(save_type, SAVE_EEPROM_9BIT);
    EXPECT_EQ(save_size, size_of(emu::ChipKind::m95040));
    EXPECT_EQ(stream_reads(), 0);

    insert_pattern(emu::ChipKind::m95640);
    EXPECT_EQ(identify(), identified(emu::ChipKind::m95640));
    EXPECT_EQ(save_type, SAVE_EEPROM_16BIT);
    EXPECT_EQ(save_size, size_of(emu::ChipKind::m95640));
    EXPECT_EQ(stream_reads(), 2);  // the size test: 16 KiB, then all of the first 64 KiB

    insert_pattern(emu::ChipKind::m95512);
    EXPECT_EQ(identify(), identified(emu::ChipKind::m95512));
    EXPECT_EQ(save_type, SAVE_EEPROM_16BIT);
    EXPECT_EQ(save_size, size_of(emu::ChipKind::m95512));
}

// Without an identification, the memory that the 24-bit probe answers is the 128 KiB
// EEPROM when it repeats itself after 128 KiB, otherwise a 256 KiB FLASH: one byte of
// difference is enough.
TEST_F(Identify, FlashWithoutRdidByTheWidestProbe) {
    emu::SaveChip& chip = insert_pattern(emu::ChipKind::m45pe20);
    std::vector<uint8_t> contents = chip.memory();
    contents[0x3FFFF] ^= 0x01;
    chip.fill(contents);
    RdidOverride quiet(chip_.get());
    adapter().insert(&quiet);
    EXPECT_EQ(identify(), NO_ID + PROBE + LE25FW203);
    EXPECT_EQ(save_type, SAVE_FLASH);
    EXPECT_EQ(save_size, 0x40000);
    // Its first 16 bytes erased: found by the data check, then the widest probe.
    insert_with(emu::ChipKind::m45pe20, {{0x100, 0x12}, {0x105, 0x34}});
    RdidOverride quiet_again(chip_.get());
    adapter().insert(&quiet_again);
    EXPECT_EQ(identify(), NO_ID + PROBE + LE25FW203);
    EXPECT_EQ(save_size, 0x40000);

    insert_pattern(emu::ChipKind::m95m01);
    EXPECT_EQ(identify(), identified(emu::ChipKind::m95m01));
    EXPECT_EQ(save_type, SAVE_EEPROM_24BIT);
    EXPECT_EQ(save_size, size_of(emu::ChipKind::m95m01));
}

TEST_F(Identify, AnUnknownIdIsReportedAndTheProbesDecide) {
    insert_pattern(emu::ChipKind::m95640);
    emu::StuckDataIn low(chip_.get(), 0);  // every bit reads 0
    adapter().insert(&low);
    // Zeros alone, after the identification 000000, are a line held low, not a memory:
    // not even a write run's file size may settle a type then.
    Ending ending = run_to_exit([] { identify_save_memory(RUN_WRITE, 0x200); });
    EXPECT_EQ(ending.code, 1);
    EXPECT_EQ(ending.output,
              ID_CHECK + "メモリID=000000\n未知のシリアルFLASHメモリです\n" + PROBE + UNKNOWN);
}

// An identification outside the table: a JEDEC capacity code of more than 256 KiB that the
// buffers hold gives the size, and every other value leaves the decision to the probes
// (which take the 256 KiB chip behind for an LE25FW203). The parts of the table, each by
// its identification, are the end-to-end tests' walk through the emulator's chips.
TEST_F(Identify, AnUnknownFlashIdByItsCapacityCode) {
    const std::string unknown = "未知のシリアルFLASHメモリです\n";
    struct Case {
        int id;
        std::string lines;
        int size;
    } cases[] = {
        {0x123413, unknown + "容量を512Kbyteと仮定します\n", 0x80000},
        {0xEF4015, unknown + "容量を2048Kbyteと仮定します\n", 0x200000},
        {0x202017, unknown + "容量を8192Kbyteと仮定します\n", 0x800000},
        {0x202018, unknown + PROBE + LE25FW203, 0x40000},  // 16 MiB: more than the buffers hold
        {0x205012, unknown + PROBE + LE25FW203, 0x40000},
        {0x621000, unknown + PROBE + LE25FW203, 0x40000},
    };
    for (const Case& c : cases) {
        insert_pattern(emu::ChipKind::le25fw203);
        RdidOverride answer(chip_.get(), c.id);
        adapter().insert(&answer);
        char id_line[32];
        std::snprintf(id_line, sizeof id_line, "メモリID=%06X\n", c.id);
        EXPECT_EQ(identify(), ID_CHECK + id_line + c.lines) << std::hex << c.id;
        EXPECT_EQ(save_type, SAVE_FLASH) << std::hex << c.id;
        EXPECT_EQ(save_size, c.size) << std::hex << c.id;
    }
}

// Only when a memory's own answer settled nothing does identification look behind an
// infrared cartridge's transceiver: through a 00h prefix, which every known memory takes
// for an instruction it lacks, so that nothing in it changes. Behind a transceiver the
// microcontroller sees only the plain identifications, never a READ (a write of its
// memory).
TEST_F(Identify, BehindAnInfraredTransceiverOnlyWhenTheIdSettlesNothing) {
    const Bytes prefixed_rdid = {0x00, 0x9F};
    using K = emu::ChipKind;
    for (K kind :
         {K::le25fw203, K::m45pe20, K::m45pe80, K::mx25l6445e, K::m95040, K::m95640, K::m95512}) {
        emu::SaveChip& chip = insert_pattern(kind);
        const std::vector<uint8_t> before = chip.memory();
        identify();
        bool eeprom = kind == K::m95040 || kind == K::m95640 || kind == K::m95512;
        int with_prefix = 0;
        for (const Bytes& command : bus_commands()) {
            if (command.empty() || command[0] != 0x00) continue;
            EXPECT_EQ(command, prefixed_rdid) << emu::chip_kind_name(kind);
            with_prefix++;
        }
        EXPECT_EQ(with_prefix, eeprom ? 1 : 0) << emu::chip_kind_name(kind);
        EXPECT_FALSE(bus_prefixed());
        EXPECT_EQ(memory(), before) << emu::chip_kind_name(kind);
        EXPECT_TRUE(chip.cycles().empty()) << emu::chip_kind_name(kind);
        EXPECT_EQ(chip.status(adapter().now_ns()), 0) << emu::chip_kind_name(kind);
    }

    insert_pattern(K::m45pe80);
    emu::InfraredTransceiver transceiver(chip_.get());
    adapter().insert(&transceiver);
    EXPECT_EQ(identify(), identified(K::m45pe80, true));
    EXPECT_EQ(save_type, SAVE_FLASH);
    EXPECT_EQ(save_size, size_of(K::m45pe80));
    EXPECT_TRUE(bus_prefixed());
    EXPECT_EQ(transceiver.mcu_commands(), (Bytes{0x9F, 0x9F}));
    EXPECT_EQ(transceiver.timing_faults(), 0);
}

TEST_F(Identify, DataBeyondTheFirstSixteenBytesIsFoundAndSized) {
    using K = emu::ChipKind;
    struct Case {
        K chip;
        uint32_t address;
        K found;  // what it is identified as
    } cases[] = {
        // 24-bit addresses: the widest probe again, on the first data.
        {K::m95m01, 0x0100, K::m95m01},
        {K::m95m01, 0x3FF0, K::m95m01},
        {K::m95640, 0x0100, K::m95640},
        {K::m95512, 0x0100, K::m95512},
        {K::m95512, 0x0010, K::m95512},
        // Its 512 bytes repeat through the streamed read, so it passes for 8 KiB.
        {K::m95040, 0x0100, K::m95640},
        // Beyond 0x2000 only a 64 KiB memory can hold data; the compared area is unread zeros.
        {K::m95512, 0x3000, K::m95512},
    };
    for (const Case& c : cases) {
        insert_with(c.chip, {{c.address, 0x12}, {c.address + 5, 0x34}});
        std::memset(cart_buffer, 0, BUFFER_SIZE);
        EXPECT_EQ(identify(), identified(c.found))
            << emu::chip_kind_name(c.chip) << " " << c.address;
        EXPECT_EQ(save_type, c.found == K::m95m01 ? SAVE_EEPROM_24BIT : SAVE_EEPROM_16BIT);
        EXPECT_EQ(save_size, size_of(c.found));
        // The data check's read serves the size test, unless its two 8 KiB agree (or the
        // memory has 24-bit addresses).
        EXPECT_EQ(stream_reads(), c.found == K::m95512 ? 1 : 2);
    }
}

// The size test compares whole 8 KiB blocks: first data above 0x2000 (zeros, which the
// unread part of the buffer also holds) is never taken for an 8 KiB memory.
TEST_F(Identify, FirstDataAboveTheWrapIsNeverTakenFor8KiB) {
    insert(emu::ChipKind::m95512);
    std::vector<uint8_t> contents(0x10000, 0xFF);
    for (uint32_t a = 0x3000; a < 0x3100; a++) contents[a] = 0x00;
    chip_->fill(contents);
    EXPECT_EQ(identify(), identified(emu::ChipKind::m95512));
    EXPECT_EQ(save_size, size_of(emu::ChipKind::m95512));
}

TEST_F(Identify, ABlankMemoryIsGuessedFromTheFileOfAWriteRun) {
    using K = emu::ChipKind;
    struct Case {
        K assumed;
        int type;
    } cases[] = {
        {K::m95040, SAVE_EEPROM_9BIT},
        {K::m95640, SAVE_EEPROM_16BIT},
        {K::m95m01, SAVE_EEPROM_24BIT},
        {K::le25fw203, SAVE_FLASH},
    };
    for (const Case& c : cases) {
        const int length = size_of(c.assumed);
        insert(emu::ChipKind::m95512);
        EXPECT_EQ(identify(RUN_WRITE, length),
                  NO_ID + PROBE + BLANK + part_line(c.assumed, "と仮定"));
        EXPECT_EQ(save_type, c.type);
        EXPECT_EQ(save_size, length);
    }
}

TEST_F(Identify, NothingRecognisedEndsTheRun) {
    struct Case {
        RunMode mode;
        int length;
    } cases[] = {{RUN_READ, 0},
                 {RUN_ERASE, 0},
                 {RUN_WRITE, 0x10000},
                 {RUN_WRITE, 0x201},
                 {RUN_READ, 0x2000}};
    for (const Case& c : cases) {
        insert(emu::ChipKind::m95640);
        Ending ending = run_to_exit([&c] { identify_save_memory(c.mode, c.length); });
        EXPECT_EQ(ending.code, 1) << c.mode << " " << c.length;
        EXPECT_EQ(ending.output, NO_ID + PROBE + BLANK + UNKNOWN) << c.mode << " " << c.length;
    }
    // An empty slot: nothing answers at all.
    adapter().insert(nullptr);
    Ending ending = run_to_exit([] { identify_save_memory(RUN_READ, 0); });
    EXPECT_EQ(ending.code, 1);
    EXPECT_EQ(ending.output, NO_ID + PROBE + BLANK + UNKNOWN);
}

}  // namespace
