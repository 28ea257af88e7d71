// Streamed reads and writes: what goes over the pipes, where the data land, and what
// the percentage display prints.
#include "rig.h"

#include <cstdio>
#include <cstring>

#include "platform/winapi.h"
#include "run/run_state.h"
#include "savemem/batch.h"
#include "savemem/memory.h"
#include "savemem/stream.h"

namespace {

std::string format(const char* spec, double value) {
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

// The percentage display prints a line for every 128th byte; any other display nothing.
TEST_F(StreamRead, DisplayModes) {
    insert_pattern(emu::ChipKind::le25fw203);
    {
        Console console;
        stream_read(0, 0x4000, DISPLAY_PERCENT);
        EXPECT_EQ(console.text(), progress_lines(0, 0x3FFF, 1, 0x4000));
    }
    for (int display : {int{DISPLAY_NONE}, 2, 3, -1}) {
        Console console;
        stream_read(0, 0x4000, display);
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
    stream_write(0, 100, DISPLAY_NONE);
    Sleep(10);  // the adapter programs the last page after taking the last packet
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
    for (int display : {int{DISPLAY_NONE}, int{DISPLAY_PERCENT}, 2, 7}) {
        insert(emu::ChipKind::le25fw203);
        Console quiet;
        stream_write(0, 100, display);
        EXPECT_EQ(quiet.text(), "") << display;
        EXPECT_EQ(traffic().out.size(), 3u);
    }
}

// The percentage display counts each packet as it is sent, over the whole memory; any
// other display prints nothing.
TEST_F(StreamWrite, TheWholeFlashWithEachDisplay) {
    for (int display : {int{DISPLAY_PERCENT}, int{DISPLAY_NONE}}) {
        emu::SaveChip& chip = insert(emu::ChipKind::m45pe20);
        Console console;
        stream_write(0, 0x40000, display);
        Sleep(10);
        const std::string expected =
            display == DISPLAY_PERCENT ? progress_lines(64, 0x40000, 64, 0x40000) : "";
        EXPECT_EQ(console.text(), expected) << display;
        EXPECT_EQ(traffic().out.size(), 4096u + 64u) << "a header for each 4 KiB";
        EXPECT_EQ(chip.cycles().size(), 1024u);
        EXPECT_EQ(std::memcmp(memory().data(), image_buffer, 0x40000), 0) << display;
    }
}

TEST_F(StreamWrite, TakesTheDataAtTheSameAddressesAndSendsNothingForZeroBytes) {
    insert(emu::ChipKind::le25fw203);
    stream_write(0x100, 0, DISPLAY_NONE);
    EXPECT_TRUE(traffic().out.empty());
    stream_write(0x2000, 16, DISPLAY_NONE);
    Sleep(10);
    EXPECT_EQ(traffic().out[0], (Bytes{0x04, 0x97, 0x9B, 0x00, 0x20, 0x00, 0x00, 0x00, 0x10}));
    for (uint32_t i = 0x2000; i < 0x2010; i++) EXPECT_EQ(memory()[i], image_buffer[i]) << i;
    EXPECT_EQ(memory()[0x1FFF], 0xFF);
    EXPECT_EQ(memory()[0x2010], 0xFF);
}

}  // namespace
