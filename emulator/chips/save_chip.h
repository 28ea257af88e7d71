// The serial FLASH and EEPROM save chips behind the Cartridge interface, with what tests
// and the launcher need beyond the bus: the memory, its file, a record of every write
// cycle, and faults.
//
// Bus behaviour (SPI mode 0): select falling starts a command and rising ends it; a bit is
// taken on the clock's rising edge and the next output bit appears after the falling
// edge, most significant bit first. A write or erase starts when select rises after a
// complete command (a whole number of bytes) and needs the write enable latch; while it
// runs only RDSR is answered, and at its end the latch clears.
#pragma once

#include "chips/cartridge.h"
#include "chips/mapped_file.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace emu {

// One internal write or erase cycle, recorded when it starts (select rising after a
// complete command). A sector erase is any erase of part of the chip (a page, a 4 KiB
// sector, a 64 KiB sector or block).
struct ChipCycle {
    enum class Kind { page_program, sector_erase, chip_erase, eeprom_write };
    Kind kind;
    uint32_t
        address;  // first byte addressed (page program / write: as sent; erase: first byte erased)
    uint32_t count;  // bytes sent (page program / write) or bytes erased
    uint64_t start_ns;
    uint64_t end_ns;  // when write-in-progress clears; UINT64_MAX for an erase that never ends
};

class SaveChip final : public Cartridge {
public:
    // A blank chip; not ChipKind::none (std::invalid_argument).
    explicit SaveChip(ChipKind kind, ChipTiming timing = ChipTiming::typical);
    ~SaveChip() override;

    void drive(BusLines lines, uint64_t now_ns) override;
    int output(uint64_t now_ns) override;

    ChipKind kind() const { return kind_; }
    uint32_t size() const { return static_cast<uint32_t>(memory_.size()); }

    // The memory array as it stands; a cycle still running has not changed it yet.
    const std::vector<uint8_t>& memory() const { return memory_; }
    void fill(
        const std::vector<uint8_t>& contents);  // throws std::invalid_argument on a wrong size
    // Completes a cycle still running, as the chip does while it keeps its power after the
    // host is done (not when it was pulled first, nor an erase that hangs).
    void finish();

    // The memory lives in a raw image file of exactly size() bytes from now on: it is
    // loaded from there (a missing file is created as a blank chip, all 0xFF), and every
    // change the chip makes reaches the file the moment it is made, through a shared
    // mapping, so that the file holds what the chip holds however the process ends.
    // Throws std::runtime_error with a readable message (wrong size, unreadable,
    // unwritable); the chip is then unchanged.
    void attach_file(const std::string& path);

    const std::vector<ChipCycle>& cycles() const { return cycles_; }
    void clear_cycles() { cycles_.clear(); }

    // Faults.
    void pull_at(uint64_t time_ns);  // from then on: undriven, ignores the bus
    void add_stuck_bits(uint32_t address,
                        uint8_t mask);  // these bits never change on write or erase
    void set_erase_hang(bool hang);     // erases never finish (WIP stays set)
    void set_program_time_us(
        uint32_t us);  // page program / EEPROM write cycle, beyond the data sheet
    // Writes, page programs and erases are taken and run their time, and the status
    // reports them done, but the memory keeps its old bytes (a part worn out, or a
    // supply too weak to program).
    void set_drop_writes(bool drop);
    void reinsert(uint64_t now_ns) override;

    // Status register as RDSR would report it now (bit 0 WIP, bit 1 WEL).
    uint8_t status(uint64_t now_ns);

private:
    enum class Phase { idle, opcode, address, data, output, ignore };
    enum class Op { none, read, write, wren, wrdi, rdsr, rdid, erase };

    bool pulled(uint64_t now_ns) const { return now_ns >= pull_ns_; }
    void drive_edge(BusLines lines, uint64_t now_ns);
    void clock_in(bool data) {
        in_byte_ = static_cast<uint8_t>((in_byte_ << 1) | (data ? 1 : 0));
        ++bits_;
    }
    void present_next_bit() {
        --out_bits_left_;
        out_level_ = (out_byte_ >> out_bits_left_) & 1;
    }
    bool busy(uint64_t now_ns);
    void settle(uint64_t now_ns);
    void take_byte(uint8_t byte, uint64_t now_ns);
    uint8_t next_output_byte(uint64_t now_ns);
    void end_command(uint64_t now_ns);
    void start_cycle(ChipCycle::Kind kind, uint32_t address, uint32_t count, uint64_t duration_ns,
                     uint64_t now_ns);
    void store(uint32_t address, uint8_t value);  // honours stuck bits

