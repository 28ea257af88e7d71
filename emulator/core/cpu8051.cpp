#include "cpu8051.h"

namespace emu {

namespace {

constexpr uint8_t flag_cy = 0x80, flag_ac = 0x40, flag_ov = 0x04, flag_p = 0x01;

constexpr int acc = sfr::ACC - 0x80, psw_i = sfr::PSW - 0x80, sp_i = sfr::SP - 0x80,
              b_i = sfr::B - 0x80;

#define PELKAT_ALWAYS_INLINE inline __attribute__((always_inline))

inline uint8_t parity(uint8_t v) { return static_cast<uint8_t>(__builtin_parity(v)); }

// Registers whose writes can change whether an interrupt is due or the core idles.
inline bool affects_interrupts(uint8_t addr) {
    return addr == sfr::IE || addr == sfr::EIE || addr == sfr::EXIF || addr == sfr::EICON ||
           addr == sfr::PCON;
}

inline bool is_port(uint8_t addr) {
    return addr == sfr::P0 || addr == sfr::P1 || addr == sfr::P2 || addr == sfr::P3;
}

// Eight consecutive opcodes that differ only in the register they name.
#define CASE2(x) case (x): case (x) + 1
#define CASE8(x) \
    CASE2(x): CASE2((x) + 2): CASE2((x) + 4): CASE2((x) + 6)
// The eight 2 KiB-page jumps or calls (AJMP at 0x01, ACALL at 0x11, then every 0x20).
#define CASE_PAGE(x) \
    case (x): case (x) + 0x20: case (x) + 0x40: case (x) + 0x60: case (x) + 0x80: \
    case (x) + 0xA0: case (x) + 0xC0: case (x) + 0xE0

}  // namespace

Cpu8051::Cpu8051(uint8_t* memory, Cpu8051Bus* bus, uint32_t hook_base)
    : mem_(memory), bus_(bus), hook_base_(hook_base) {
    reset();
}

void Cpu8051::reset() {
    for (auto& s : sfr_) s = 0;
    sfr_[sfr::P0 - 0x80] = sfr_[sfr::P1 - 0x80] = sfr_[sfr::P2 - 0x80] = sfr_[sfr::P3 - 0x80] = 0xFF;
    sfr_[sp_i] = 0x07;
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

void Cpu8051::hook_sfr(uint8_t addr) {
    static const uint8_t core_owned[] = {sfr::ACC, sfr::B,    sfr::PSW,  sfr::SP,    sfr::DPL,
                                         sfr::DPH, sfr::DPL1, sfr::DPH1, sfr::DPS,   sfr::MPAGE,
                                         sfr::IE,  sfr::EIE,  sfr::EXIF, sfr::EICON, sfr::PCON};
    if (addr < 0x80) return;
    for (uint8_t owned : core_owned)
        if (addr == owned) return;
    sfr_hooked_[addr - 0x80] = true;
}

uint8_t Cpu8051::sfr(uint8_t addr) const {
    if (addr < 0x80) return 0;
    if (addr == sfr::PSW) return static_cast<uint8_t>((sfr_[psw_i] & ~flag_p) | parity(sfr_[acc]));
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
    if (sfr_hooked_[i]) {
        ++bus_activity_;
        return bus_->sfr_read(addr);
    }
    if (i == psw_i) return sfr(sfr::PSW);
    return sfr_[i];
}

inline uint8_t Cpu8051::read_latch(uint8_t addr) {
    if (addr >= 0x80 && is_port(addr)) return sfr_[addr - 0x80];
    return read_direct(addr);
}

inline void Cpu8051::write_direct(uint8_t addr, uint8_t value) {
    if (addr < 0x80) {
        iram_[addr] = value;
        return;
    }
    int i = addr - 0x80;
    sfr_[i] = value;
    if (i == psw_i) bank_ = value & 0x18;
    if (affects_interrupts(addr)) attention_ = true;
    if (sfr_hooked_[i]) {
        ++bus_activity_;
        bus_->sfr_write(addr, value);
    }
}

inline bool Cpu8051::read_bit(uint8_t bit) {
    if (bit < 0x80) return (iram_[0x20 + (bit >> 3)] >> (bit & 7)) & 1;
    return (read_direct(bit & 0xF8) >> (bit & 7)) & 1;
}

inline bool Cpu8051::read_bit_latch(uint8_t bit) {
    if (bit < 0x80) return (iram_[0x20 + (bit >> 3)] >> (bit & 7)) & 1;
    return (read_latch(bit & 0xF8) >> (bit & 7)) & 1;
}

inline void Cpu8051::write_bit(uint8_t bit, bool value) {
    uint8_t mask = static_cast<uint8_t>(1u << (bit & 7));
    if (bit < 0x80) {
        uint8_t& byte = iram_[0x20 + (bit >> 3)];
        byte = value ? (byte | mask) : (byte & ~mask);
        return;
    }
    uint8_t addr = bit & 0xF8;
    uint8_t byte = read_latch(addr);
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
    uint8_t sp = ++sfr_[sp_i];
    iram_[sp] = value;
}

inline uint8_t Cpu8051::pop() {
    uint8_t sp = sfr_[sp_i]--;
    return iram_[sp];
}

inline void Cpu8051::add(uint8_t value, bool carry_in) {
    uint8_t a = sfr_[acc];
    unsigned c = carry_in ? 1 : 0;
    unsigned r = a + value + c;
    uint8_t psw = sfr_[psw_i] & ~(flag_cy | flag_ac | flag_ov);
    if (r > 0xFF) psw |= flag_cy;
    if ((a & 0x0F) + (value & 0x0F) + c > 0x0F) psw |= flag_ac;
    if (~(a ^ value) & (a ^ r) & 0x80) psw |= flag_ov;
    sfr_[psw_i] = psw;
    sfr_[acc] = static_cast<uint8_t>(r);
}

inline void Cpu8051::subb(uint8_t value) {
    uint8_t a = sfr_[acc];
    int c = (sfr_[psw_i] & flag_cy) ? 1 : 0;
    int r = a - value - c;
    uint8_t psw = sfr_[psw_i] & ~(flag_cy | flag_ac | flag_ov);
    if (r < 0) psw |= flag_cy;
    if ((a & 0x0F) - (value & 0x0F) - c < 0) psw |= flag_ac;
    if ((a ^ value) & (a ^ r) & 0x80) psw |= flag_ov;
    sfr_[psw_i] = psw;
    sfr_[acc] = static_cast<uint8_t>(r);
}

// Decimal adjust: may set CY, never clears it; AC and OV are left alone.
inline void Cpu8051::da() {
    unsigned a = sfr_[acc];
    uint8_t psw = sfr_[psw_i];
    if ((a & 0x0F) > 9 || (psw & flag_ac)) {
        a += 0x06;
        if (a > 0xFF) psw |= flag_cy;
        a &= 0xFF;
    }
    if ((a & 0xF0) > 0x90 || (psw & flag_cy)) {
        a += 0x60;
        if (a > 0xFF) psw |= flag_cy;
        a &= 0xFF;
    }
    sfr_[psw_i] = psw;
    sfr_[acc] = static_cast<uint8_t>(a);
}

inline int Cpu8051::cjne(uint8_t left, uint8_t right) {
    int8_t rel = static_cast<int8_t>(mem_[pc_++]);
    if (left < right)
        sfr_[psw_i] |= flag_cy;
    else
        sfr_[psw_i] &= ~flag_cy;
    if (left != right) pc_ = static_cast<uint16_t>(pc_ + rel);
    return 4;
}

int Cpu8051::take_interrupt() {
    uint16_t vector;
    if ((sfr_[sfr::EICON - 0x80] & 0x30) == 0x30)
        vector = resume_vector;  // highest natural priority
    else
        vector = usb_vector;
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

PELKAT_ALWAYS_INLINE int Cpu8051::exec_one() {
    uint16_t at = pc_;
    int c = execute(mem_[pc_++]);
    if (c == 0) {
        pc_ = at;
        halt_pc_ = at;
        return 0;
    }
    ++instructions_;
    cycles_ += static_cast<uint64_t>(c);
    return c;
}

int Cpu8051::step() {
    if (halt_reason_) return 0;
    if (interrupt_pending()) return take_interrupt();
    if (idle()) return 0;
    if (irq_blocked_) {
        irq_blocked_ = false;
        attention_ = true;  // a request may be waiting behind the blocked instruction
    }
    return exec_one();
}

// Interrupt requests, idle and halt can only change through the registers that
// raise attention_; between such writes instructions run without those checks.
// The fast path keeps its own inlined copy of the interpreter.
uint64_t Cpu8051::run_until(uint64_t cycle_limit) {
    while (cycles_ < cycle_limit) {
        if (attention_) {
            attention_ = false;
            if (step() == 0) {
                attention_ = true;
                break;
            }
        } else if (exec_one() == 0) {
            break;
        }
    }
    return cycles_;
}

// Executes one instruction whose opcode has been fetched. Returns its machine
// cycles, or 0 when the core halts on it.
PELKAT_ALWAYS_INLINE int Cpu8051::execute(uint8_t op) {
    uint8_t& a = sfr_[acc];
    uint8_t& psw = sfr_[psw_i];
#define IMM() mem_[pc_++]
#define REG() iram_[bank_ + (op & 7)]
#define AT_R() iram_[iram_[bank_ + (op & 1)]]
#define REL_JUMP_IF(cond)                                          \
    do {                                                           \
        int8_t rel_ = static_cast<int8_t>(mem_[pc_++]);            \
        if (cond) pc_ = static_cast<uint16_t>(pc_ + rel_);         \
    } while (0)

    switch (op) {
    case 0x00: return 1;  // NOP

    CASE_PAGE(0x01): {  // AJMP addr11
        uint8_t lo = IMM();
        pc_ = static_cast<uint16_t>((pc_ & 0xF800) | ((op & 0xE0) << 3) | lo);
        return 3;
    }
    CASE_PAGE(0x11): {  // ACALL addr11
        uint8_t lo = IMM();
        push(static_cast<uint8_t>(pc_));
        push(static_cast<uint8_t>(pc_ >> 8));
        pc_ = static_cast<uint16_t>((pc_ & 0xF800) | ((op & 0xE0) << 3) | lo);
        return 3;
    }
    case 0x02: {  // LJMP addr16
        uint8_t hi = IMM();
        uint8_t lo = IMM();
        pc_ = static_cast<uint16_t>(hi << 8 | lo);
        return 4;
    }
    case 0x12: {  // LCALL addr16
        uint8_t hi = IMM();
        uint8_t lo = IMM();
        push(static_cast<uint8_t>(pc_));
        push(static_cast<uint8_t>(pc_ >> 8));
        pc_ = static_cast<uint16_t>(hi << 8 | lo);
        return 4;
    }
    case 0x22:    // RET
    case 0x32: {  // RETI
        uint8_t hi = pop();
        uint8_t lo = pop();
        pc_ = static_cast<uint16_t>(hi << 8 | lo);
        if (op == 0x32 && in_service_) {
            in_service_ = false;
            irq_blocked_ = true;
            attention_ = true;
        }
        return 4;
    }

    // Rotates, increments and decrements
    case 0x03: a = static_cast<uint8_t>(a >> 1 | a << 7); return 1;  // RR A
    case 0x23: a = static_cast<uint8_t>(a << 1 | a >> 7); return 1;  // RL A
    case 0x13: {  // RRC A
        uint8_t cy = psw & flag_cy;
        psw = static_cast<uint8_t>((psw & ~flag_cy) | ((a & 1) << 7));
        a = static_cast<uint8_t>(a >> 1 | cy);
        return 1;
    }
    case 0x33: {  // RLC A
        uint8_t cy = (psw & flag_cy) ? 1 : 0;
        psw = static_cast<uint8_t>((psw & ~flag_cy) | (a & 0x80));
        a = static_cast<uint8_t>(a << 1 | cy);
        return 1;
    }
    case 0x04: ++a; return 1;
    case 0x14: --a; return 1;
    case 0x05: {
        uint8_t d = IMM();
        write_direct(d, static_cast<uint8_t>(read_latch(d) + 1));
        return 2;
    }
    case 0x15: {
        uint8_t d = IMM();
        write_direct(d, static_cast<uint8_t>(read_latch(d) - 1));
        return 2;
    }
    CASE2(0x06): ++AT_R(); return 1;
    CASE2(0x16): --AT_R(); return 1;
    CASE8(0x08): ++REG(); return 1;
    CASE8(0x18): --REG(); return 1;
    case 0xA3: set_dptr(static_cast<uint16_t>(dptr() + 1)); return 3;  // INC DPTR

    // Conditional jumps on bits and the accumulator
    case 0x10: {  // JBC bit,rel
        uint8_t bit = IMM();
        bool set = read_bit_latch(bit);
        if (set) write_bit(bit, false);
        REL_JUMP_IF(set);
        return 4;
    }
    case 0x20: { uint8_t bit = IMM(); REL_JUMP_IF(read_bit(bit)); return 4; }   // JB
    case 0x30: { uint8_t bit = IMM(); REL_JUMP_IF(!read_bit(bit)); return 4; }  // JNB
    case 0x40: REL_JUMP_IF(psw & flag_cy); return 3;     // JC
    case 0x50: REL_JUMP_IF(!(psw & flag_cy)); return 3;  // JNC
    case 0x60: REL_JUMP_IF(a == 0); return 3;            // JZ
    case 0x70: REL_JUMP_IF(a != 0); return 3;            // JNZ
    case 0x80: REL_JUMP_IF(true); return 3;              // SJMP
    case 0x73: pc_ = static_cast<uint16_t>(a + dptr()); return 3;  // JMP @A+DPTR

    // Arithmetic
    case 0x24: add(IMM(), false); return 2;
    case 0x25: add(read_direct(IMM()), false); return 2;
    CASE2(0x26): add(AT_R(), false); return 1;
    CASE8(0x28): add(REG(), false); return 1;
    case 0x34: add(IMM(), psw & flag_cy); return 2;
    case 0x35: add(read_direct(IMM()), psw & flag_cy); return 2;
    CASE2(0x36): add(AT_R(), psw & flag_cy); return 1;
    CASE8(0x38): add(REG(), psw & flag_cy); return 1;
    case 0x94: subb(IMM()); return 2;
    case 0x95: subb(read_direct(IMM())); return 2;
    CASE2(0x96): subb(AT_R()); return 1;
    CASE8(0x98): subb(REG()); return 1;
    case 0xA4: {  // MUL AB
        unsigned r = a * sfr_[b_i];
        a = static_cast<uint8_t>(r);
        sfr_[b_i] = static_cast<uint8_t>(r >> 8);
        psw = static_cast<uint8_t>((psw & ~(flag_cy | flag_ov)) | (r > 0xFF ? flag_ov : 0));
        return 5;
    }
    case 0x84: {  // DIV AB; division by zero sets OV and leaves A and B as they were
        uint8_t divisor = sfr_[b_i];
        psw &= ~(flag_cy | flag_ov);
        if (divisor == 0) {
            psw |= flag_ov;
        } else {
            uint8_t q = a / divisor;
            sfr_[b_i] = a % divisor;
            a = q;
        }
        return 5;
    }
    case 0xD4: da(); return 1;

    // Logic into A
    case 0x44: a |= IMM(); return 2;
    case 0x45: a |= read_direct(IMM()); return 2;
    CASE2(0x46): a |= AT_R(); return 1;
    CASE8(0x48): a |= REG(); return 1;
    case 0x54: a &= IMM(); return 2;
    case 0x55: a &= read_direct(IMM()); return 2;
    CASE2(0x56): a &= AT_R(); return 1;
    CASE8(0x58): a &= REG(); return 1;
    case 0x64: a ^= IMM(); return 2;
    case 0x65: a ^= read_direct(IMM()); return 2;
    CASE2(0x66): a ^= AT_R(); return 1;
    CASE8(0x68): a ^= REG(); return 1;

    // Logic into a direct byte (read-modify-write)
    case 0x42: { uint8_t d = IMM(); write_direct(d, read_latch(d) | a); return 2; }
    case 0x52: { uint8_t d = IMM(); write_direct(d, read_latch(d) & a); return 2; }
    case 0x62: { uint8_t d = IMM(); write_direct(d, read_latch(d) ^ a); return 2; }
    case 0x43: { uint8_t d = IMM(); uint8_t v = IMM(); write_direct(d, read_latch(d) | v); return 3; }
    case 0x53: { uint8_t d = IMM(); uint8_t v = IMM(); write_direct(d, read_latch(d) & v); return 3; }
    case 0x63: { uint8_t d = IMM(); uint8_t v = IMM(); write_direct(d, read_latch(d) ^ v); return 3; }

    // Accumulator only
    case 0xE4: a = 0; return 1;
    case 0xF4: a = static_cast<uint8_t>(~a); return 1;
    case 0xC4: a = static_cast<uint8_t>(a << 4 | a >> 4); return 1;

    // Carry and bit logic
    case 0x72: { uint8_t bit = IMM(); if (read_bit(bit)) psw |= flag_cy; return 2; }    // ORL C,bit
    case 0xA0: { uint8_t bit = IMM(); if (!read_bit(bit)) psw |= flag_cy; return 2; }   // ORL C,/bit
    case 0x82: { uint8_t bit = IMM(); if (!read_bit(bit)) psw &= ~flag_cy; return 2; }  // ANL C,bit
    case 0xB0: { uint8_t bit = IMM(); if (read_bit(bit)) psw &= ~flag_cy; return 2; }   // ANL C,/bit
    case 0xA2: {  // MOV C,bit
        uint8_t bit = IMM();
        psw = static_cast<uint8_t>(read_bit(bit) ? (psw | flag_cy) : (psw & ~flag_cy));
        return 2;
    }
    case 0x92: write_bit(IMM(), psw & flag_cy); return 2;  // MOV bit,C
    case 0xB2: { uint8_t bit = IMM(); write_bit(bit, !read_bit_latch(bit)); return 2; }  // CPL bit
    case 0xC2: write_bit(IMM(), false); return 2;  // CLR bit
    case 0xD2: write_bit(IMM(), true); return 2;   // SETB bit
    case 0xB3: psw ^= flag_cy; return 1;
    case 0xC3: psw &= ~flag_cy; return 1;
    case 0xD3: psw |= flag_cy; return 1;

    // Moves
    case 0x74: a = IMM(); return 2;
    case 0x75: { uint8_t d = IMM(); write_direct(d, IMM()); return 3; }
    CASE2(0x76): AT_R() = IMM(); return 2;
    CASE8(0x78): REG() = IMM(); return 2;
    case 0x85: {  // MOV dest,src is encoded source first
        uint8_t src = IMM();
        uint8_t dst = IMM();
        write_direct(dst, read_direct(src));
        return 3;
    }
    CASE2(0x86): { uint8_t d = IMM(); write_direct(d, AT_R()); return 2; }
    CASE8(0x88): { uint8_t d = IMM(); write_direct(d, REG()); return 2; }
    case 0x90: {
        uint8_t hi = IMM();
        uint8_t lo = IMM();
        set_dptr(static_cast<uint16_t>(hi << 8 | lo));
        return 3;
    }
    CASE2(0xA6): AT_R() = read_direct(IMM()); return 2;
    CASE8(0xA8): REG() = read_direct(IMM()); return 2;
    case 0xE5: a = read_direct(IMM()); return 2;
    CASE2(0xE6): a = AT_R(); return 1;
    CASE8(0xE8): a = REG(); return 1;
    case 0xF5: write_direct(IMM(), a); return 2;
    CASE2(0xF6): AT_R() = a; return 1;
    CASE8(0xF8): REG() = a; return 1;

    // Code and external data
    case 0x83: a = mem_[static_cast<uint16_t>(a + pc_)]; return 3;      // MOVC A,@A+PC
    case 0x93: a = mem_[static_cast<uint16_t>(a + dptr())]; return 3;   // MOVC A,@A+DPTR
    case 0xE0: a = movx_read(dptr()); return movx_cycles();
    CASE2(0xE2): {
        uint16_t addr = static_cast<uint16_t>(sfr_[sfr::MPAGE - 0x80] << 8 | iram_[bank_ + (op & 1)]);
        a = movx_read(addr);
        return movx_cycles();
    }
    case 0xF0: movx_write(dptr(), a); return movx_cycles();
    CASE2(0xF2): {
        uint16_t addr = static_cast<uint16_t>(sfr_[sfr::MPAGE - 0x80] << 8 | iram_[bank_ + (op & 1)]);
        movx_write(addr, a);
        return movx_cycles();
    }

    // Stack
    // Intel, MCS-51 Programmer's Guide and Instruction Set, PUSH and POP: PUSH
    // increments SP, then copies the operand to (SP), so PUSH SP stores the
    // incremented value; POP reads (SP), decrements SP, then stores the value read,
    // so POP SP leaves SP holding the popped byte (the manual's own example).
    case 0xC0: {
        uint8_t d = IMM();
        uint8_t sp = ++sfr_[sp_i];
        iram_[sp] = read_direct(d);
        return 2;
    }
    case 0xD0: {
        uint8_t d = IMM();
        write_direct(d, pop());
        return 2;
    }

    // Exchanges
    case 0xC5: { uint8_t d = IMM(); uint8_t v = read_direct(d); write_direct(d, a); a = v; return 2; }
    CASE2(0xC6): { uint8_t& m = AT_R(); uint8_t v = m; m = a; a = v; return 1; }
    CASE8(0xC8): { uint8_t& m = REG(); uint8_t v = m; m = a; a = v; return 1; }
    CASE2(0xD6): {  // XCHD A,@Ri
        uint8_t& m = AT_R();
        uint8_t v = m;
        m = static_cast<uint8_t>((m & 0xF0) | (a & 0x0F));
        a = static_cast<uint8_t>((a & 0xF0) | (v & 0x0F));
        return 1;
    }

    // Compare and loop
    case 0xB4: { uint8_t v = IMM(); return cjne(a, v); }
    case 0xB5: { uint8_t v = read_direct(IMM()); return cjne(a, v); }
    CASE2(0xB6): { uint8_t v = IMM(); return cjne(AT_R(), v); }
    CASE8(0xB8): { uint8_t v = IMM(); return cjne(REG(), v); }
    case 0xD5: {  // DJNZ direct,rel
        uint8_t d = IMM();
        uint8_t v = static_cast<uint8_t>(read_latch(d) - 1);
        write_direct(d, v);
        REL_JUMP_IF(v != 0);
        return 4;
    }
    CASE8(0xD8): {
        uint8_t v = --REG();
        REL_JUMP_IF(v != 0);
        return 3;
    }

    case 0xA5:
        halt("undefined opcode 0xA5");
        return 0;
    }
#undef IMM
#undef REG
#undef AT_R
#undef REL_JUMP_IF
    return 0;  // not reached: every opcode is handled above
}

}  // namespace emu
