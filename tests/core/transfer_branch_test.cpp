// Moves, exchanges, stack, code and external data, bit operations, jumps and calls.
#include "core_test_machine.h"

namespace {

using core_test::Machine;
namespace sfr = emu::sfr;

constexpr uint8_t CY = 0x80;

TEST(Transfer, MovesBetweenEveryKindOfOperand) {
    Machine m;
    m.cpu.set_iram(0x30, 0x11);
    m.load({0x85, 0x30, 0x31,  // MOV 31h,30h (source byte first)
            0x78, 0xA0,        // MOV R0,#A0h
            0x76, 0x22,        // MOV @R0,#22h (upper RAM, indirect only)
            0x86, 0x32,        // MOV 32h,@R0
            0xAB, 0x31,        // MOV R3,31h
            0x8B, 0x33,        // MOV 33h,R3
            0xA6, 0x30,        // MOV @R0,30h
            0xE6,              // MOV A,@R0
            0xF5, 0xF0,        // MOV B,A
            0x75, 0x34, 0x44,  // MOV 34h,#44h
            0xE5, 0x34,        // MOV A,34h
            0xFF,              // MOV R7,A
            0xF6});            // MOV @R0,A
    const int cycles[] = {3, 2, 2, 2, 2, 2, 2, 1, 2, 3, 2, 1, 1};
    for (int c : cycles) EXPECT_EQ(m.cpu.step(), c);
    EXPECT_EQ(m.cpu.iram(0x31), 0x11);
    EXPECT_EQ(m.cpu.iram(0x32), 0x22);
    EXPECT_EQ(m.cpu.r(3), 0x11);
    EXPECT_EQ(m.cpu.iram(0x33), 0x11);
    EXPECT_EQ(m.cpu.b(), 0x11);
    EXPECT_EQ(m.cpu.r(7), 0x44);
    EXPECT_EQ(m.cpu.iram(0xA0), 0x44);
    EXPECT_EQ(m.cpu.sfr(0xA0), 0xFF) << "@R0 at A0h must not reach the P2 SFR";
}

TEST(Transfer, ExchangesSwapWholeBytesOrLowNibbles) {
    Machine m;
    m.set_a(0x12);
    m.set_r(2, 0x34);
    m.set_r(1, 0x40);
    m.cpu.set_iram(0x40, 0x56);
    m.cpu.set_iram(0x50, 0x78);
    m.load({0xCA,        // XCH A,R2
            0xC5, 0x50,  // XCH A,50h
            0xC7,        // XCH A,@R1
            0xD7});      // XCHD A,@R1
    m.cpu.step();
    EXPECT_EQ(m.cpu.a(), 0x34);
    EXPECT_EQ(m.cpu.r(2), 0x12);
    m.cpu.step();
    EXPECT_EQ(m.cpu.a(), 0x78);
    EXPECT_EQ(m.cpu.iram(0x50), 0x34);
    m.cpu.step();
    EXPECT_EQ(m.cpu.a(), 0x56);
    EXPECT_EQ(m.cpu.iram(0x40), 0x78);
    m.cpu.step();
    EXPECT_EQ(m.cpu.a(), 0x58);
    EXPECT_EQ(m.cpu.iram(0x40), 0x76);
}

TEST(Transfer, PushPopAndRegisterBanks) {
    Machine m;
    m.cpu.set_iram(0x30, 0xAB);
    m.load({0xC0, 0x30,        // PUSH 30h
            0xD2, 0xD3,        // SETB RS0: bank 1
            0x79, 0x5C,        // MOV R1,#5Ch -> 09h
            0xD2, 0xD4,        // SETB RS1: bank 3
            0x7F, 0x77,        // MOV R7,#77h -> 1Fh
            0xD0, 0x31,        // POP 31h
            0x75, 0x81, 0x40,  // MOV SP,#40h
            0xC0, 0xE0});      // PUSH ACC
    EXPECT_EQ(m.cpu.step(), 2);
    EXPECT_EQ(m.cpu.sp(), 0x08);
    EXPECT_EQ(m.cpu.iram(0x08), 0xAB);
    for (int i = 0; i < 4; ++i) m.cpu.step();
    EXPECT_EQ(m.cpu.iram(0x09), 0x5C);
    EXPECT_EQ(m.cpu.iram(0x1F), 0x77);
    EXPECT_EQ(m.cpu.r(7), 0x77);
    EXPECT_EQ(m.cpu.step(), 2);
    EXPECT_EQ(m.cpu.iram(0x31), 0xAB);
    EXPECT_EQ(m.cpu.sp(), 0x07);
    m.set_a(0x99);
    m.cpu.step();
    m.cpu.step();
    EXPECT_EQ(m.cpu.iram(0x41), 0x99);

    // The stack pointer as its own operand, as the instruction set manual gives it:
    // PUSH SP stores the incremented pointer, POP SP keeps the popped byte.
    m.load({0xC0, 0x81,   // PUSH SP: SP 41h -> 42h, (42h) = 42h
            0xC0, 0x81,   // PUSH SP: (43h) = 43h
            0xD0, 0x81,   // POP SP: SP = (43h) = 43h, not 42h
            0xD0, 0x81},  // POP SP: SP = (43h), set to 20h below
           m.cpu.pc());
    m.cpu.step();
    EXPECT_EQ(m.cpu.iram(0x42), 0x42);
    m.cpu.step();
    EXPECT_EQ(m.cpu.iram(0x43), 0x43);
    m.cpu.step();
    EXPECT_EQ(m.cpu.sp(), 0x43);
    m.cpu.set_iram(0x43, 0x20);
    m.cpu.step();
    EXPECT_EQ(m.cpu.sp(), 0x20);
}

TEST(Transfer, CodeAndExternalData) {
    Machine m;
    m.load({0x90, 0x12, 0x34,  // 0: MOV DPTR,#1234h
            0x74, 0x03,        // 3: MOV A,#3
            0x93,              // 5: MOVC A,@A+DPTR
            0x74, 0x20,        // 6: MOV A,#20h
            0x83,              // 8: MOVC A,@A+PC (PC is 9 when the byte is read)
            0x90, 0x20, 0x00,  // 9: MOV DPTR,#2000h
            0xE0,              // MOVX A,@DPTR
            0x90, 0x7F, 0x10,  // MOV DPTR,#7F10h (above the hook base)
            0xF0,              // MOVX @DPTR,A
            0xE0});            // MOVX A,@DPTR
    m.mem[0x1237] = 0xC3;
    m.mem[0x0029] = 0xD4;
    m.mem[0x2000] = 0x5E;
    EXPECT_EQ(m.cpu.step(), 3);
    m.cpu.step();
    EXPECT_EQ(m.cpu.step(), 3);
    EXPECT_EQ(m.cpu.a(), 0xC3);
    m.cpu.step();
    EXPECT_EQ(m.cpu.step(), 3);
    EXPECT_EQ(m.cpu.a(), 0xD4);
    m.cpu.step();
    EXPECT_EQ(m.cpu.step(), 3) << "MOVX with the reset stretch of one cycle";
    EXPECT_EQ(m.cpu.a(), 0x5E);
    EXPECT_TRUE(m.bus.reads.empty());
    m.cpu.step();
    m.cpu.step();
    m.cpu.step();
    ASSERT_EQ(m.bus.writes.size(), 1u);
    EXPECT_EQ(m.bus.writes[0].first, 0x7F10);
    EXPECT_EQ(m.bus.writes[0].second, 0x5E);
    ASSERT_EQ(m.bus.reads.size(), 1u);
    EXPECT_EQ(m.cpu.a(), 0x10 ^ 0x5A);
    EXPECT_EQ(m.mem[0x7F10], 0) << "hooked writes stay out of memory";
    EXPECT_EQ(m.cpu.bus_activity(), 2u);
}

TEST(Bits, BitAddressingInRamAndSfrs) {
    Machine m;
    m.load({0xD2, 0x00,  // SETB 20h.0
            0xD2, 0x7F,  // SETB 2Fh.7
            0xB2, 0x09,  // CPL 21h.1
            0xD2, 0xF3,  // SETB B.3
            0xC2, 0x00,  // CLR 20h.0
            0xA2, 0x7F,  // MOV C,2Fh.7
            0x92, 0xE7,  // MOV ACC.7,C
            0x82, 0x00,  // ANL C,20h.0 -> 0
            0xA0, 0x00,  // ORL C,/20h.0 -> 1
            0xB0, 0x7F,  // ANL C,/2Fh.7 -> 0
            0x72, 0xF3,  // ORL C,B.3 -> 1
            0xB3,        // CPL C -> 0
            0xD3,        // SETB C
            0xC3});      // CLR C
    EXPECT_EQ(m.cpu.step(), 2);
    m.cpu.step();
    m.cpu.step();
    m.cpu.step();
    EXPECT_EQ(m.cpu.iram(0x20), 0x01);
    EXPECT_EQ(m.cpu.iram(0x2F), 0x80);
    EXPECT_EQ(m.cpu.iram(0x21), 0x02);
    EXPECT_EQ(m.cpu.b(), 0x08);
    m.cpu.step();
    EXPECT_EQ(m.cpu.iram(0x20), 0x00);
    m.cpu.step();
    EXPECT_TRUE(m.cpu.psw() & CY);
    m.cpu.step();
    EXPECT_EQ(m.cpu.a(), 0x80);
    const bool want_carry[] = {false, true, false, true, false, true, false};
    for (bool c : want_carry) {
        m.cpu.step();
        EXPECT_EQ((m.cpu.psw() & CY) != 0, c) << "at PC " << m.cpu.pc();
    }
}

// One jump from a fresh machine: where it lands and how long it took.
struct JumpCase {
    const char* what;
    std::vector<uint8_t> code;  // placed at 0x0100
    uint8_t a, psw;
    uint16_t want_pc;
    int cycles;
};

const JumpCase JUMP_CASES[] = {
    {"SJMP back", {0x80, 0xFE}, 0, 0, 0x0100, 3},
    {"SJMP forward", {0x80, 0x10}, 0, 0, 0x0112, 3},
    {"AJMP page", {0xE1, 0x23}, 0, 0, 0x0723, 3},
    {"LJMP", {0x02, 0xAB, 0xCD}, 0, 0, 0xABCD, 4},
    {"JZ taken", {0x60, 0x05}, 0, 0, 0x0107, 3},
    {"JZ not taken", {0x60, 0x05}, 1, 0, 0x0102, 3},
    {"JNZ taken", {0x70, 0xFC}, 1, 0, 0x00FE, 3},
    {"JC taken", {0x40, 0x02}, 0, CY, 0x0104, 3},
    {"JNC not taken", {0x50, 0x02}, 0, CY, 0x0102, 3},
    {"JB ACC.0", {0x20, 0xE0, 0x04}, 1, 0, 0x0107, 4},
    {"JNB ACC.0", {0x30, 0xE0, 0x04}, 1, 0, 0x0103, 4},
    {"JMP @A+DPTR", {0x90, 0x20, 0x00, 0x73}, 0x10, 0, 0x2010, 3},
    {"CJNE A,#", {0xB4, 0x05, 0x10}, 0x04, 0, 0x0113, 4},
    {"CJNE A,# equal", {0xB4, 0x05, 0x10}, 0x05, CY, 0x0103, 4},
    {"CJNE R3,#", {0xBB, 0x00, 0x10}, 0, 0, 0x0113, 4},
    {"DJNZ R4", {0xDC, 0x10}, 0, 0, 0x0112, 3},
    {"DJNZ direct", {0xD5, 0x40, 0x10}, 0, 0, 0x0113, 4},
};

TEST(Branch, JumpsLandWhereExpected) {
    for (const JumpCase& c : JUMP_CASES) {
        SCOPED_TRACE(c.what);
        Machine m;
        for (size_t i = 0; i < c.code.size(); ++i) m.mem[0x100 + i] = c.code[i];
        m.cpu.set_pc(0x100);
        m.set_a(c.a);
        m.set_psw(c.psw);
        m.set_r(3, 0x07);
        m.set_r(4, 0x02);
        m.cpu.set_iram(0x40, 0x02);
        int cycles = 0;
        uint16_t end = static_cast<uint16_t>(0x100 + c.code.size());
        do cycles = m.cpu.step();
        while (m.cpu.pc() > 0x100 && m.cpu.pc() < end);
        EXPECT_EQ(m.cpu.pc(), c.want_pc);
        EXPECT_EQ(cycles, c.cycles);
    }
}

TEST(Branch, CompareSetsCarryForUnsignedLessThan) {
    Machine m;
    m.set_a(0x10);
    m.cpu.set_iram(0x30, 0x20);
    m.set_r(0, 0x50);
    m.cpu.set_iram(0x50, 0x80);
    m.load({0xB5, 0x30, 0x00,    // CJNE A,30h: 10h < 20h
            0xB6, 0x7F, 0x00,    // CJNE @R0,#7Fh: 80h > 7Fh
            0xB8, 0x50, 0x00});  // CJNE R0,#50h: equal
    m.cpu.step();
    EXPECT_TRUE(m.cpu.psw() & CY);
    m.cpu.step();
    EXPECT_FALSE(m.cpu.psw() & CY);
    m.set_psw(CY);
    m.cpu.step();
    EXPECT_FALSE(m.cpu.psw() & CY);
}

TEST(Branch, JbcClearsOnlyWhenTaken) {
    Machine m;
    m.cpu.set_iram(0x22, 0x10);                    // bit 14h set
    m.load({0x10, 0x14, 0x03,                      // JBC 22h.4,+3 -> taken, bit cleared
            0x00, 0x00, 0x00, 0x10, 0x14, 0x03});  // JBC again: not taken
    m.cpu.step();
    EXPECT_EQ(m.cpu.pc(), 6);
    EXPECT_EQ(m.cpu.iram(0x22), 0x00);
    m.cpu.step();
    EXPECT_EQ(m.cpu.pc(), 9);
}

TEST(Branch, CallsPushTheReturnAddressLowByteFirst) {
    Machine m;
    m.mem[0x0567] = 0x22;  // RET
    m.mem[0x1234] = 0x22;
    m.load({0xB1, 0x67},  // ACALL 0567h
           0x0400);
    m.load({0x12, 0x12, 0x34}, 0x0402);  // LCALL 1234h
    m.cpu.set_pc(0x0400);
    EXPECT_EQ(m.cpu.step(), 3);
    EXPECT_EQ(m.cpu.pc(), 0x0567);
    EXPECT_EQ(m.cpu.sp(), 0x09);
    EXPECT_EQ(m.cpu.iram(0x08), 0x02);
    EXPECT_EQ(m.cpu.iram(0x09), 0x04);
    EXPECT_EQ(m.cpu.step(), 4);
    EXPECT_EQ(m.cpu.pc(), 0x0402);
    EXPECT_EQ(m.cpu.step(), 4);
    EXPECT_EQ(m.cpu.pc(), 0x1234);
    EXPECT_EQ(m.cpu.iram(0x08), 0x05);
    m.cpu.step();
    EXPECT_EQ(m.cpu.pc(), 0x0405);
    EXPECT_EQ(m.cpu.sp(), 0x07);
}

}  // namespace
