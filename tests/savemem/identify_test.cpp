// Identification of each save memory, by its answer to RDID, by the probes of each address
// width, by the data check and the wrap-around test, by the file size, or not at all.
#include "rig.h"

#include <cstring>

#include "frontend/run_state.h"
#include "savemem/identify.h"

namespace {

const std::string kCheck = "メモリIDをチェックします\n";
const std::string kProbe = "セーブ用メモリの先頭部分を読み込んで、セーブ方式を判別します\n";
const std::string kBlank =
    "このカートリッジはおそらく未フォーマットです\n"
    "形式が判別できないため、正しく読み書きできないかもしれない\n"
    "(あるいはカートリッジがちゃんと挿さっていません)\n";
const std::string kLe25 = "シリアルFLASHメモリ SANYO製 LE25FW203 2Mbitです\n";
const std::string kM45 = "シリアルFLASHメモリ STMicroelectronics製 M45PE20 2Mbitです\n";
const std::string kM95040 = "シリアルEEPROM STMicroelectronics製 M95040 4kbitです\n";
const std::string kM95640 = "シリアルEEPROM STMicroelectronics製 M95640 64kbitです\n";
const std::string kM95512 = "シリアルEEPROM STMicroelectronics製 M95512 512kbitです\n";
const std::string kUnknown = "未知の方式なので、処理できませんでした\n[ 何かキーを押して下さい ]\n";
const std::string kNoId = kCheck + "メモリID=FFFFFF\n";

// A FLASH chip that ignores RDID, as one without the instruction would: the first byte of
// every command is held back from the chip and passed on only when it is not 0x9F.
class WithoutRdid : public emu::Cartridge {
public:
    explicit WithoutRdid(emu::Cartridge* inner) : inner_(inner) {}
    void drive(emu::BusLines lines, uint64_t now_ns) override {
        if (lines.select) {
            held_.clear();
            bits_ = 0;
            muted_ = false;
            inner_->drive(lines, now_ns);
            return;
        }
        if (muted_) return;
        if (bits_ < 8) {
            if (lines.clock && !clock_) first_ = static_cast<uint8_t>(first_ << 1 | lines.data), bits_++;
            clock_ = lines.clock;
            held_.push_back(lines);
            if (bits_ < 8) return;
            muted_ = first_ == 0x9F;
            if (!muted_)
                for (const emu::BusLines& held : held_) inner_->drive(held, now_ns);
            return;
        }
        clock_ = lines.clock;
        inner_->drive(lines, now_ns);
    }
    int output(uint64_t now_ns) override { return muted_ || bits_ < 8 ? -1 : inner_->output(now_ns); }

private:
    emu::Cartridge* inner_;
    std::vector<emu::BusLines> held_;
    int bits_ = 0;
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
    emu::SaveChip& insert_with(emu::ChipKind kind, std::initializer_list<std::pair<uint32_t, uint8_t>> bytes) {
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

    static int stream_reads() {
        int reads = 0;
        for (const Bytes& packet : traffic().out) reads += !packet.empty() && packet[0] == 0x05;
        return reads;
    }
};

TEST_F(Identify, FlashChipsByTheirId) {
    insert_pattern(emu::ChipKind::le25fw203);
    EXPECT_EQ(identify(), kCheck + "メモリID=621600\n" + kLe25);
    EXPECT_EQ(save_type, SAVE_FLASH);
    EXPECT_EQ(save_size, 0x40000);
    EXPECT_EQ(stream_reads(), 0);
    EXPECT_EQ(traffic().in.size(), 6u);  // two RDIDs and nothing else

    insert(emu::ChipKind::m45pe20);
    EXPECT_EQ(identify(RUN_WRITE, 0x200), kCheck + "メモリID=204012\n" + kM45);
    EXPECT_EQ(save_type, SAVE_FLASH);
    EXPECT_EQ(save_size, 0x40000);
}

TEST_F(Identify, EepromsByTheProbes) {
    insert_pattern(emu::ChipKind::m95040);
    EXPECT_EQ(identify(), kNoId + kProbe + kM95040);
    EXPECT_EQ(save_type, SAVE_EEPROM_9BIT);
    EXPECT_EQ(save_size, 0x200);
    EXPECT_EQ(stream_reads(), 0);

    insert_pattern(emu::ChipKind::m95640);
    EXPECT_EQ(identify(), kNoId + kProbe + kM95640);
    EXPECT_EQ(save_type, SAVE_EEPROM_16BIT);
    EXPECT_EQ(save_size, 0x2000);
    EXPECT_EQ(stream_reads(), 1);  // the wrap-around test

    insert_pattern(emu::ChipKind::m95512);
    EXPECT_EQ(identify(), kNoId + kProbe + kM95512);
    EXPECT_EQ(save_type, SAVE_EEPROM_16BIT);
    EXPECT_EQ(save_size, 0x10000);
}

TEST_F(Identify, FlashWithoutRdidByTheWidestProbe) {
    insert_pattern(emu::ChipKind::m45pe20);
    WithoutRdid quiet(chip_.get());
    adapter().insert(&quiet);
    EXPECT_EQ(identify(), kNoId + kProbe + kLe25);
    EXPECT_EQ(save_type, SAVE_FLASH);
    EXPECT_EQ(save_size, 0x40000);
}

TEST_F(Identify, AnUnknownIdIsReportedAndTheProbesDecide) {
    insert_pattern(emu::ChipKind::m95640);
    emu::StuckDataIn low(chip_.get(), 0);  // every bit reads 0
    adapter().insert(&low);
    // Zeros alone, after the identification 000000, are a line held low, not a memory:
    // not even a write run's file size may settle a type then.
    Ending ending = run_to_exit([] { identify_save_memory(RUN_WRITE, 0x200); });
    EXPECT_EQ(ending.code, 1);
    EXPECT_EQ(ending.output, kCheck + "メモリID=000000\n未知のシリアルFLASHメモリです\n" + kProbe + kUnknown);
}

TEST_F(Identify, DataBeyondTheFirstSixteenBytesIsFoundAndSized) {
    struct Case {
        emu::ChipKind chip;
        uint32_t address;
        const std::string& message;
        int size;
    } cases[] = {
        {emu::ChipKind::m95640, 0x0100, kM95640, 0x2000},
        {emu::ChipKind::m95512, 0x0100, kM95512, 0x10000},
        {emu::ChipKind::m95512, 0x0010, kM95512, 0x10000},
        // Its 512 bytes repeat through the streamed read, so it passes for 8 KiB.
        {emu::ChipKind::m95040, 0x0100, kM95640, 0x2000},
        // Beyond 0x2000 only a 64 KiB memory can hold data; the compared area is unread zeros.
        {emu::ChipKind::m95512, 0x3000, kM95512, 0x10000},
    };
    for (const Case& c : cases) {
        insert_with(c.chip, {{c.address, 0x12}, {c.address + 5, 0x34}});
        std::memset(cart_buffer, 0, BUFFER_SIZE);
        EXPECT_EQ(identify(), kNoId + kProbe + c.message) << emu::chip_kind_name(c.chip) << " " << c.address;
        EXPECT_EQ(save_type, SAVE_EEPROM_16BIT);
        EXPECT_EQ(save_size, c.size);
        EXPECT_EQ(stream_reads(), 1);  // the data check's read serves the size test too
    }
}

TEST_F(Identify, FirstDataAboveTheWrapIsTakenAs8KiBOnlyWhenTheRestIsZero) {
    insert(emu::ChipKind::m95512);
    std::vector<uint8_t> contents(0x10000, 0xFF);
    for (uint32_t a = 0x3000; a < 0x3100; a++) contents[a] = 0x00;
    chip_->fill(contents);
    // The streamed read of a 16-bit memory arrives one position early: first data at 0x2FFF.
    EXPECT_EQ(identify(), kNoId + kProbe + kM95640);
    EXPECT_EQ(save_size, 0x2000);
}

TEST_F(Identify, ABlankMemoryIsGuessedFromTheFileOfAWriteRun) {
    struct Case {
        int length;
        const char* message;
        int type;
    } cases[] = {
        {0x200, "シリアルEEPROM STMicroelectronics製 M95040 4kbitと仮定\n", SAVE_EEPROM_9BIT},
        {0x2000, "シリアルEEPROM STMicroelectronics製 M95640 64kbitと仮定\n", SAVE_EEPROM_16BIT},
        {0x40000, "シリアルFLASHメモリ SANYO製 LE25FW203 2Mbitと仮定\n", SAVE_FLASH},
    };
    for (const Case& c : cases) {
        insert(emu::ChipKind::m95512);
        EXPECT_EQ(identify(RUN_WRITE, c.length), kNoId + kProbe + kBlank + c.message);
        EXPECT_EQ(save_type, c.type);
        EXPECT_EQ(save_size, c.length);
    }
}

TEST_F(Identify, NothingRecognisedEndsTheRun) {
    struct Case {
        RunMode mode;
        int length;
    } cases[] = {{RUN_READ, 0}, {RUN_ERASE, 0}, {RUN_WRITE, 0x10000}, {RUN_WRITE, 0x201}, {RUN_READ, 0x2000}};
    for (const Case& c : cases) {
        insert(emu::ChipKind::m95640);
        Ending ending = run_to_exit([&c] { identify_save_memory(c.mode, c.length); });
        EXPECT_EQ(ending.code, 1) << c.mode << " " << c.length;
        EXPECT_EQ(ending.output, kNoId + kProbe + kBlank + kUnknown) << c.mode << " " << c.length;
    }
    // An empty slot: nothing answers at all.
    adapter().insert(nullptr);
    Ending ending = run_to_exit([] { identify_save_memory(RUN_READ, 0); });
    EXPECT_EQ(ending.code, 1);
    EXPECT_EQ(ending.output, kNoId + kProbe + kBlank + kUnknown);
}

}  // namespace
