// Streamed reads and writes: what goes over the pipes, where the data land, and what
// each display mode prints.
#include "rig.h"

#include <cstdio>
#include <cstring>

#include "frontend/run_state.h"
#include "platform/winapi.h"
#include "savemem/batch.h"
#include "savemem/memory.h"
#include "savemem/stream.h"

namespace {

std::string format(const char* spec, double value) {
    char text[64];
    std::snprintf(text, sizeof text, spec, value);
    return text;
}

std::string format(const char* spec, int value) {
    char text[64];
    std::snprintf(text, sizeof text, spec, value);
    return text;
}

// show_progress's lines for these positions of a total.
std::string progress_lines(int first, int last, int step, int total) {
    std::string text;
    for (int i = first; i <= last; i += step)
        if (i % 128 == 0) text += format("(%4.1f%%)\r", i * 100.0 / total);
    return text;
}

using StreamRead = Rig;

TEST_F(StreamRead, TakesOnePacketPerStartedSixtyFourBytesThenEndsAndDrains) {
    insert_pattern(emu::ChipKind::le25fw203);
    const Bytes header = {OP_STREAM_READ, REG_OUTB, REG_PINSC, 0x00, 0x00, 0x00, 0x01};
    struct Case {
        int count;
        std::string order;
    } cases[] = {
        {0, "ooi"}, {64, "oioi"}, {100, "oiioi"}, {0x4000, "o" + std::string(256, 'i') + "oi"}};
    for (const Case& c : cases) {
        std::memset(cart_buffer, 0xA5, 0x8000);
        clear_record();
        stream_read(0, c.count, DISPLAY_NONE);
        PipeTraffic seen = traffic();
        EXPECT_EQ(std::string(seen.order.begin(), seen.order.end()), c.order) << c.count;
        ASSERT_EQ(seen.out.size(), 2u);
        EXPECT_EQ(seen.out[0], header);
        EXPECT_EQ(seen.out[1], Bytes{OP_STREAM_END});
        for (const Bytes& reply : seen.in) EXPECT_EQ(reply.size(), 64u);
        for (int i = 0; i < c.count; i++)
            ASSERT_EQ(cart_buffer[i], pattern(static_cast<uint32_t>(i))) << i;
        for (int i = c.count; i < 0x8000; i++)
            ASSERT_EQ(cart_buffer[i], 0xA5) << c.count << " " << i;
        // The stream is closed and its last packet taken: register replies line up again.
        EXPECT_EQ(read_id(), 0x621600);
    }
}

TEST_F(StreamRead, SendsTheAddressAndStoresFromTheBufferStart) {
    insert_pattern(emu::ChipKind::m45pe20);
    std::memset(cart_buffer, 0xA5, 0x100);
    stream_read(0x012345, 32, DISPLAY_NONE);
    EXPECT_EQ(traffic().out[0],
              (Bytes{OP_STREAM_READ, REG_OUTB, REG_PINSC, 0x01, 0x23, 0x45, 0x01}));
    for (int i = 0; i < 32; i++)
        EXPECT_EQ(cart_buffer[i], pattern(0x012345u + static_cast<uint32_t>(i))) << i;
    EXPECT_EQ(cart_buffer[32], 0xA5);
}

TEST_F(StreamRead, ANarrowerAddressShiftsTheDataByItsMissingBytes) {
    // The last address byte is taken as data clocks by a 16-bit EEPROM.
    insert_pattern(emu::ChipKind::m95640);
    stream_read(0, 0x4000, DISPLAY_NONE);
    for (uint32_t i = 0; i < 0x3FFF; i++) ASSERT_EQ(cart_buffer[i], pattern((i + 1) % 0x2000)) << i;
}

// A whole EEPROM in one stream, from the address whose next byte is address 0: the
// 16-bit ones roll over at once, the 9-bit one in the middle, its halves put back.
TEST_F(StreamRead, AWholeEepromComesInOneStreamInPlace) {
    struct Case {
        emu::ChipKind kind;
        SaveType type;
        Bytes header;
    } cases[] = {
        {emu::ChipKind::m95040,
         SAVE_EEPROM_9BIT,
         {OP_STREAM_READ, REG_OUTB, REG_PINSC, 0xFE, 0x00, 0x00, 0x01}},
        {emu::ChipKind::m95640,
         SAVE_EEPROM_16BIT,
         {OP_STREAM_READ, REG_OUTB, REG_PINSC, 0x1F, 0xFF, 0x00, 0x01}},
        {emu::ChipKind::m95512,
         SAVE_EEPROM_16BIT,
         {OP_STREAM_READ, REG_OUTB, REG_PINSC, 0xFF, 0xFF, 0x00, 0x01}},
    };
    for (const Case& c : cases) {
        insert_pattern(c.kind);
        int size = static_cast<int>(chip_->size());
        std::memset(cart_buffer, 0xA5, static_cast<size_t>(size) + 1);
        Console console;
        stream_read_eeprom(c.type, size, DISPLAY_PERCENT);
        EXPECT_EQ(console.text(), progress_lines(0, size - 1, 1, size)) << size;
        EXPECT_EQ(traffic().out[0], c.header) << size;
        EXPECT_EQ(Bytes(cart_buffer, cart_buffer + size), memory()) << size;
        EXPECT_EQ(cart_buffer[size], 0xA5) << size;
    }
}

TEST_F(StreamRead, DisplayModes) {
    insert_pattern(emu::ChipKind::le25fw203);
    {
        Console console;
        stream_read(0x10, 32, DISPLAY_HEX);
        std::string expected;
        for (int i = 0; i < 32; i++) {
            if (i % 16 == 0) expected += format("\n%06X ", 0x10 + i);
            expected += format("%02X ", pattern(0x10u + static_cast<uint32_t>(i)));
        }
        EXPECT_EQ(console.text(), expected);
    }
    {
        Console console;
        stream_read(0x3FFFE, 3, DISPLAY_ADDRESS);
        EXPECT_EQ(console.text(), "READ : 03FFFE\r READ : 03FFFF\r READ : 040000\r ");
    }
    {
        Console console;
        stream_read(0, 0x4000, DISPLAY_PERCENT);
        EXPECT_EQ(console.text(), progress_lines(0, 0x3FFF, 1, 0x4000));
    }
    for (int display : {int{DISPLAY_NONE}, 4, -1}) {
        Console console;
        stream_read(0, 100, display);
        EXPECT_EQ(console.text(), "") << display;
    }
}

class StreamWrite : public Rig {
protected:
    void SetUp() override {
        Rig::SetUp();
        for (int i = 0; i < BUFFER_SIZE; i++)
            image_buffer[i] = static_cast<unsigned char>(i * 13 + (i >> 9));
    }
};

TEST_F(StreamWrite, OneHundredBytes) {
    emu::SaveChip& chip = insert(emu::ChipKind::le25fw203);
    Console console;
    stream_write(0, 100, 0, DISPLAY_ADDRESS);
    Sleep(10);  // the adapter programs the last page after taking the last packet
    EXPECT_EQ(console.text(), "WRITE : 000040 \r WRITE : 000064 \r ");
    PipeTraffic seen = traffic();
    EXPECT_TRUE(seen.in.empty());
    ASSERT_EQ(seen.out.size(), 3u);
    EXPECT_EQ(seen.out[0],
              (Bytes{OP_STREAM_WRITE, REG_OUTB, REG_PINSC, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64}));
    EXPECT_EQ(seen.out[1], Bytes(image_buffer, image_buffer + 64));
    EXPECT_EQ(seen.out[2], Bytes(image_buffer + 64, image_buffer + 100));
    for (uint32_t a = 0; a < 0x40000; a++)
        ASSERT_EQ(memory()[a], a < 100 ? image_buffer[a] : 0xFF) << a;
    ASSERT_EQ(chip.cycles().size(), 1u);
    EXPECT_EQ(chip.cycles()[0].count, 100u);

    // The percentage display is silent below 256 bytes; other modes show nothing.
    for (int display : {int{DISPLAY_NONE}, int{DISPLAY_HEX}, int{DISPLAY_PERCENT}, 7}) {
        insert(emu::ChipKind::le25fw203);
        Console quiet;
        stream_write(0, 100, 0, display);
        EXPECT_EQ(quiet.text(), "") << display;
        EXPECT_EQ(traffic().out.size(), 3u);
    }
}

// Modes 0 and 1 are silent for writes (checked above); the two that print, over the whole memory.
TEST_F(StreamWrite, TheWholeFlashWithEachPrintingDisplay) {
    for (int display : {int{DISPLAY_ADDRESS}, int{DISPLAY_PERCENT}}) {
        emu::SaveChip& chip = insert(emu::ChipKind::m45pe20);
        Console console;
        stream_write(0, 0x40000, 0, display);
        Sleep(10);
        std::string expected;
        if (display == DISPLAY_ADDRESS)
            for (int sent = 64; sent <= 0x40000; sent += 64)
                expected += format("WRITE : %06X \r ", sent);
        if (display == DISPLAY_PERCENT) expected = progress_lines(64, 0x40000, 64, 0x40000);
        EXPECT_EQ(console.text(), expected) << display;
        EXPECT_EQ(traffic().out.size(), 4096u + 64u) << "a header for each 4 KiB";
        EXPECT_EQ(chip.cycles().size(), 1024u);
        EXPECT_EQ(std::memcmp(memory().data(), image_buffer, 0x40000), 0) << display;
    }
}

TEST_F(StreamWrite, TakesTheDataFromTheOffsetAndSendsNothingForZeroBytes) {
    insert(emu::ChipKind::le25fw203);
    stream_write(0x100, 0, 0, DISPLAY_NONE);
    EXPECT_TRUE(traffic().out.empty());
    stream_write(0x100, 16, 0x2000, DISPLAY_NONE);
    Sleep(10);
    for (uint32_t i = 0; i < 16; i++) EXPECT_EQ(memory()[0x100 + i], image_buffer[0x2000 + i]) << i;
    EXPECT_EQ(memory()[0x110], 0xFF);
}

}  // namespace
