// The read, write and erase runs on identified memories, in-process: the waits in virtual
// time, the files, and the runs that must stop before touching the memory. The whole tool's
// runs on every chip are compared byte for byte by the end-to-end tests.
#include "rig.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "adapter_protocol.h"
#include "chips/infrared.h"
#include "firmware_image.h"
#include "frontend/procedures.h"
#include "link/link.h"
#include "run/run_state.h"
#include "savemem/bus.h"
#include "savemem/stream.h"

namespace {

const std::string kBackingUp = "カートリッジデータ読み込み中です...\n";
const std::string kBackedUp = "バックアップしました(backup.txt, backup.sav)\n";
const std::string kVerify = "書き込み結果をベリファイします\nカートリッジデータ読み込み中です...\n";

std::string progress(int total) {
    std::string text;
    char line[32];
    for (int i = 0; i < total && total >= 256; i += 128) {
        std::snprintf(line, sizeof line, "(%4.1f%%)\r", i * 100.0 / total);
        text += line;
    }
    return text;
}

// A backup or a read run reads the memory twice.
std::string two_reads(int total) {
    return progress(total) + "確認のため、もう一度読み込みます...\n" + progress(total);
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

class Procedures : public Rig {
protected:
    void SetUp() override {
        Rig::SetUp();
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::string("procedures_") + test->name();
        std::system(("rm -rf " + folder_).c_str());
        mkdir(folder_.c_str(), 0755);
        ASSERT_EQ(chdir(folder_.c_str()), 0);
        backup_prefix[0] = '\0';
    }
    void TearDown() override {
        ASSERT_EQ(chdir(".."), 0);
        if (!HasFailure())
            std::system(("rm -rf " + folder_).c_str());  // kept for a look when failed
        Rig::TearDown();
    }

    // A chip of that kind holding the pattern, taken as identified.
    void identified(emu::ChipKind kind, SaveType type) {
        insert_pattern(kind);
        save_type = type;
        save_size = static_cast<int>(chip_->size());
    }

    // The file to write: the pattern's complement.
    void load_image(int length) {
        std::memset(image_buffer, 0xFF, BUFFER_SIZE);
        for (int a = 0; a < length; a++)
            image_buffer[a] = static_cast<unsigned char>(~pattern(static_cast<uint32_t>(a)));
        data_length = length;
    }

    Bytes patterned() const {
        Bytes bytes(chip_->size());
        for (uint32_t a = 0; a < bytes.size(); a++) bytes[a] = pattern(a);
        return bytes;
    }

    void expect_files(const std::string& text, const std::string& binary, const Bytes& contents) {
        std::string raw = slurp(binary);
        EXPECT_EQ(Bytes(raw.begin(), raw.end()), contents) << binary;
        std::string dump = slurp(text);
        EXPECT_EQ(dump.size(), contents.size() / 16 * (contents.size() > 0xFFFF ? 55 : 54) -
                                   (contents.size() > 0xFFFF ? 0x1000 : 0) + 2)
            << text;
        char first[64];
        std::snprintf(first, sizeof first, "0000 %02X %02X", contents[0], contents[1]);
        EXPECT_EQ(dump.compare(0, std::strlen(first), first), 0) << text;
    }

    std::string folder_;
};

TEST_F(Procedures, ReadRunSavesTheWholeMemory) {
    for (auto kind : {std::make_pair(emu::ChipKind::m95040, SAVE_EEPROM_9BIT),
                      std::make_pair(emu::ChipKind::m45pe20, SAVE_FLASH)}) {
        identified(kind.first, kind.second);
        Console console;
        read_run();
        EXPECT_EQ(console.text(), "カートリッジデータの読み込み中です...\n" + two_reads(save_size) +
                                      "保存しました(savedata.txt, savedata.sav)\n");
        expect_files("savedata.txt", "savedata.sav", patterned());
    }
}

TEST_F(Procedures, ReadRunStopsWhenTheFilesCannotBeWritten) {
    identified(emu::ChipKind::m95040, SAVE_EEPROM_9BIT);
    mkdir("savedata.sav", 0755);  // a folder where the binary file should go
    Ending ending = run_to_exit([] { read_run(); });
    EXPECT_EQ(ending.code, 1);
    EXPECT_EQ(ending.output.find("保存しました"), std::string::npos);
    EXPECT_NE(ending.output.find("Error: "), std::string::npos);
}

TEST_F(Procedures, EepromWriteRunBacksUpWritesAndVerifies) {
    identified(emu::ChipKind::m95040, SAVE_EEPROM_9BIT);
    load_image(0x200);
    mkdir("saves", 0755);
    std::strcpy(backup_prefix, "saves/");
    uint64_t start = adapter().now_ns();
    Console console;
    write_run();
    EXPECT_EQ(console.text(), "カートリッジに書き込みする前にバックアップします\n" + kBackingUp +
                                  two_reads(0x200) + kBackedUp +
                                  "カートリッジデータ書き込み中です...\n" + progress(0x200) +
                                  kVerify + progress(0x200) + "正しく書き込まれています\n");
    EXPECT_EQ(Bytes(memory().begin(), memory().end()), Bytes(image_buffer, image_buffer + 0x200));
    expect_files("saves/backup.txt", "saves/backup.sav", patterned());
    EXPECT_FALSE(exists("backup.sav"));
    EXPECT_GE(adapter().now_ns() - start, 3000000000u);
}

TEST_F(Procedures, WriteRunWithoutACompleteBackupLeavesTheMemoryAlone) {
    for (auto kind : {std::make_pair(emu::ChipKind::m95040, SAVE_EEPROM_9BIT),
                      std::make_pair(emu::ChipKind::le25fw203, SAVE_FLASH)}) {
        identified(kind.first, kind.second);
        load_image(save_size);
        std::strcpy(backup_prefix, "missing/");
        Ending ending = run_to_exit([] { write_run(); });
        EXPECT_EQ(ending.code, 1);
        EXPECT_EQ(ending.output.find("書き込み中"), std::string::npos);
        EXPECT_EQ(ending.output.find("消去"), std::string::npos);
        EXPECT_EQ(ending.memory, patterned());
        EXPECT_EQ(chip_->cycles().size(), 0u);
    }
}

TEST_F(Procedures, EepromEraseRunFillsWithFF) {
    identified(emu::ChipKind::m95040, SAVE_EEPROM_9BIT);
    uint64_t start = adapter().now_ns();
    Console console;
    erase_run();
    EXPECT_EQ(console.text(), "カートリッジデータを消去する前にバックアップします\n" + kBackingUp +
                                  two_reads(0x200) + kBackedUp +
                                  "カートリッジデータ消去中です...\n" + progress(0x200) +
                                  kBackingUp + progress(0x200) + "正しく消去されています\n");
    for (uint32_t a = 0; a < 0x200; a++) ASSERT_EQ(memory()[a], 0xFF) << a;
    expect_files("backup.txt", "backup.sav", patterned());
    EXPECT_GE(adapter().now_ns() - start, 1000000000u);
}

// A FLASH write does what the file needs and no more. Four sectors: one holding the file
// already, one erased, two holding other data; the file has pages of 0xFF in the erased
// sector and in a changed one. A memory that reads erased throughout is erased whole.
TEST_F(Procedures, FlashWriteErasesAndProgramsOnlyWhatTheFileNeeds) {
    struct Case {
        const char* name;
        bool blank;
        std::vector<uint32_t> erased;  // sector addresses
    } cases[] = {{"mixed", false, {0x20000, 0x30000}},
                 {"blank", true, {0x00000, 0x10000, 0x20000, 0x30000}}};
    for (const Case& c : cases) {
        emu::SaveChip& chip = insert(emu::ChipKind::le25fw203);
        save_type = SAVE_FLASH;
        save_size = 0x40000;
        load_image(save_size);
        Bytes before(save_size, 0xFF);
        for (uint32_t a = 0; a < 0x40000 && !c.blank; a++)
            if (a < 0x10000 || a >= 0x20000) before[a] = a < 0x10000 ? image_buffer[a] : pattern(a);
        for (uint32_t page : {0x10100u, 0x10200u, 0x2FF00u})
            std::memset(image_buffer + page, 0xFF, 0x100);
        chip.fill(before);
        Console console;
        write_run();
        std::string output = console.text();
        EXPECT_EQ(Bytes(memory().begin(), memory().end()),
                  Bytes(image_buffer, image_buffer + save_size))
            << c.name;
        std::vector<uint32_t> erased;
        std::vector<uint32_t> programmed;
        for (const emu::ChipCycle& cycle : chip.cycles()) {
            if (cycle.kind == emu::ChipCycle::Kind::sector_erase) erased.push_back(cycle.address);
            if (cycle.kind == emu::ChipCycle::Kind::page_program)
                programmed.push_back(cycle.address);
        }
        EXPECT_EQ(erased, c.erased) << c.name;
        std::vector<uint32_t> expected_pages;
        for (uint32_t page = c.blank ? 0 : 0x10000; page < 0x40000; page += 0x100)
            if (page != 0x10100 && page != 0x10200 && page != 0x2FF00)
                expected_pages.push_back(page);
        EXPECT_EQ(programmed, expected_pages) << c.name;
        // Each sector keeps its line, a skipped one without dots; the percentage display is
        // that of the whole streamed write.
        for (int s = 0; s < 4; s++) {
            std::string line = "Sector " + std::to_string(s) + " erase \n";
            bool skipped = !c.blank && s < 2;
            EXPECT_EQ(output.find(line) != std::string::npos, skipped) << c.name << s;
        }
        std::string percent;
        char line[32];
        for (int sent = 128; sent <= save_size; sent += 128) {
            std::snprintf(line, sizeof line, "(%4.1f%%)\r", sent * 100.0 / save_size);
            percent += line;
        }
        EXPECT_NE(
            output.find("データ消去完了、書き込みを開始します\n" + percent + "書き込み完了\n"),
            std::string::npos)
            << c.name;
    }
}

// A firmware that writes EEPROM pages gets each page of the data sheet's size as one write
// cycle, in the write run and in the erase run; a cycle that does not end stops the run
// with the address of its page.
TEST_F(Procedures, EepromRunsGoByPagesOnAFirmwareThatWritesThem) {
    struct Case {
        emu::ChipKind kind;
        SaveType type;
        uint32_t page;
    } cases[] = {{emu::ChipKind::m95040, SAVE_EEPROM_9BIT, 16},
                 {emu::ChipKind::m95640, SAVE_EEPROM_16BIT, 32},
                 {emu::ChipKind::m95512, SAVE_EEPROM_16BIT, 128}};
    for (const Case& c : cases) {
        for (bool erase : {false, true}) {
            identified(c.kind, c.type);
            load_image(save_size);
            Console console;
            erase ? erase_run() : write_run();
            console.text();
            Bytes wanted =
                erase ? Bytes(save_size, 0xFF) : Bytes(image_buffer, image_buffer + save_size);
            EXPECT_EQ(Bytes(memory().begin(), memory().end()), wanted) << save_size << erase;
            ASSERT_EQ(chip_->cycles().size(), save_size / c.page) << save_size << erase;
            for (uint32_t i = 0; i < chip_->cycles().size(); i++) {
                EXPECT_EQ(chip_->cycles()[i].address, i * c.page);
                EXPECT_EQ(chip_->cycles()[i].count, c.page);
            }
        }
    }
    identified(emu::ChipKind::m95640, SAVE_EEPROM_16BIT);
    chip_->set_program_time_us(5000000);
    load_image(save_size);
    Ending ending = run_to_exit([] { write_run(); });
    EXPECT_EQ(ending.code, 1);
    EXPECT_NE(ending.output.find("Error: 書き込みが終わりませんでした(adr=0000)\n"),
              std::string::npos);
}

// An EEPROM behind an infrared transceiver: each page behind its own prefix request, whose
// reply must not be taken for the page's, nor the page's for it.
TEST_F(Procedures, EepromPagesBehindATransceiverAreWrittenOneAtATime) {
    identified(emu::ChipKind::m95640, SAVE_EEPROM_16BIT);
    emu::InfraredTransceiver transceiver(chip_.get());
    adapter().insert(&transceiver);
    bus_prefix(1);
    load_image(save_size);
    Console console;
    write_run();
    std::string output = console.text();
    EXPECT_NE(output.find("書き込み結果をベリファイします"), std::string::npos) << output;
    EXPECT_EQ(Bytes(memory().begin(), memory().end()),
              Bytes(image_buffer, image_buffer + save_size));
    EXPECT_EQ(transceiver.timing_faults(), 0);
    bus_prefix(0);
    adapter().insert(chip_.get());
}

// The adapter loaded with another image, as a run of the release that carries it leaves it.
void reload_adapter(const unsigned char* image) {
    close_adapter(&adapter_handle);
    ASSERT_EQ(connect_adapter(0, &adapter_handle, image, "", ""), 0);
    bus_open();
}

Bytes image_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// An adapter that the previous release loaded keeps its firmware, which has no page write:
// the probe finds that out, and the EEPROM runs go byte by byte, a write cycle a byte, with
// the same output.
TEST_F(Procedures, OnThePreviousFirmwareEepromRunsGoByteByByte) {
    const Bytes previous = image_file(PREVIOUS_FIRMWARE);
    ASSERT_EQ(previous.size(), 4096u);
    EXPECT_EQ(probe_page_write(), PAGES_AHEAD);
    reload_adapter(previous.data());
    EXPECT_EQ(probe_page_write(), PAGES_NONE);
    for (bool erase : {false, true}) {
        identified(emu::ChipKind::m95040, SAVE_EEPROM_9BIT);
        load_image(save_size);
        Console console;
        erase ? erase_run() : write_run();
        std::string output = console.text();
        EXPECT_NE(output.find((erase ? "消去中です...\n" : "書き込み中です...\n") +
                              progress(0x200) + (erase ? kBackingUp : kVerify)),
                  std::string::npos)
            << output;
        Bytes wanted = erase ? Bytes(0x200, 0xFF) : Bytes(image_buffer, image_buffer + 0x200);
        EXPECT_EQ(Bytes(memory().begin(), memory().end()), wanted) << erase;
        ASSERT_EQ(chip_->cycles().size(), 0x200u) << erase;
        for (uint32_t a = 0; a < 0x200; a++) EXPECT_EQ(chip_->cycles()[a].address, a);
    }
    reload_adapter(firmware_image);
    EXPECT_EQ(probe_page_write(), PAGES_AHEAD);
}

// An adapter still running the earlier firmware whose page write takes its data from the
// packet after the header, and loads its reply whether EP1 IN is free or not: each page's
// header alone, its reply taken before the next page is sent.
TEST_F(Procedures, OnTheEarlierPageFirmwarePagesGoOneAtATime) {
    const Bytes earlier = image_file(EARLIER_PAGE_FIRMWARE);
    ASSERT_EQ(earlier.size(), 4096u);
    reload_adapter(earlier.data());
    EXPECT_EQ(probe_page_write(), PAGES_SPLIT);
    for (bool erase : {false, true}) {
        identified(emu::ChipKind::m95640, SAVE_EEPROM_16BIT);
        load_image(save_size);
        clear_record();
        Console console;
        erase ? erase_run() : write_run();
        console.text();
        Bytes wanted = erase ? Bytes(0x2000, 0xFF) : Bytes(image_buffer, image_buffer + 0x2000);
        EXPECT_EQ(Bytes(memory().begin(), memory().end()), wanted) << erase;
        EXPECT_EQ(chip_->cycles().size(), 0x2000u / 32) << erase;
        const PipeTraffic pipes = traffic();
        int alone = 0;
        for (size_t i = 0; i + 1 < pipes.out.size(); i++) {
            if (pipes.out[i].size() == OP_PAGE_WRITE_SIZE && pipes.out[i][0] == OP_PAGE_WRITE) {
                alone++;
                EXPECT_EQ(pipes.out[i + 1].size(), 32u) << "the data in a packet of its own";
            }
        }
        EXPECT_EQ(alone, 0x2000 / 32) << erase;
    }
    reload_adapter(firmware_image);
}

}  // namespace
