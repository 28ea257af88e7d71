#include "cpu8051.h"

namespace emu {

namespace {

constexpr uint8_t PSW_CY = 0x80, PSW_AC = 0x40, PSW_OV = 0x04, PSW_P = 0x01;

constexpr int ACC_INDEX = sfr::ACC - 0x80, PSW_INDEX = sfr::PSW - 0x80, SP_INDEX = sfr::SP - 0x80,
              B_INDEX = sfr::B - 0x80;

inline uint8_t parity(uint8_t v) { return static_cast<uint8_t>(__builtin_parity(v)); }

// Registers whose writes can change whether an interrupt is due or the core idles.
inline bool affects_interrupts(uint8_t addr) {
    return addr == sfr::IE || addr == sfr::EIE || addr == sfr::EXIF || addr == sfr::EICON ||
           addr == sfr::PCON;
}

// The code of opcode 0xXY begins at label op_XY; each instruction ends with its own
// dispatch of the next one (see interpret).
#define OP(x) op_##x
#define ROW(h)                                                                                     \
    &&op_##h##0, &&op_##h##1, &&op_##h##2, &&op_##h##3, &&op_##h##4, &&op_##h##5, &&op_##h##6,     \
        &&op_##h##7, &&op_##h##8, &&op_##h##9, &&op_##h##A, &&op_##h##B, &&op_##h##C, &&op_##h##D, \
        &&op_##h##E, &&op_##h##F

}  // namespace

Cpu8051::Cpu8051(uint8_t* memory, Cpu8051Bus* bus, uint32_t hook_base)
    : mem_(memory), bus_(bus), hook_base_(hook_base) {
    reset();
}

void Cpu8051::reset() {
    for (auto& s : sfr_) s = 0;
    sfr_[sfr::P0 - 0x80] = sfr_[sfr::P1 - 0x80] = sfr_[sfr::P2 - 0x80] = sfr_[sfr::P3 - 0x80] =
        0xFF;
    sfr_[SP_INDEX] = 0x07;
    sfr_[sfr::CKCON - 0x80] = 0x01;  // one stretch cycle: MOVX takes 3 cycles
    sfr_[sfr::EXIF - 0x80] = 0x08;
    sfr_[sfr::EICON - 0x80] = 0x40;
    sfr_[sfr::EIE - 0x80] = 0xE0;
    sfr_[sfr::EIP - 0x80] = 0xE0;
    pc_ = 0;
    bank_ = 0;
    in_service_ = false;
    irq_blocked_ = false;
    halt_reason_ = nullptr;
    halt_pc_ = 0;
    attention_ = true;
}

uint8_t Cpu8051::sfr(uint8_t addr) const {
    if (addr < 0x80) return 0;
    if (addr == sfr::PSW)
        return static_cast<uint8_t>((sfr_[PSW_INDEX] & ~PSW_P) | parity(sfr_[ACC_INDEX]));
    return sfr_[addr - 0x80];
}

void Cpu8051::set_sfr(uint8_t addr, uint8_t value) {
    if (addr < 0x80) return;
    sfr_[addr - 0x80] = value;
    if (addr == sfr::PSW) bank_ = value & 0x18;
    attention_ = true;
}

uint16_t Cpu8051::dptr() const {
    int off = (sfr_[sfr::DPS - 0x80] & 1) ? 2 : 0;
    return static_cast<uint16_t>(sfr_[sfr::DPH - 0x80 + off] << 8 | sfr_[sfr::DPL - 0x80 + off]);
}

void Cpu8051::set_dptr(uint16_t value) {
    int off = (sfr_[sfr::DPS - 0x80] & 1) ? 2 : 0;
    sfr_[sfr::DPL - 0x80 + off] = static_cast<uint8_t>(value);
    sfr_[sfr::DPH - 0x80 + off] = static_cast<uint8_t>(value >> 8);
}

void Cpu8051::halt(const char* reason) {
    halt_reason_ = reason;
    attention_ = true;
}

inline uint8_t Cpu8051::read_direct(uint8_t addr) {
    if (addr < 0x80) return iram_[addr];
    int i = addr - 0x80;
    if (i == PSW_INDEX) return sfr(sfr::PSW);
    return sfr_[i];
}

inline void Cpu8051::write_direct(uint8_t addr, uint8_t value) {
    if (addr < 0x80) {
        iram_[addr] = value;
        return;
    }
    int i = addr - 0x80;
    sfr_[i] = value;
    if (i == PSW_INDEX) bank_ = value & 0x18;
    if (affects_interrupts(addr)) attention_ = true;
}

inline bool Cpu8051::read_bit(uint8_t bit) {
    if (bit < 0x80) return (iram_[0x20 + (bit >> 3)] >> (bit & 7)) & 1;
    return (read_direct(bit & 0xF8) >> (bit & 7)) & 1;
}

inline void Cpu8051::write_bit(uint8_t bit, bool value) {
    uint8_t mask = static_cast<uint8_t>(1u << (bit & 7));
    if (bit < 0x80) {
        uint8_t& byte = iram_[0x20 + (bit >> 3)];
        byte = value ? (byte | mask) : (byte & ~mask);
        return;
    }
    uint8_t addr = bit & 0xF8;
    uint8_t byte = read_direct(addr);
    write_direct(addr, static_cast<uint8_t>(value ? (byte | mask) : (byte & ~mask)));
}

inline uint8_t Cpu8051::movx_read(uint16_t addr) {
    if (addr < hook_base_) return mem_[addr];
    ++bus_activity_;
    return bus_->xdata_read(addr);
}

inline void Cpu8051::movx_write(uint16_t addr, uint8_t value) {
    if (addr < hook_base_) {
        mem_[addr] = value;
        return;
    }
    ++bus_activity_;
    bus_->xdata_write(addr, value);
}

inline void Cpu8051::push(uint8_t value) {
    uint8_t sp = ++sfr_[SP_INDEX];
    iram_[sp] = value;
}

inline uint8_t Cpu8051::pop() {
    uint8_t sp = sfr_[SP_INDEX]--;
    return iram_[sp];
}

inline void Cpu8051::add(uint8_t value, bool carry_in) {
    uint8_t a = sfr_[ACC_INDEX];
    unsigned c = carry_in ? 1 : 0;
    unsigned r = a + value + c;
    uint8_t psw = sfr_[PSW_INDEX] & ~(PSW_CY | PSW_AC | PSW_OV);
    if (r > 0xFF) psw |= PSW_CY;
    if ((a & 0x0F) + (value & 0x0F) + c > 0x0F) psw |= PSW_AC;
    if (~(a ^ value) & (a ^ r) & 0x80) psw |= PSW_OV;
    sfr_[PSW_INDEX] = psw;
    sfr_[ACC_INDEX] = static_cast<uint8_t>(r);
}

inline void Cpu8051::subb(uint8_t value) {
    uint8_t a = sfr_[ACC_INDEX];
    int c = (sfr_[PSW_INDEX] & PSW_CY) ? 1 : 0;
    int r = a - value - c;
    uint8_t psw = sfr_[PSW_INDEX] & ~(PSW_CY | PSW_AC | PSW_OV);
    if (r < 0) psw |= PSW_CY;
    if ((a & 0x0F) - (value & 0x0F) - c < 0) psw |= PSW_AC;
    if ((a ^ value) & (a ^ r) & 0x80) psw |= PSW_OV;
    sfr_[PSW_INDEX] = psw;
    sfr_[ACC_INDEX] = static_cast<uint8_t>(r);
}

// Decimal adjust: may set CY, never clears it; AC and OV are left alone.
inline void Cpu8051::da() {
    unsigned a = sfr_[ACC_INDEX];
    uint8_t psw = sfr_[PSW_INDEX];
    if ((a & 0x0F) > 9 || (psw & PSW_AC)) {
        a += 0x06;
        if (a > 0xFF) psw |= PSW_CY;
        a &= 0xFF;
    }
    if ((a & 0xF0) > 0x90 || (psw & PSW_CY)) {
        a += 0x60;
        if (a > 0xFF) psw |= PSW_CY;
        a &= 0xFF;
    }
    sfr_[PSW_INDEX] = psw;
    sfr_[ACC_INDEX] = static_cast<uint8_t>(a);
}

inline int Cpu8051::cjne(uint8_t left, uint8_t right, uint16_t& pc) {
    int8_t rel = static_cast<int8_t>(mem_[pc++]);
    if (left < right)
        sfr_[PSW_INDEX] |= PSW_CY;
    else
        sfr_[PSW_INDEX] &= ~PSW_CY;
    if (left != right) pc = static_cast<uint16_t>(pc + rel);
    return 4;
}

int Cpu8051::take_interrupt() {
    uint16_t vector;
    if ((sfr_[sfr::EICON - 0x80] & 0x30) == 0x30)
        vector = RESUME_VECTOR;  // highest natural priority
    else
        vector = USB_VECTOR;
    push(static_cast<uint8_t>(pc_));
    push(static_cast<uint8_t>(pc_ >> 8));
    in_service_ = true;
    sfr_[sfr::PCON - 0x80] &= ~0x01;
    ++bus_activity_;
    if (bus_) bus_->interrupt_taken(vector);
    pc_ = vector;
    cycles_ += 4;
    return 4;
}

inline bool Cpu8051::interrupt_pending() const {
    if (in_service_ || irq_blocked_ || !(sfr_[sfr::IE - 0x80] & 0x80)) return false;
    return ((sfr_[sfr::EIE - 0x80] & 0x01) && (sfr_[sfr::EXIF - 0x80] & 0x10)) ||
           (sfr_[sfr::EICON - 0x80] & 0x30) == 0x30;
}

int Cpu8051::step() {
    if (halt_reason_) return 0;
    if (interrupt_pending()) return take_interrupt();
    if (idle()) return 0;
    if (irq_blocked_) {
        irq_blocked_ = false;
        attention_ = true;  // a request may be waiting behind the blocked instruction
    }
    uint64_t before = cycles_;
    interpret(cycles_ + 1);  // every instruction takes at least one cycle
    return static_cast<int>(cycles_ - before);
}

// Interrupt requests, idle and halt can only change through the registers that
// raise attention_; between such writes instructions run without those checks.
uint64_t Cpu8051::run_until(uint64_t cycle_limit) {
    while (cycles_ < cycle_limit) {
        if (attention_) {
            attention_ = false;
            if (step() == 0) {
                attention_ = true;
                break;
            }
        } else {
            interpret(cycle_limit);
        }
    }
    return cycles_;
}

// Executes instructions from pc_ on until the cycle count reaches cycle_limit (at
// least one instruction), attention_ is raised or the core halts. Each instruction's
// code ends with the dispatch of the next, so the host's branch predictor learns every
// instruction's successors; the program counter and the counts live in locals, where
// through the members every instruction would wait for the stores of the one before.
// The chip reads the clock while an instruction runs: cycles_ is stored after each
// instruction, as of the next one's start.
void Cpu8051::interpret(uint64_t cycle_limit) {
    static void* const dispatch[256] = {ROW(0), ROW(1), ROW(2), ROW(3), ROW(4), ROW(5),
                                        ROW(6), ROW(7), ROW(8), ROW(9), ROW(A), ROW(B),
                                        ROW(C), ROW(D), ROW(E), ROW(F)};
    uint8_t& a = sfr_[ACC_INDEX];
    uint8_t& psw = sfr_[PSW_INDEX];
    uint16_t pc = pc_;
    uint64_t cycles = cycles_, executed = 0;
    uint8_t op = mem_[pc++];
    // The labelled instruction bodies below are laid out by hand, one opcode group to a
    // block: clang-format cannot read labels made by a macro.
    // clang-format off
#define IMM() mem_[pc++]
#define REG() iram_[bank_ + (op & 7)]
#define AT_R() iram_[iram_[bank_ + (op & 1)]]
#define REL_JUMP_IF(cond)                                  \
    do {                                                   \
        int8_t rel_ = static_cast<int8_t>(mem_[pc++]);     \
        if (cond) pc = static_cast<uint16_t>(pc + rel_);   \
    } while (0)
// The end of every instruction: count it, then stop or go on with the next one.
#define DONE(n)                                            \
    do {                                                   \
        cycles += static_cast<uint64_t>(n);                \
        ++executed;                                        \
        cycles_ = cycles;                                  \
        if (cycles >= cycle_limit || attention_) goto out; \
        op = mem_[pc++];                                   \
        goto *dispatch[op];                                \
    } while (0)

    goto *dispatch[op];
    OP(00): DONE(1);  // NOP

    OP(01): OP(21): OP(41): OP(61): OP(81): OP(A1): OP(C1): OP(E1): {  // AJMP addr11
        uint8_t lo = IMM();
        pc = static_cast<uint16_t>((pc & 0xF800) | ((op & 0xE0) << 3) | lo);
        DONE(3);
    }
    OP(11): OP(31): OP(51): OP(71): OP(91): OP(B1): OP(D1): OP(F1): {  // ACALL addr11
        uint8_t lo = IMM();
        push(static_cast<uint8_t>(pc));
        push(static_cast<uint8_t>(pc >> 8));
        pc = static_cast<uint16_t>((pc & 0xF800) | ((op & 0xE0) << 3) | lo);
        DONE(3);
    }
    OP(02): {  // LJMP addr16
        uint8_t hi = IMM();
        uint8_t lo = IMM();
        pc = static_cast<uint16_t>(hi << 8 | lo);
        DONE(4);
    }
    OP(12): {  // LCALL addr16
        uint8_t hi = IMM();
        uint8_t lo = IMM();
        push(static_cast<uint8_t>(pc));
        push(static_cast<uint8_t>(pc >> 8));
        pc = static_cast<uint16_t>(hi << 8 | lo);
        DONE(4);
    }
    OP(22):    // RET
    OP(32): {  // RETI
        uint8_t hi = pop();
        uint8_t lo = pop();
        pc = static_cast<uint16_t>(hi << 8 | lo);
        if (op == 0x32 && in_service_) {
            in_service_ = false;
            irq_blocked_ = true;
            attention_ = true;
        }
        DONE(4);
    }

    // Rotates, increments and decrements
    OP(03): a = static_cast<uint8_t>(a >> 1 | a << 7); DONE(1);  // RR A
    OP(23): a = static_cast<uint8_t>(a << 1 | a >> 7); DONE(1);  // RL A
    OP(13): {  // RRC A
        uint8_t cy = psw & PSW_CY;
        psw = static_cast<uint8_t>((psw & ~PSW_CY) | ((a & 1) << 7));
        a = static_cast<uint8_t>(a >> 1 | cy);
        DONE(1);
    }
    OP(33): {  // RLC A
        uint8_t cy = (psw & PSW_CY) ? 1 : 0;
        psw = static_cast<uint8_t>((psw & ~PSW_CY) | (a & 0x80));
        a = static_cast<uint8_t>(a << 1 | cy);
        DONE(1);
    }
    OP(04): ++a; DONE(1);
    OP(14): --a; DONE(1);
    OP(05): {
        uint8_t d = IMM();
        write_direct(d, static_cast<uint8_t>(read_direct(d) + 1));
        DONE(2);
    }
    OP(15): {
        uint8_t d = IMM();
        write_direct(d, static_cast<uint8_t>(read_direct(d) - 1));
        DONE(2);
    }
    OP(06): OP(07): ++AT_R(); DONE(1);
    OP(16): OP(17): --AT_R(); DONE(1);
    OP(08): OP(09): OP(0A): OP(0B): OP(0C): OP(0D): OP(0E): OP(0F): ++REG(); DONE(1);
    OP(18): OP(19): OP(1A): OP(1B): OP(1C): OP(1D): OP(1E): OP(1F): --REG(); DONE(1);
    OP(A3): set_dptr(static_cast<uint16_t>(dptr() + 1)); DONE(3);  // INC DPTR

    // Conditional jumps on bits and the accumulator
    OP(10): {  // JBC bit,rel
        uint8_t bit = IMM();
        bool set = read_bit(bit);
        if (set) write_bit(bit, false);
        REL_JUMP_IF(set);
        DONE(4);
    }
    OP(20): { uint8_t bit = IMM(); REL_JUMP_IF(read_bit(bit)); DONE(4); }   // JB
    OP(30): { uint8_t bit = IMM(); REL_JUMP_IF(!read_bit(bit)); DONE(4); }  // JNB
    OP(40): REL_JUMP_IF(psw & PSW_CY); DONE(3);     // JC
    OP(50): REL_JUMP_IF(!(psw & PSW_CY)); DONE(3);  // JNC
    OP(60): REL_JUMP_IF(a == 0); DONE(3);            // JZ
    OP(70): REL_JUMP_IF(a != 0); DONE(3);            // JNZ
    OP(80): REL_JUMP_IF(true); DONE(3);              // SJMP
    OP(73): pc = static_cast<uint16_t>(a + dptr()); DONE(3);  // JMP @A+DPTR

    // Arithmetic
    OP(24): add(IMM(), false); DONE(2);
    OP(25): add(read_direct(IMM()), false); DONE(2);
    OP(26): OP(27): add(AT_R(), false); DONE(1);
    OP(28): OP(29): OP(2A): OP(2B): OP(2C): OP(2D): OP(2E): OP(2F): add(REG(), false); DONE(1);
    OP(34): add(IMM(), psw & PSW_CY); DONE(2);
    OP(35): add(read_direct(IMM()), psw & PSW_CY); DONE(2);
    OP(36): OP(37): add(AT_R(), psw & PSW_CY); DONE(1);
    OP(38): OP(39): OP(3A): OP(3B): OP(3C): OP(3D): OP(3E): OP(3F): add(REG(), psw & PSW_CY); DONE(1);
    OP(94): subb(IMM()); DONE(2);
    OP(95): subb(read_direct(IMM())); DONE(2);
    OP(96): OP(97): subb(AT_R()); DONE(1);
    OP(98): OP(99): OP(9A): OP(9B): OP(9C): OP(9D): OP(9E): OP(9F): subb(REG()); DONE(1);
    OP(A4): {  // MUL AB
        unsigned r = a * sfr_[B_INDEX];
        a = static_cast<uint8_t>(r);
        sfr_[B_INDEX] = static_cast<uint8_t>(r >> 8);
        psw = static_cast<uint8_t>((psw & ~(PSW_CY | PSW_OV)) | (r > 0xFF ? PSW_OV : 0));
        DONE(5);
    }
    OP(84): {  // DIV AB; division by zero sets OV and leaves A and B as they were
        uint8_t divisor = sfr_[B_INDEX];
        psw &= ~(PSW_CY | PSW_OV);
        if (divisor == 0) {
            psw |= PSW_OV;
        } else {
            uint8_t q = a / divisor;
            sfr_[B_INDEX] = a % divisor;
            a = q;
        }
        DONE(5);
    }
    OP(D4): da(); DONE(1);

    // Logic into A
    OP(44): a |= IMM(); DONE(2);
    OP(45): a |= read_direct(IMM()); DONE(2);
    OP(46): OP(47): a |= AT_R(); DONE(1);
    OP(48): OP(49): OP(4A): OP(4B): OP(4C): OP(4D): OP(4E): OP(4F): a |= REG(); DONE(1);
    OP(54): a &= IMM(); DONE(2);
    OP(55): a &= read_direct(IMM()); DONE(2);
    OP(56): OP(57): a &= AT_R(); DONE(1);
    OP(58): OP(59): OP(5A): OP(5B): OP(5C): OP(5D): OP(5E): OP(5F): a &= REG(); DONE(1);
    OP(64): a ^= IMM(); DONE(2);
    OP(65): a ^= read_direct(IMM()); DONE(2);
    OP(66): OP(67): a ^= AT_R(); DONE(1);
    OP(68): OP(69): OP(6A): OP(6B): OP(6C): OP(6D): OP(6E): OP(6F): a ^= REG(); DONE(1);

    // Logic into a direct byte (read-modify-write)
    OP(42): { uint8_t d = IMM(); write_direct(d, read_direct(d) | a); DONE(2); }
    OP(52): { uint8_t d = IMM(); write_direct(d, read_direct(d) & a); DONE(2); }
    OP(62): { uint8_t d = IMM(); write_direct(d, read_direct(d) ^ a); DONE(2); }
    OP(43): { uint8_t d = IMM(); uint8_t v = IMM(); write_direct(d, read_direct(d) | v); DONE(3); }
    OP(53): { uint8_t d = IMM(); uint8_t v = IMM(); write_direct(d, read_direct(d) & v); DONE(3); }
    OP(63): { uint8_t d = IMM(); uint8_t v = IMM(); write_direct(d, read_direct(d) ^ v); DONE(3); }

    // Accumulator only
    OP(E4): a = 0; DONE(1);
    OP(F4): a = static_cast<uint8_t>(~a); DONE(1);
    OP(C4): a = static_cast<uint8_t>(a << 4 | a >> 4); DONE(1);

    // Carry and bit logic
    OP(72): { uint8_t bit = IMM(); if (read_bit(bit)) psw |= PSW_CY; DONE(2); }    // ORL C,bit
    OP(A0): { uint8_t bit = IMM(); if (!read_bit(bit)) psw |= PSW_CY; DONE(2); }   // ORL C,/bit
    OP(82): { uint8_t bit = IMM(); if (!read_bit(bit)) psw &= ~PSW_CY; DONE(2); }  // ANL C,bit
    OP(B0): { uint8_t bit = IMM(); if (read_bit(bit)) psw &= ~PSW_CY; DONE(2); }   // ANL C,/bit
    OP(A2): {  // MOV C,bit
        uint8_t bit = IMM();
        psw = static_cast<uint8_t>(read_bit(bit) ? (psw | PSW_CY) : (psw & ~PSW_CY));
        DONE(2);
    }
    OP(92): write_bit(IMM(), psw & PSW_CY); DONE(2);  // MOV bit,C
    OP(B2): { uint8_t bit = IMM(); write_bit(bit, !read_bit(bit)); DONE(2); }  // CPL bit
    OP(C2): write_bit(IMM(), false); DONE(2);  // CLR bit
    OP(D2): write_bit(IMM(), true); DONE(2);   // SETB bit
    OP(B3): psw ^= PSW_CY; DONE(1);
    OP(C3): psw &= ~PSW_CY; DONE(1);
    OP(D3): psw |= PSW_CY; DONE(1);

    // Moves
    OP(74): a = IMM(); DONE(2);
    OP(75): { uint8_t d = IMM(); write_direct(d, IMM()); DONE(3); }
    OP(76): OP(77): AT_R() = IMM(); DONE(2);
    OP(78): OP(79): OP(7A): OP(7B): OP(7C): OP(7D): OP(7E): OP(7F): REG() = IMM(); DONE(2);
    OP(85): {  // MOV dest,src is encoded source first
        uint8_t src = IMM();
        uint8_t dst = IMM();
        write_direct(dst, read_direct(src));
        DONE(3);
    }
    OP(86): OP(87): { uint8_t d = IMM(); write_direct(d, AT_R()); DONE(2); }
    OP(88): OP(89): OP(8A): OP(8B): OP(8C): OP(8D): OP(8E): OP(8F): { uint8_t d = IMM(); write_direct(d, REG()); DONE(2); }
    OP(90): {
        uint8_t hi = IMM();
        uint8_t lo = IMM();
        set_dptr(static_cast<uint16_t>(hi << 8 | lo));
        DONE(3);
    }
    OP(A6): OP(A7): AT_R() = read_direct(IMM()); DONE(2);
    OP(A8): OP(A9): OP(AA): OP(AB): OP(AC): OP(AD): OP(AE): OP(AF): REG() = read_direct(IMM()); DONE(2);
    OP(E5): a = read_direct(IMM()); DONE(2);
    OP(E6): OP(E7): a = AT_R(); DONE(1);
    OP(E8): OP(E9): OP(EA): OP(EB): OP(EC): OP(ED): OP(EE): OP(EF): a = REG(); DONE(1);
    OP(F5): write_direct(IMM(), a); DONE(2);
    OP(F6): OP(F7): AT_R() = a; DONE(1);
    OP(F8): OP(F9): OP(FA): OP(FB): OP(FC): OP(FD): OP(FE): OP(FF): REG() = a; DONE(1);

    // Code and external data
    OP(83): a = mem_[static_cast<uint16_t>(a + pc)]; DONE(3);      // MOVC A,@A+PC
    OP(93): a = mem_[static_cast<uint16_t>(a + dptr())]; DONE(3);   // MOVC A,@A+DPTR
    OP(E0): a = movx_read(dptr()); DONE(movx_cycles());
    OP(E2): OP(E3): {
        uint16_t addr = static_cast<uint16_t>(sfr_[sfr::MPAGE - 0x80] << 8 | iram_[bank_ + (op & 1)]);
        a = movx_read(addr);
        DONE(movx_cycles());
    }
    OP(F0): movx_write(dptr(), a); DONE(movx_cycles());
    OP(F2): OP(F3): {
        uint16_t addr = static_cast<uint16_t>(sfr_[sfr::MPAGE - 0x80] << 8 | iram_[bank_ + (op & 1)]);
        movx_write(addr, a);
        DONE(movx_cycles());
    }

    // Stack
    // Intel, MCS-51 Programmer's Guide and Instruction Set, PUSH and POP: PUSH
    // increments SP, then copies the operand to (SP), so PUSH SP stores the
    // incremented value; POP reads (SP), decrements SP, then stores the value read,
    // so POP SP leaves SP holding the popped byte (the manual's own example).
    OP(C0): {
        uint8_t d = IMM();
        uint8_t sp = ++sfr_[SP_INDEX];
        iram_[sp] = read_direct(d);
        DONE(2);
    }
    OP(D0): {
        uint8_t d = IMM();
        write_direct(d, pop());
        DONE(2);
    }

    // Exchanges
    OP(C5): { uint8_t d = IMM(); uint8_t v = read_direct(d); write_direct(d, a); a = v; DONE(2); }
    OP(C6): OP(C7): { uint8_t& m = AT_R(); uint8_t v = m; m = a; a = v; DONE(1); }
    OP(C8): OP(C9): OP(CA): OP(CB): OP(CC): OP(CD): OP(CE): OP(CF): { uint8_t& m = REG(); uint8_t v = m; m = a; a = v; DONE(1); }
    OP(D6): OP(D7): {  // XCHD A,@Ri
        uint8_t& m = AT_R();
        uint8_t v = m;
        m = static_cast<uint8_t>((m & 0xF0) | (a & 0x0F));
        a = static_cast<uint8_t>((a & 0xF0) | (v & 0x0F));
        DONE(1);
    }

    // Compare and loop
    OP(B4): { uint8_t v = IMM(); DONE(cjne(a, v, pc)); }
    OP(B5): { uint8_t v = read_direct(IMM()); DONE(cjne(a, v, pc)); }
    OP(B6): OP(B7): { uint8_t v = IMM(); DONE(cjne(AT_R(), v, pc)); }
    OP(B8): OP(B9): OP(BA): OP(BB): OP(BC): OP(BD): OP(BE): OP(BF): { uint8_t v = IMM(); DONE(cjne(REG(), v, pc)); }
    OP(D5): {  // DJNZ direct,rel
        uint8_t d = IMM();
        uint8_t v = static_cast<uint8_t>(read_direct(d) - 1);
        write_direct(d, v);
        REL_JUMP_IF(v != 0);
        DONE(4);
    }
    OP(D8): OP(D9): OP(DA): OP(DB): OP(DC): OP(DD): OP(DE): OP(DF): {
        uint8_t v = --REG();
        REL_JUMP_IF(v != 0);
        DONE(3);
    }

    OP(A5):
        halt("undefined opcode 0xA5");
        pc = static_cast<uint16_t>(pc - 1);
        halt_pc_ = pc;
        goto out;

    // clang-format on
out:
    pc_ = pc;
    instructions_ += executed;
#undef IMM
#undef REG
#undef AT_R
#undef REL_JUMP_IF
#undef DONE
}

}  // namespace emu
