// The EZ-USB extras of the core: interrupts and idle, dual data pointer, MPAGE,
// SFR hooks and port latches, timing, and the undefined opcode.
#include <algorithm>
#include <iterator>

#include "core_test_machine.h"

namespace {

using core_test::Machine;
namespace sfr = emu::sfr;

// Main loop at 0x0100 that counts in R7; USB handler at 0x0043 that counts in
// 30h, clears EXIF.4 and returns.
void load_interrupt_program(Machine& m) {
    m.load({0x02, 0x01, 0x00});  // LJMP 0100h
    m.load({0x05, 0x30,          // INC 30h
            0x53, 0x91, 0xEF,    // ANL EXIF,#EFh
            0x32},               // RETI
           0x0043);
    m.load({0x75, 0xA8, 0x80,  // MOV IE,#80h (EA)
            0x43, 0xE8, 0x01,  // ORL EIE,#01h
            0x0F,              // 0106: INC R7
            0x80, 0xFD},       // SJMP 0106h
           0x0100);
}

TEST(Interrupts, UsbInterruptEntryReturnAndNoNesting) {
    Machine m;
    load_interrupt_program(m);
    m.run_to(0x0106);
    EXPECT_TRUE(m.bus.vectors.empty());
    m.cpu.set_sfr(sfr::EXIF, m.cpu.sfr(sfr::EXIF) | 0x10);  // the chip raises the request
    EXPECT_EQ(m.cpu.step(), 4);
    EXPECT_EQ(m.cpu.pc(), 0x0043);
    ASSERT_EQ(m.bus.vectors.size(), 1u);
    EXPECT_EQ(m.bus.vectors[0], 0x0043);
    EXPECT_EQ(m.cpu.iram(0x08), 0x06);  // return address 0106h, low byte first
    EXPECT_EQ(m.cpu.iram(0x09), 0x01);
    EXPECT_TRUE(m.cpu.in_interrupt());

    m.cpu.step();  // INC 30h
    EXPECT_EQ(m.cpu.pc(), 0x0045);
    m.cpu.step();                                           // ANL EXIF: request cleared
    m.cpu.set_sfr(sfr::EXIF, m.cpu.sfr(sfr::EXIF) | 0x10);  // a new request while in service
    EXPECT_EQ(m.cpu.pc(), 0x0048);
    m.cpu.step();  // RETI, not a nested entry
    EXPECT_EQ(m.bus.vectors.size(), 1u);
    EXPECT_EQ(m.cpu.pc(), 0x0106);
    EXPECT_FALSE(m.cpu.in_interrupt());
    EXPECT_EQ(m.cpu.step(), 1) << "one instruction runs after RETI before the next entry";
    EXPECT_EQ(m.cpu.r(7), 1);
    EXPECT_EQ(m.cpu.step(), 4);
    EXPECT_EQ(m.bus.vectors.size(), 2u);
    m.run_to(0x0106);
    EXPECT_EQ(m.cpu.iram(0x30), 2);
    EXPECT_EQ(m.cpu.sp(), 0x07);
}

TEST(Interrupts, ResumeInterruptTakesPriority) {
    Machine m;
    load_interrupt_program(m);
    m.load({0x53, 0xD8, 0xEF, 0x32}, 0x0033);  // ANL EICON,#EFh; RETI
    m.run_to(0x0106);
    m.cpu.set_sfr(sfr::EXIF, 0x18);
    m.cpu.set_sfr(sfr::EICON, 0x70);  // ERESI and RESI
    m.cpu.step();
    EXPECT_EQ(m.cpu.pc(), 0x0033);
    m.run_to(0x0106);
    m.cpu.step();
    m.cpu.step();
    ASSERT_EQ(m.bus.vectors.size(), 2u);
    EXPECT_EQ(m.bus.vectors[0], 0x0033);
    EXPECT_EQ(m.bus.vectors[1], 0x0043);
}

TEST(Interrupts, IdleStopsUntilAnInterruptWakesTheCore) {
    Machine m;
    load_interrupt_program(m);
    m.load({0x43, 0x87, 0x01,  // 0106: ORL PCON,#01h
            0x0F,              // 0109: INC R7
            0x80, 0xFA},       // SJMP 0106h
           0x0106);
    m.run_to(0x0109);
    EXPECT_TRUE(m.cpu.idle());
    uint64_t before = m.cpu.cycles();
    EXPECT_EQ(m.cpu.step(), 0);
    EXPECT_EQ(m.cpu.run_until(before + 1000), before) << "an idle core returns at once";
    m.cpu.skip_cycles(500);
    EXPECT_EQ(m.cpu.cycles(), before + 500);
    uint64_t activity = m.cpu.bus_activity();

    m.cpu.set_sfr(sfr::EXIF, 0x18);
    EXPECT_EQ(m.cpu.step(), 4);
    EXPECT_FALSE(m.cpu.idle());
    EXPECT_EQ(m.cpu.bus_activity(), activity + 1);
    m.run_to(0x0109);
    EXPECT_EQ(m.cpu.r(7), 0);
    m.cpu.step();
    EXPECT_EQ(m.cpu.r(7), 1) << "execution goes on after the instruction that entered idle";
}

// A chip that raises the USB request from inside MOVX writes, a few times.
class RaisingBus : public core_test::RecordingBus {
public:
    void xdata_write(uint16_t, uint8_t) override {
        if (raised < 3) {
            ++raised;
            cpu->set_sfr(sfr::EXIF, cpu->sfr(sfr::EXIF) | 0x10);
        }
    }
    void interrupt_taken(uint16_t) override {
        uint8_t sp = cpu->sp();
        return_addresses.push_back(static_cast<uint16_t>(cpu->iram(sp) << 8 | cpu->iram(sp - 1)));
    }
    emu::Cpu8051* cpu = nullptr;
    int raised = 0;
    std::vector<uint16_t> return_addresses;
};

TEST(Interrupts, RequestsRaisedByTheChipDuringAnInstructionAreTakenAfterIt) {
    for (bool use_run_until : {false, true}) {
        SCOPED_TRACE(use_run_until ? "run_until" : "step");
        std::vector<uint8_t> mem(emu::Cpu8051::MEMORY_SIZE);
        RaisingBus bus;
        emu::Cpu8051 cpu(mem.data(), &bus, 0x7B40);
        bus.cpu = &cpu;
        const uint8_t main_code[] = {0x75, 0xA8, 0x80, 0x75, 0xE8,
                                     0x01, 0x90, 0x7F, 0x00,  // EA, EIE.0, DPTR
                                     0xF0,                    // 0009: MOVX @DPTR,A
                                     0x0F,                    // 000A: INC R7
                                     0x80, 0xFC};             // 000B: SJMP 0009h
        const uint8_t handler[] = {0x05, 0x30, 0x53, 0x91,
                                   0xEF, 0xF0, 0x32};  // INC 30h; clear; MOVX; RETI
        std::copy(std::begin(main_code), std::end(main_code), mem.begin());
        std::copy(std::begin(handler), std::end(handler), mem.begin() + 0x43);
        if (use_run_until)
            cpu.run_until(400);
        else
            while (cpu.cycles() < 400) cpu.step();
        EXPECT_EQ(bus.return_addresses, (std::vector<uint16_t>{0x000A, 0x000B, 0x0009}));
        EXPECT_EQ(cpu.iram(0x30), 3);
    }
}

TEST(ChipExtras, DualDataPointerAndMpage) {
    Machine m;
    m.load({0x90, 0x12, 0x34,  // MOV DPTR,#1234h
            0x05, 0x86,        // INC DPS: second pointer
            0x90, 0x7F, 0x00,  // MOV DPTR,#7F00h
            0xA3,              // INC DPTR
            0x74, 0x99,        // MOV A,#99h
            0xF0,              // MOVX @DPTR,A -> 7F01h
            0x15, 0x86,        // DEC DPS: first pointer
            0xA3,              // INC DPTR
            0x75, 0x92, 0x7E,  // MOV MPAGE,#7Eh
            0x78, 0x55,        // MOV R0,#55h
            0xF2,              // MOVX @R0,A -> 7E55h
            0x75, 0x92, 0x10,  // MOV MPAGE,#10h
            0xF2});            // MOVX @R0,A -> 1055h, plain memory
    m.run_to(0x000C);
    EXPECT_EQ(m.cpu.sfr(sfr::DPL1), 0x01);
    EXPECT_EQ(m.cpu.sfr(sfr::DPH1), 0x7F);
    EXPECT_EQ(m.cpu.sfr(sfr::DPL), 0x34);
    EXPECT_EQ(m.cpu.sfr(sfr::DPH), 0x12);
    m.run_to(0x0014);
    EXPECT_EQ(m.cpu.dptr(), 0x1235);
    m.cpu.step();
    m.cpu.step();
    ASSERT_EQ(m.bus.writes.size(), 2u);
    EXPECT_EQ(m.bus.writes[0], (std::pair<uint16_t, uint8_t>(0x7F01, 0x99)));
    EXPECT_EQ(m.bus.writes[1], (std::pair<uint16_t, uint8_t>(0x7E55, 0x99)));
    m.cpu.step();
    EXPECT_EQ(m.mem[0x1055], 0x99);
    EXPECT_EQ(m.bus.writes.size(), 2u);
}

TEST(ChipExtras, SfrsAreStorageThatNeverLeavesTheCore) {
    Machine m;
    m.cpu.set_sfr(sfr::P1, 0x0F);
    m.load({0xE5, 0x90,        // MOV A,P1
            0x43, 0x90, 0x80,  // ORL P1,#80h
            0xC2, 0x90,        // CLR P1.0
            0x05, 0xC8,        // INC C8h
            0xE5, 0xB0,        // MOV A,P3: its reset value
            0xC5, 0xE0});      // XCH A,ACC
    m.cpu.step();
    EXPECT_EQ(m.cpu.a(), 0x0F);
    for (int i = 0; i < 5; ++i) m.cpu.step();
    EXPECT_EQ(m.cpu.sfr(sfr::P1), 0x8E);
    EXPECT_EQ(m.cpu.sfr(0xC8), 0x01);
    EXPECT_EQ(m.cpu.a(), 0xFF);
    EXPECT_TRUE(m.bus.reads.empty());
    EXPECT_TRUE(m.bus.writes.empty());
    EXPECT_EQ(m.cpu.bus_activity(), 0u);
}

TEST(Timing, WaitLoopOf603TurnsLastsAboutOneMillisecond) {
    Machine m;
    m.load({0x90, 0xFD, 0xA5,  // MOV DPTR,#-603
            0xA3,              // loop: INC DPTR
            0xE5, 0x82,        // MOV A,DPL
            0x45, 0x83,        // ORL A,DPH
            0x70, 0xF9});      // JNZ loop
    uint64_t cycles = m.run_to(0x000A);
    EXPECT_EQ(m.cpu.pc(), 0x000A);
    EXPECT_EQ(m.cpu.instructions(), 1u + 4 * 603);
    EXPECT_NEAR(static_cast<double>(cycles) / emu::CYCLES_PER_SECOND, 0.001, 0.00005);
}

TEST(Timing, MovxStretchFollowsCkcon) {
    Machine m;
    m.load({0xE0,                    // MOVX A,@DPTR
            0x75, 0x8E, 0x00,        // MOV CKCON,#0
            0xE0, 0x75, 0x8E, 0x07,  // MOV CKCON,#7
            0xF0});
    EXPECT_EQ(m.cpu.step(), 3);
    m.cpu.step();
    EXPECT_EQ(m.cpu.step(), 2);
    m.cpu.step();
    EXPECT_EQ(m.cpu.step(), 9);
}

TEST(Opcodes, EveryOpcodeButA5Executes) {
    for (int op = 0; op < 256; ++op) {
        Machine m;
        m.mem[0x200] = static_cast<uint8_t>(op);
        m.cpu.set_pc(0x200);
        int cycles = m.cpu.step();
        if (op == 0xA5) continue;
        EXPECT_GT(cycles, 0) << "opcode " << op;
        EXPECT_FALSE(m.cpu.halted()) << "opcode " << op;
    }
}

TEST(Opcodes, A5HaltsWithAClearReasonAndStaysHalted) {
    Machine m;
    m.load({0x04, 0xA5, 0x04});
    m.cpu.step();
    EXPECT_EQ(m.cpu.step(), 0);
    EXPECT_TRUE(m.cpu.halted());
    EXPECT_NE(std::string(m.cpu.halt_reason()).find("0xA5"), std::string::npos);
    EXPECT_EQ(m.cpu.halt_pc(), 1);
    EXPECT_EQ(m.cpu.pc(), 1);
    uint64_t cycles = m.cpu.cycles();
    EXPECT_EQ(m.cpu.run_until(cycles + 100), cycles);
    EXPECT_EQ(m.cpu.a(), 1);
    m.cpu.reset();
    EXPECT_FALSE(m.cpu.halted());
    EXPECT_EQ(m.cpu.pc(), 0);
    EXPECT_EQ(m.cpu.sp(), 7);
    EXPECT_EQ(m.cpu.cycles(), cycles) << "time does not go back on reset";
}

}  // namespace
