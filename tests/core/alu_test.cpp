// Arithmetic and logic instructions: results and CY/AC/OV against hand-worked values,
// each run in every addressing mode the instruction has.
#include <string>

#include "core_test_machine.h"

namespace {

using core_test::Machine;

constexpr uint8_t CY = 0x80, AC = 0x40, OV = 0x04, FLAGS = CY | AC | OV;

struct AluCase {
    uint8_t row;  // opcode row: 0x20 ADD, 0x30 ADDC, 0x40 ORL, 0x50 ANL, 0x60 XRL, 0x90 SUBB
    uint8_t a, carry_in, operand;
    uint8_t want_a, want_flags;
};

const AluCase ALU_CASES[] = {
    {0x20, 0x3C, 0, 0xC4, 0x00, CY | AC},  // carry out of both nibbles, no overflow
    {0x20, 0x7F, 0, 0x01, 0x80, AC | OV},  // positive + positive = negative
    {0x20, 0x80, 0, 0x80, 0x00, CY | OV},  // negative + negative = positive
    {0x20, 0x12, CY, 0x34, 0x46, 0},       // ADD ignores the carry and clears it
    {0x30, 0x0F, CY, 0x00, 0x10, AC},      // carry in crosses the nibble
    {0x30, 0xFF, CY, 0x00, 0x00, CY | AC},
    {0x30, 0x56, CY, 0x67, 0xBE, OV},      // 0x56 + 0x67 + 1: overflow into the sign
    {0x90, 0x49, 0, 0x4A, 0xFF, CY | AC},  // borrow from both nibbles
    {0x90, 0xC9, CY, 0x54, 0x74, OV},      // negative - positive = positive
    {0x90, 0x80, 0, 0x01, 0x7F, AC | OV},
    {0x90, 0x10, CY, 0x0F, 0x00, AC},                      // the borrow in makes it exact
    {0x50, 0x5A, CY | AC | OV, 0x0F, 0x0A, CY | AC | OV},  // logic leaves flags alone
    {0x40, 0x5A, 0, 0x0F, 0x5F, 0},
    {0x60, 0x5A, CY, 0xFF, 0xA5, CY},
};

// Runs one instruction whose operand sits in the place the addressing mode names.
// Returns a description of the mode for failure messages.
void run_in_mode(const AluCase& c, int mode, Machine& m, int& want_cycles, std::string& name) {
    m.set_a(c.a);
    m.set_psw(c.carry_in);
    if (mode == 0) {  // #data
        m.load({static_cast<uint8_t>(c.row + 4), c.operand});
        want_cycles = 2;
        name = "#data";
    } else if (mode == 1) {  // direct
        m.cpu.set_iram(0x30, c.operand);
        m.load({static_cast<uint8_t>(c.row + 5), 0x30});
        want_cycles = 2;
        name = "direct";
    } else if (mode < 4) {  // @R0, @R1 into upper (indirect-only) RAM
        int ri = mode - 2;
        m.set_r(ri, 0xC7);
        m.cpu.set_iram(0xC7, c.operand);
        m.load({static_cast<uint8_t>(c.row + 6 + ri)});
        want_cycles = 1;
        name = "@R" + std::to_string(ri);
    } else {  // R0..R7
        int rn = mode - 4;
        m.set_r(rn, c.operand);
        m.load({static_cast<uint8_t>(c.row + 8 + rn)});
        want_cycles = 1;
        name = "R" + std::to_string(rn);
    }
}

TEST(Alu, AddSubtractAndLogicInEveryAddressingMode) {
    for (const AluCase& c : ALU_CASES) {
        for (int mode = 0; mode < 12; ++mode) {
            Machine m;
            int want_cycles = 0;
            std::string name;
            run_in_mode(c, mode, m, want_cycles, name);
            SCOPED_TRACE("row " + std::to_string(c.row) + " A=" + std::to_string(c.a) +
                         " operand=" + std::to_string(c.operand) + " mode " + name);
            EXPECT_EQ(m.cpu.step(), want_cycles);
            EXPECT_EQ(m.cpu.a(), c.want_a);
            EXPECT_EQ(m.cpu.psw() & FLAGS, c.want_flags);
        }
    }
}

TEST(Alu, ParityAlwaysFollowsTheAccumulator) {
    Machine m;
    m.load({0x74, 0x07,        // MOV A,#07h: three bits set
            0x04,              // INC A -> 08h: one bit
            0xF4,              // CPL A -> F7h: seven bits
            0x75, 0xD0, 0x00,  // MOV PSW,#0: P cannot be written
            0x24, 0x09});      // ADD A,#09h -> 00h: even
    const int want_p[] = {1, 1, 1, 1, 0};
    for (int p : want_p) {
        m.cpu.step();
        EXPECT_EQ(m.cpu.psw() & 1, p) << "A=" << int(m.cpu.a());
    }
}

struct AccCase {
    const char* what;
    uint8_t op, a, psw, b;
    uint8_t want_a, want_psw_flags, want_b;
    int cycles;
};

const AccCase ACC_CASES[] = {
    {"RL", 0x23, 0x81, CY, 0, 0x03, CY, 0, 1},
    {"RR", 0x03, 0x81, 0, 0, 0xC0, 0, 0, 1},
    {"RLC", 0x33, 0x81, 0, 0, 0x02, CY, 0, 1},
    {"RLC carry in", 0x33, 0x00, CY, 0, 0x01, 0, 0, 1},
    {"RRC", 0x13, 0x81, 0, 0, 0x40, CY, 0, 1},
    {"RRC carry in", 0x13, 0x00, CY, 0, 0x80, 0, 0, 1},
    {"SWAP", 0xC4, 0x5A, 0, 0, 0xA5, 0, 0, 1},
    {"CPL A", 0xF4, 0x5A, 0, 0, 0xA5, 0, 0, 1},
    {"CLR A", 0xE4, 0x5A, CY, 0, 0x00, CY, 0, 1},
    {"INC A wraps, flags kept", 0x04, 0xFF, CY | AC | OV, 0, 0x00, CY | AC | OV, 0, 1},
    {"DEC A wraps, flags kept", 0x14, 0x00, 0, 0, 0xFF, 0, 0, 1},
    {"DA after 56+67+1", 0xD4, 0xBE, 0, 0, 0x24, CY, 0, 1},
    {"DA after 99+99", 0xD4, 0x32, CY | AC, 0, 0x98, CY | AC, 0, 1},
    {"DA 9A", 0xD4, 0x9A, 0, 0, 0x00, CY, 0, 1},
    {"DA keeps a set carry", 0xD4, 0x01, CY, 0, 0x61, CY, 0, 1},
    {"DA leaves valid BCD", 0xD4, 0x45, 0, 0, 0x45, 0, 0, 1},
    {"MUL overflow", 0xA4, 0x50, CY, 0xA0, 0x00, OV, 0x32, 5},
    {"MUL small", 0xA4, 0x05, CY | OV, 0x07, 0x23, 0, 0x00, 5},
    {"DIV", 0x84, 0xFB, CY | OV, 0x12, 0x0D, 0, 0x11, 5},
    {"DIV by zero", 0x84, 0x42, CY, 0x00, 0x42, OV, 0x00, 5},
};

TEST(Alu, AccumulatorOperationsRotatesDecimalMultiplyDivide) {
    for (const AccCase& c : ACC_CASES) {
        SCOPED_TRACE(c.what);
        Machine m;
        m.set_a(c.a);
        m.set_psw(c.psw);
        m.cpu.set_sfr(emu::sfr::B, c.b);
        m.load({c.op});
        EXPECT_EQ(m.cpu.step(), c.cycles);
        EXPECT_EQ(m.cpu.a(), c.want_a);
        EXPECT_EQ(m.cpu.psw() & FLAGS, c.want_psw_flags);
        EXPECT_EQ(m.cpu.b(), c.want_b);
    }
}

TEST(Alu, IncrementAndDecrementEveryOperandKind) {
    Machine m;
    m.set_r(5, 0xFF);
    m.set_r(0, 0x90);
    m.cpu.set_iram(0x90, 0x00);
    m.cpu.set_iram(0x31, 0x7F);
    m.cpu.set_sfr(emu::sfr::DPL, 0xFF);
    m.cpu.set_sfr(emu::sfr::DPH, 0x12);
    m.set_psw(CY);
    m.load({0x0D,        // INC R5
            0x16,        // DEC @R0
            0x05, 0x31,  // INC 31h
            0x15, 0x31,  // DEC 31h
            0x15, 0x31,  // DEC 31h
            0xA3});      // INC DPTR
    const int cycles[] = {1, 1, 2, 2, 2, 3};
    for (int c : cycles) EXPECT_EQ(m.cpu.step(), c);
    EXPECT_EQ(m.cpu.r(5), 0x00);
    EXPECT_EQ(m.cpu.iram(0x90), 0xFF);
    EXPECT_EQ(m.cpu.iram(0x31), 0x7E);
    EXPECT_EQ(m.cpu.dptr(), 0x1300);
    EXPECT_EQ(m.cpu.psw() & FLAGS, CY);
}

TEST(Alu, LogicIntoDirectBytes) {
    Machine m;
    m.set_a(0x0F);
    m.cpu.set_iram(0x40, 0x3C);
    m.cpu.set_iram(0x41, 0x3C);
    m.cpu.set_iram(0x42, 0x3C);
    m.load({0x52, 0x40,          // ANL 40h,A
            0x42, 0x41,          // ORL 41h,A
            0x62, 0x42,          // XRL 42h,A
            0x53, 0x40, 0xFE,    // ANL 40h,#FEh
            0x43, 0x41, 0x80,    // ORL 41h,#80h
            0x63, 0x42, 0xFF});  // XRL 42h,#FFh
    const int cycles[] = {2, 2, 2, 3, 3, 3};
    for (int c : cycles) EXPECT_EQ(m.cpu.step(), c);
    EXPECT_EQ(m.cpu.iram(0x40), 0x0C);
    EXPECT_EQ(m.cpu.iram(0x41), 0xBF);
    EXPECT_EQ(m.cpu.iram(0x42), 0xCC);
}

}  // namespace
