// Speed is counted in USB transfers: every operation issues exactly the transfers of its
// cost, and the packets have the sizes the signalling implies.
#include "rig.h"

#include <functional>

#include "run/run_state.h"
#include "savemem/batch.h"
#include "savemem/bus.h"
#include "savemem/memory.h"
#include "savemem/stream.h"

namespace {

unsigned char scratch[0x100];

struct Cost {
    const char* name;
    emu::ChipKind chip;
    std::function<void()> operation;
    size_t out;
    size_t in;
    std::vector<size_t> out_sizes;  // when given: the size of each OUT packet
};

using TransferCosts = Rig;

TEST_F(TransferCosts, EveryOperationIssuesExactlyItsTransfers) {
    using K = emu::ChipKind;
    const Cost costs[] = {
        {"set_pins",
         K::m95640,
         [] {
             set_pins(0, 1, 0);
             batch_reset();
         },
         0,
         0,
         {}},
        {"bus_select", K::m95640, [] { bus_select(); }, 1, 0, {3}},
        {"bus_deselect", K::m95640, [] { bus_deselect(); }, 1, 0, {3}},
        {"shift_out 8", K::m95640, [] { shift_out(0xA5, 8); }, 2, 0, {48, 3}},
        {"shift_out 16", K::m95640, [] { shift_out(0xA5A5, 16); }, 3, 0, {48, 48, 3}},
        {"shift_out 24", K::m95640, [] { shift_out(0xA5A5A5, 24); }, 4, 0, {48, 48, 48, 3}},
        {"shift_in 8", K::m95640, [] { shift_in(8); }, 1, 1, {64}},
        {"bus_open", K::m95640, [] { bus_open(); }, 1, 0, {15}},
        {"bus_release",
         K::m95640,
         [] {
             bus_release();
             bus_open();
         },
         2,
         0,
         {12, 15}},
        {"read_byte 1", K::m95040, [] { read_byte(1, 0x1A5); }, 7, 1, {3, 48, 3, 48, 3, 64, 3}},
        {"read_byte 2", K::m95512, [] { read_byte(2, 0x1A5); }, 8, 1, {}},
        {"read_byte 3", K::le25fw203, [] { read_byte(3, 0x1A5); }, 9, 1, {}},
        {"read_block 1", K::m95040, [] { read_block(1, 0, scratch, 100); }, 106, 100, {}},
        {"read_block 2", K::m95512, [] { read_block(2, 0, scratch, 100); }, 107, 100, {}},
        {"read_block 3", K::le25fw203, [] { read_block(3, 0, scratch, 100); }, 108, 100, {}},
        {"write_byte 1", K::m95040, [] { write_byte(1, 0x1A5, 0); }, 8, 0, {}},
        {"write_byte 2", K::m95512, [] { write_byte(2, 0x1A5, 0); }, 9, 0, {}},
        {"write_byte 3", K::le25fw203, [] { write_byte(3, 0x1A5, 0); }, 10, 0, {}},
        {"write_enable", K::m95640, [] { write_enable(); }, 4, 0, {3, 48, 3, 3}},
        {"read_id", K::le25fw203, [] { read_id(); }, 7, 3, {3, 48, 3, 64, 64, 64, 3}},
        {"stream_read 256 KiB",
         K::le25fw203,
         [] { stream_read(0, 0x40000, DISPLAY_NONE); },
         2,
         4097,
         {7, 1}},
        {"stream_read 100", K::le25fw203, [] { stream_read(0, 100, DISPLAY_NONE); }, 2, 3, {7, 1}},
        {"stream_write 100",
         K::le25fw203,
         [] { stream_write(0, 100, DISPLAY_NONE); },
         3,
         0,
         {9, 64, 36}},
        // A run of pages to program is one streamed write; the page left out sends nothing.
        {"stream_write_pages",
         K::le25fw203,
         [] {
             static const unsigned char program[] = {1, 1, 0, 1};
             stream_write_pages(0x400, program, DISPLAY_NONE);
         },
         14,
         0,
         {9, 64, 64, 64, 64, 64, 64, 64, 64, 9, 64, 64, 64, 64}},
        {"probe_page_write", K::m95640, [] { probe_page_write(); }, 1, 1, {20}},
        {"page_send 128 ahead",
         K::m95512,
         [] {
             page_send(2, 0x80, scratch, 128, PAGES_AHEAD);
             page_reply();
         },
         3,
         1,
         {64, 64, 9}},
        {"page_send 128 split",
         K::m95512,
         [] {
             page_send(2, 0x80, scratch, 128, PAGES_SPLIT);
             page_reply();
         },
         3,
         1,
         {9, 64, 64}},
        {"stream_read_eeprom 1",
         K::m95040,
         [] { stream_read_eeprom(1, 0x200, DISPLAY_NONE); },
         2,
         9,
         {7, 1}},
        {"stream_read_eeprom 2",
         K::m95512,
         [] { stream_read_eeprom(2, 0x10000, DISPLAY_NONE); },
         2,
         1025,
         {7, 1}},
    };
    for (const Cost& cost : costs) {
        insert(cost.chip);
        cost.operation();
        PipeTraffic seen = traffic();
        EXPECT_EQ(seen.out.size(), cost.out) << cost.name;
        EXPECT_EQ(seen.in.size(), cost.in) << cost.name;
        if (!cost.out_sizes.empty()) {
            std::vector<size_t> sizes;
            for (const Bytes& packet : seen.out) sizes.push_back(packet.size());
            EXPECT_EQ(sizes, cost.out_sizes) << cost.name;
        }
        for (const Bytes& packet : seen.out) EXPECT_LE(packet.size(), 64u) << cost.name;
    }
}

}  // namespace
