// Register-level behaviour of the chip: what the firmware sees when it reads and writes
// the register page, and what the USB side sees of it.
#include <gtest/gtest.h>

#include <vector>

#include "chips/cartridge.h"
#include "ezusb/chip.h"
#include "ezusb/ezusb_regs.h"

namespace {

using namespace emu::ezusb;
using emu::Chip;
namespace sfr = emu::sfr;

// Records what the adapter puts on the bus lines and answers with a set level.
class ProbeCartridge : public emu::Cartridge {
public:
    std::vector<uint8_t> seen;  // select << 2 | clock << 1 | data
    int level = -1;
    void drive(emu::BusLines l, uint64_t) override {
        seen.push_back(uint8_t(l.select << 2 | l.clock << 1 | l.data));
    }
    int output(uint64_t) override { return level; }
};

bool usbint(Chip& chip) { return chip.cpu().sfr(sfr::EXIF) & EXIF_USBINT; }

TEST(ChipRegisters, RequestsAreClearedByWritingOneAndRaiseUsbintOnlyWhenEnabled) {
    Chip chip;
    uint8_t data[64] = {};
    chip.xdata_write(out_bc(1), 0);  // arm EP1 OUT
    ASSERT_TRUE(chip.out_put(1, data, 5));
    EXPECT_EQ(chip.peek(OUT07IRQ), 0x02);
    EXPECT_FALSE(usbint(chip));  // not enabled
    chip.xdata_write(OUT07IEN, 0x02);
    EXPECT_TRUE(usbint(chip));

    chip.cpu().set_sfr(sfr::EXIF, 0);
    uint8_t setup[8] = {0x80, 6, 0, 1, 0, 0, 18, 0};
    chip.setup_arrived(setup, true);  // SUDAV and SUTOK
    EXPECT_EQ(chip.peek(USBIRQ), USBIRQ_SUDAV | USBIRQ_SUTOK);
    chip.xdata_write(USBIRQ, USBIRQ_SUTOK);  // clears that bit alone
    EXPECT_EQ(chip.peek(USBIRQ), USBIRQ_SUDAV);
    chip.xdata_write(OUT07IRQ, 0x01);  // a 1 where nothing is pending: no change
    EXPECT_EQ(chip.peek(OUT07IRQ), 0x02);
    EXPECT_TRUE(usbint(chip));  // EP1 OUT still pending and enabled
    chip.cpu().set_sfr(sfr::EXIF, 0);
    chip.xdata_write(OUT07IRQ, 0x02);
    EXPECT_FALSE(usbint(chip));
}

TEST(ChipRegisters, AutovectorPutsTheHighestPrioritySlotIntoByte45) {
    Chip chip;
    uint8_t data[1] = {0};
    chip.xdata_write(USBIEN, USBIRQ_SUDAV | USBIRQ_URES);
    chip.xdata_write(IN07IEN, 0x02);
    chip.xdata_write(OUT07IEN, 0x02);
    chip.xdata_write(in_bc(1), 1);
    ASSERT_EQ(chip.in_take(1, data), 1);  // EP1 IN request
    chip.interrupt_taken(emu::USB_VECTOR);
    EXPECT_EQ(chip.memory()[AUTOVECTOR_BYTE], 0x00);  // autovectoring off: untouched

    chip.xdata_write(USBBAV, 0x01);
    chip.bus_reset();  // USB reset outranks EP1 IN
    EXPECT_EQ(chip.peek(IVEC), 0x10);
    chip.interrupt_taken(emu::USB_VECTOR);
    EXPECT_EQ(chip.memory()[AUTOVECTOR_BYTE], 0x10);
    chip.xdata_write(USBIRQ, 0xFF);
    chip.interrupt_taken(emu::USB_VECTOR);
    EXPECT_EQ(chip.memory()[AUTOVECTOR_BYTE], 0x20);
    chip.xdata_write(out_bc(1), 0);
    chip.out_put(1, data, 1);  // EP1 IN still outranks EP1 OUT
    chip.interrupt_taken(emu::USB_VECTOR);
    EXPECT_EQ(chip.memory()[AUTOVECTOR_BYTE], 0x20);
    chip.xdata_write(IN07IRQ, 0x02);
    chip.interrupt_taken(emu::USB_VECTOR);
    EXPECT_EQ(chip.memory()[AUTOVECTOR_BYTE], 0x24);
    chip.interrupt_taken(emu::RESUME_VECTOR);  // other vectors leave it alone
    EXPECT_EQ(chip.memory()[AUTOVECTOR_BYTE], 0x24);
}

TEST(ChipRegisters, EndpointsNakUntilArmedOrHandedOverAndKeepTheirCounts) {
    Chip chip;
    uint8_t data[64], got[64];
    for (int i = 0; i < 64; ++i) data[i] = uint8_t(i + 1);
    for (int n = 1; n < 8; ++n) {
        EXPECT_FALSE(chip.out_put(n, data, 64)) << n;
        chip.xdata_write(out_bc(n), 0);
        EXPECT_EQ(chip.peek(out_cs(n)) & EPCS_BUSY, EPCS_BUSY);
        ASSERT_TRUE(chip.out_put(n, data, 7 * n));
        EXPECT_EQ(chip.peek(out_bc(n)), 7 * n);  // the count, not what arming wrote
        EXPECT_EQ(chip.peek(out_cs(n)) & EPCS_BUSY, 0);
        EXPECT_EQ(chip.memory()[out_buffer(n) + 6], 7);
        EXPECT_FALSE(chip.out_put(n, data, 1));  // one packet per arming

        EXPECT_EQ(chip.in_take(n, got), -1);
        chip.memory()[in_buffer(n)] = uint8_t(0xA0 + n);
        chip.xdata_write(in_bc(n), uint8_t(n));
        EXPECT_EQ(chip.peek(in_cs(n)) & EPCS_BUSY, EPCS_BUSY);
        ASSERT_EQ(chip.in_take(n, got), n);
        EXPECT_EQ(got[0], 0xA0 + n);
        EXPECT_EQ(chip.in_take(n, got), -1);
        EXPECT_EQ(chip.peek(IN07IRQ) >> n & 1, 1);
    }
    EXPECT_EQ(chip.peek(OUT07IRQ), 0xFE);
    // A stall bit is written; the busy bit is the chip's own.
    chip.xdata_write(in_cs(1), 0xFF);
    EXPECT_EQ(chip.peek(in_cs(1)), EPCS_STALL);
    EXPECT_TRUE(chip.in_stalled(1));
    // A bus reset drops what the endpoints hold.
    chip.xdata_write(out_bc(2), 0);
    chip.xdata_write(in_bc(2), 3);
    chip.bus_reset();
    EXPECT_FALSE(chip.out_put(2, data, 1));
    EXPECT_EQ(chip.in_take(2, got), -1);
}

TEST(ChipRegisters, EndpointZeroHandshakeStallAndDescriptorPointer) {
    Chip chip;
    uint8_t setup[8] = {0x80, 6, 0, 1, 0, 0, 0x40, 0}, got[64];
    chip.setup_arrived(setup, true);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(chip.peek(uint16_t(SETUPDAT + i)), setup[i]);
    EXPECT_TRUE(chip.ep0_handshake_pending());
    uint16_t pointer = 0;
    EXPECT_FALSE(chip.take_descriptor_pointer(pointer));
    chip.xdata_write(SUDPTRH, 0x01);
    EXPECT_FALSE(chip.take_descriptor_pointer(pointer));  // the low byte starts the send
    chip.xdata_write(SUDPTRL, 0x23);
    ASSERT_TRUE(chip.take_descriptor_pointer(pointer));
    EXPECT_EQ(pointer, 0x0123);
    EXPECT_FALSE(chip.take_descriptor_pointer(pointer));

    EXPECT_EQ(chip.ep0_in_take(got), -1);
    chip.memory()[IN0BUF] = 0x42;
    chip.xdata_write(IN0BC, 1);
    EXPECT_EQ(chip.peek(EP0CS) & EP0CS_IN0BSY, EP0CS_IN0BSY);
    EXPECT_EQ(chip.ep0_in_take(got), 1);
    EXPECT_EQ(got[0], 0x42);
    EXPECT_EQ(chip.peek(EP0CS) & EP0CS_IN0BSY, 0);

    chip.xdata_write(EP0CS, EP0CS_STALL);
    EXPECT_TRUE(chip.ep0_stalled());
    EXPECT_TRUE(chip.ep0_handshake_pending());
    chip.xdata_write(EP0CS, EP0CS_STALL | EP0CS_HSNAK);  // HSNAK is cleared by writing 1
    EXPECT_FALSE(chip.ep0_handshake_pending());
    chip.setup_arrived(setup, false);  // a new setup clears the stall; the chip answers it
    EXPECT_FALSE(chip.ep0_stalled());
    EXPECT_FALSE(chip.ep0_handshake_pending());
    EXPECT_EQ(chip.peek(USBIRQ) & USBIRQ_SUDAV, USBIRQ_SUDAV);  // still the earlier one's
}

TEST(ChipRegisters, PortPinsFollowDirectionLatchAndTheCartridge) {
    Chip chip;
    ProbeCartridge cart;
    chip.insert(&cart);
    ASSERT_EQ(cart.seen, (std::vector<uint8_t>{7}));  // the lines as they are: pulled up
    EXPECT_EQ(chip.xdata_read(PINSB), 0xFF);
    chip.xdata_write(OUTB, 0x00);
    EXPECT_EQ(cart.seen.size(), 1u);  // latch alone drives nothing
    chip.xdata_write(OEB, 0x07);
    chip.xdata_write(OUTB, 0x04);
    chip.xdata_write(OUTB, 0x06);
    chip.xdata_write(OUTB, 0x06);  // no change, no call
    chip.xdata_write(OUTB, 0x02);
    EXPECT_EQ(cart.seen, (std::vector<uint8_t>{7, 0, 4, 6, 2}));
    EXPECT_EQ(chip.xdata_read(PINSB), 0xFA);  // PB3-7 undriven read 1
    chip.xdata_write(PORTBCFG, 0x02);         // PB1 to its alternate function:
    chip.xdata_write(OUTB, 0x00);             // the latch no longer reaches it
    EXPECT_EQ(cart.seen, (std::vector<uint8_t>{7, 0, 4, 6, 2}));

    EXPECT_EQ(chip.xdata_read(PINSC), 0xFF);  // data line not driven: pulled up
    cart.level = 0;
    EXPECT_EQ(chip.xdata_read(PINSC), 0xFE);
    cart.level = 1;
    EXPECT_EQ(chip.xdata_read(PINSC), 0xFF);
    cart.level = 0;
    chip.xdata_write(OEC, 0x01);  // the 8051 drives PC0 itself
    chip.xdata_write(OUTC, 0x01);
    EXPECT_EQ(chip.xdata_read(PINSC), 0xFF);
    chip.insert(nullptr);
    chip.xdata_write(OEC, 0x00);
    EXPECT_EQ(chip.xdata_read(PINSC), 0xFF);  // empty slot
    chip.xdata_write(PINSC, 0x00);            // pins are read-only
    EXPECT_EQ(chip.xdata_read(PINSC), 0xFF);
}

TEST(ChipRegisters, CpucsUsbcsAndTogctl) {
    Chip chip;
    EXPECT_TRUE(chip.held());
    const uint8_t revision = CHIP_REVISION << 4;  // bits 7-4; 2-3 read 0
    EXPECT_EQ(chip.xdata_read(CPUCS), revision | 0x01);
    chip.xdata_write(CPUCS, 0x00);  // the 8051 cannot release itself
    EXPECT_TRUE(chip.held());
    chip.cpu().set_pc(0x1234);
    ASSERT_TRUE(chip.load_write(CPUCS, 0x00));
    EXPECT_FALSE(chip.held());
    EXPECT_EQ(chip.cpu().pc(), 0);  // released: starts at 0
    EXPECT_EQ(chip.xdata_read(CPUCS), revision);
    EXPECT_TRUE(chip.load_write(0x1B3F, 1));   // the last byte of internal RAM
    EXPECT_FALSE(chip.load_write(0x1B40, 1));  // nothing decodes above it
    EXPECT_TRUE(chip.load_write(0x7E40, 1));   // endpoint buffers do
    uint8_t v;
    EXPECT_FALSE(chip.load_read(USBCS, v));

    int changes = 0;
    chip.on_pullup_change = [&] { ++changes; };
    EXPECT_TRUE(chip.pullup());
    chip.xdata_write(USBCS, USBCS_DISCOE | USBCS_DISCON);
    EXPECT_FALSE(chip.pullup());
    chip.xdata_write(USBCS, USBCS_DISCON);
    chip.xdata_write(USBCS, USBCS_DISCON | USBCS_RENUM);
    EXPECT_EQ(changes, 1);
    chip.xdata_write(USBCS, USBCS_RENUM | USBCS_DISCOE);
    EXPECT_TRUE(chip.pullup());
    EXPECT_EQ(changes, 2);
    chip.wakeup_pin();
    EXPECT_EQ(chip.xdata_read(USBCS) & USBCS_WAKESRC, USBCS_WAKESRC);
    EXPECT_EQ(chip.cpu().sfr(sfr::EICON) & EICON_RESI, EICON_RESI);
    chip.xdata_write(USBCS, USBCS_RENUM | USBCS_DISCOE);  // 0 in WAKESRC keeps it
    EXPECT_EQ(chip.xdata_read(USBCS) & USBCS_WAKESRC, USBCS_WAKESRC);
    chip.xdata_write(USBCS, USBCS_WAKESRC | USBCS_RENUM | USBCS_DISCOE);
    EXPECT_EQ(chip.xdata_read(USBCS), USBCS_RENUM | USBCS_DISCOE);

    uint8_t data[64] = {};
    chip.xdata_write(in_bc(3), 1);
    chip.in_take(3, data);  // one packet: EP3 IN toggle to DATA1
    chip.xdata_write(TOGCTL, TOGCTL_IO | 3);
    EXPECT_EQ(chip.xdata_read(TOGCTL), TOGCTL_Q | TOGCTL_IO | 3);
    chip.xdata_write(TOGCTL, TOGCTL_IO | 3);
    chip.xdata_write(TOGCTL, TOGCTL_R | TOGCTL_IO | 3);
    EXPECT_EQ(chip.xdata_read(TOGCTL), TOGCTL_IO | 3);
    chip.xdata_write(TOGCTL, 3);  // the OUT side is separate
    chip.xdata_write(TOGCTL, TOGCTL_S | 3);
    EXPECT_EQ(chip.xdata_read(TOGCTL), TOGCTL_Q | 3);
    chip.xdata_write(TOGCTL, TOGCTL_IO | 3);
    EXPECT_EQ(chip.xdata_read(TOGCTL), TOGCTL_IO | 3);
}

}  // namespace