    ChipKind kind_;
    const ChipInfo& params_;
    std::vector<uint8_t> memory_;
    std::unique_ptr<MappedFile> file_;  // the memory's file, when attached
    std::vector<ChipCycle> cycles_;
    std::vector<uint8_t> stuck_mask_;  // per byte; empty until a stuck-bit fault is set
    uint64_t pull_ns_ = UINT64_MAX;
    bool erase_hang_ = false;
    bool drop_writes_ = false;
    bool powering_up_ = false;  // reinserted while selected: deaf until select rises
    ChipTiming timing_;
    uint64_t program_ns_;

    // Bus state.
    BusLines lines_{true, false, false};
    int out_level_ = -1;
    Phase phase_ = Phase::idle;
    Op op_ = Op::none;
    uint32_t bits_ = 0;  // clocked in since select fell
    uint8_t in_byte_ = 0;
    int address_left_ = 0;
    uint32_t address_ = 0;
    uint8_t out_byte_ = 0;
    int out_bits_left_ = 0;  // bits of out_byte_ still to present
    uint32_t id_index_ = 0;
    bool wel_ = false;
    const EraseInstruction* erase_ = nullptr;  // of Op::erase

    // The cycle in progress: its data (page latch) and when it ends.
    bool cycle_open_ = false;
    ChipCycle::Kind cycle_kind_ = ChipCycle::Kind::page_program;
    uint64_t cycle_end_ns_ = 0;
    uint32_t cycle_address_ = 0;  // page or erase start
    uint32_t cycle_count_ = 0;    // bytes erased
    uint32_t data_start_ = 0;     // page offset of the first data byte
    uint32_t data_bytes_ = 0;     // data bytes clocked in
    std::vector<uint8_t> latch_;
    std::vector<bool> latch_loaded_;
};

// Dirty or worn contacts on the data-out line: each bit the cartridge drives reads
// inverted with a probability of ppm per million. Whether a bit flips depends only on the
// seed and on the bit's place in the run (the count of select and clock-falling edges so
// far), so that a run under the same seed repeats exactly. Forwards the bus to the inner
// cartridge (which may be null: an empty slot, whose undriven line never flips).
class FlakyContacts : public Cartridge {
public:
    FlakyContacts(Cartridge* inner, uint32_t ppm, uint64_t seed)
        : inner_(inner), ppm_(ppm), seed_(seed) {}
    void drive(BusLines lines, uint64_t now_ns) override;
    int output(uint64_t now_ns) override;
    void reinsert(uint64_t now_ns) override {
        if (inner_) inner_->reinsert(now_ns);
    }
    uint64_t flipped() const { return flipped_; }  // bits read inverted so far

private:
    Cartridge* inner_;
    uint32_t ppm_;
    uint64_t seed_;
    BusLines lines_{true, false, false};
    uint64_t period_ = 0;  // bit periods begun: a new output bit after each of those edges
    bool flip_ = false;    // the present bit period's bit reads inverted
    bool counted_ = false;
    uint64_t flipped_ = 0;
};

// A board fault: the data-in line stuck at 0 or 1 whatever the chip does. Forwards the bus
// to the inner cartridge (which may be null: an empty slot).
class StuckDataIn : public Cartridge {
public:
    StuckDataIn(Cartridge* inner, int level) : inner_(inner), level_(level ? 1 : 0) {}
    void drive(BusLines lines, uint64_t now_ns) override {
        if (inner_) inner_->drive(lines, now_ns);
    }
    int output(uint64_t) override { return level_; }
    void reinsert(uint64_t now_ns) override {
        if (inner_) inner_->reinsert(now_ns);
    }

private:
    Cartridge* inner_;
    int level_;
};

}  // namespace emu
