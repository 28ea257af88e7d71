#include "chips/save_chip.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "adapter_protocol.h"

namespace emu {

namespace {

constexpr uint64_t NS_PER_US = 1000;
constexpr uint64_t NEVER = UINT64_MAX;

std::string errno_text() { return std::strerror(errno); }

}  // namespace

// Status register of every chip: bit 0 WIP (write in progress), bit 1 WEL; while a cycle
// runs every instruction but RDSR is ignored ("discarded, and is not executed ... if a
// Write cycle is already in progress", M95512-A125 data sheet, WRITE instruction). An
// instruction a part does not have is ignored up to the end of the command.
SaveChip::SaveChip(ChipKind kind, ChipTiming timing)
    : kind_(kind),
      params_(chip_info(kind)),
      memory_(params_.size, 0xFF),
      timing_(timing),
      program_ns_(params_.program.of(timing)),
      latch_(params_.page, 0xFF),
      latch_loaded_(params_.page, false) {}

SaveChip::~SaveChip() = default;

void SaveChip::fill(const std::vector<uint8_t>& contents) {
    if (contents.size() != memory_.size())
        throw std::invalid_argument(std::string("contents of ") + std::to_string(contents.size()) +
                                    " bytes for a " + chip_kind_name(kind_) + " of " +
                                    std::to_string(memory_.size()) + " bytes");
    memory_ = contents;
    if (file_) std::copy(memory_.begin(), memory_.end(), file_->data());
}

void SaveChip::attach_file(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f) {
        std::fclose(f);
    } else if (errno != ENOENT) {
        throw std::runtime_error("cannot read cartridge file " + path + ": " + errno_text());
    } else {
        // A missing file is a blank chip, on the disk from the start.
        f = std::fopen(path.c_str(), "wb");
        std::vector<uint8_t> blank(memory_.size(), 0xFF);
        bool ok = f && std::fwrite(blank.data(), 1, blank.size(), f) == blank.size();
        std::string reason = ok ? "" : errno_text();
        if (f && std::fclose(f) != 0 && ok) {
            ok = false;
            reason = errno_text();
        }
        if (!ok) throw std::runtime_error("cannot write cartridge file " + path + ": " + reason);
    }
    auto file = std::make_unique<MappedFile>(path);
    if (file->size() != memory_.size())
        throw std::runtime_error("cartridge file " + path + " is not the size of a " +
                                 chip_kind_name(kind_) + " (" + std::to_string(memory_.size()) +
                                 " bytes): it holds " + std::to_string(file->size()));
    memory_.assign(file->data(), file->data() + file->size());
    file_ = std::move(file);
}

void SaveChip::pull_at(uint64_t time_ns) { pull_ns_ = time_ns; }

void SaveChip::add_stuck_bits(uint32_t address, uint8_t mask) {
    if (address >= memory_.size())
        throw std::invalid_argument("stuck-bit address " + std::to_string(address) +
                                    " is beyond the " + std::to_string(memory_.size()) +
                                    "-byte memory");
    if (stuck_mask_.empty()) stuck_mask_.assign(memory_.size(), 0);
    stuck_mask_[address] |= mask;
}

void SaveChip::set_erase_hang(bool hang) { erase_hang_ = hang; }

void SaveChip::set_program_time_us(uint32_t us) { program_ns_ = uint64_t{us} * NS_PER_US; }

void SaveChip::set_drop_writes(bool drop) { drop_writes_ = drop; }

// Pulled and pushed back in: the supply fell below the power-on reset threshold and rose
// again. The data sheets give the state a part is in then ("Power-up and delivery state",
// M95512 DS4192 and M95640 DocID16877; "Power-up and power-down", M45PE80 and KH25L8005
// PM1307): deselected, the write enable latch reset, and "a falling edge is required on
// Chip Select (S) before any instruction can be started": a command under way is lost
// with the rest of its bits, and the chip drives nothing until select has risen and
// fallen again. A write or erase cycle still running lost its supply: it never completes
// and the memory is left as it was, as with a pull.
void SaveChip::reinsert(uint64_t now_ns) {
    settle(now_ns);  // a cycle that ended before the pull is in the memory
    cycle_open_ = false;
    wel_ = false;
    phase_ = Phase::idle;
    op_ = Op::none;
    bits_ = 0;
    out_bits_left_ = 0;
    out_level_ = -1;
    powering_up_ = !lines_.select;
}

uint8_t SaveChip::status(uint64_t now_ns) {
    return static_cast<uint8_t>((busy(now_ns) ? SR_WIP : 0) | (wel_ ? SR_WEL : 0));
}

bool SaveChip::busy(uint64_t now_ns) {
    settle(now_ns);
    return cycle_open_;
}

void SaveChip::store(uint32_t address, uint8_t value) {
    uint8_t keep = stuck_mask_.empty() ? 0 : stuck_mask_[address];
    memory_[address] = static_cast<uint8_t>((memory_[address] & keep) | (value & ~keep));
    if (file_) file_->data()[address] = memory_[address];
}

// Applies the running cycle once its time is over. A cartridge pulled before the end of a
// cycle lost its power: the cycle never completes and the memory is left as it was.
void SaveChip::settle(uint64_t now_ns) {
    if (!cycle_open_) return;
    if (cycle_end_ns_ > pull_ns_ && now_ns >= pull_ns_) {
        cycle_open_ = false;
        return;
    }
    if (cycle_end_ns_ == NEVER || now_ns < cycle_end_ns_) return;
    cycle_open_ = false;
    wel_ = false;
    if (drop_writes_) return;
    switch (cycle_kind_) {
    case ChipCycle::Kind::page_program:
    case ChipCycle::Kind::eeprom_write:
        for (uint32_t i = 0; i < params_.page; ++i) {
            if (!latch_loaded_[i]) continue;
            uint32_t address = cycle_address_ + i;
            // FLASH programming can only clear bits; an EEPROM write sets the byte.
            uint8_t value = params_.flash ? (memory_[address] & latch_[i]) : latch_[i];
            store(address, value);
        }
        break;
    case ChipCycle::Kind::sector_erase:
    case ChipCycle::Kind::chip_erase:
        for (uint32_t i = 0; i < cycle_count_; ++i) store(cycle_address_ + i, 0xFF);
        break;
    }
}

void SaveChip::finish() {
    if (cycle_open_ && cycle_end_ns_ != NEVER) settle(cycle_end_ns_);
}

void SaveChip::start_cycle(ChipCycle::Kind kind, uint32_t address, uint32_t count,
                           uint64_t duration, uint64_t now_ns) {
    bool erase = kind == ChipCycle::Kind::sector_erase || kind == ChipCycle::Kind::chip_erase;
    cycle_open_ = true;
    cycle_kind_ = kind;
    cycle_end_ns_ = (erase && erase_hang_) ? NEVER : now_ns + duration;
    if (erase) {
        cycle_address_ = address;
        cycle_count_ = count;
    }
    cycles_.push_back({kind, address, count, now_ns, cycle_end_ns_});
}

// Most edges fall inside a byte, with the chip selected and no cycle running: a bit
// clocked in, or the next bit presented. They take the short way; every other change
// of the lines the full one.
void SaveChip::drive(BusLines lines, uint64_t now_ns) {
    if (!cycle_open_ && !lines.select && !lines_.select && !pulled(now_ns) && !powering_up_) {
        bool rising = !lines_.clock && lines.clock, falling = lines_.clock && !lines.clock;
        bool inside_byte = rising ? (bits_ + 1) % 8 != 0
                                  : !falling || phase_ != Phase::output ||
                                        (out_bits_left_ != 0 && op_ != Op::rdsr);
        if (inside_byte) {
            lines_ = lines;
            if (rising) {
                clock_in(lines.data);
            } else if (falling && phase_ == Phase::output) {
                present_next_bit();
            }
            return;
        }
    }
    drive_edge(lines, now_ns);
}

void SaveChip::drive_edge(BusLines lines, uint64_t now_ns) {
    if (cycle_open_) settle(now_ns);
    BusLines prev = lines_;
    lines_ = lines;
    if (pulled(now_ns)) {
        phase_ = Phase::idle;
        out_level_ = -1;
        return;
    }
    if (powering_up_) {
        powering_up_ = !lines.select;
        return;
    }
    if (prev.select && !lines.select) {
        phase_ = Phase::opcode;
        op_ = Op::none;
        bits_ = 0;
        out_bits_left_ = 0;
        out_level_ = -1;
    } else if (!prev.select && lines.select) {
        end_command(now_ns);
        return;
    }
    if (lines.select) return;
    if (!prev.clock && lines.clock) {
        clock_in(lines.data);
        if (bits_ % 8 == 0) take_byte(in_byte_, now_ns);
    } else if (prev.clock && !lines.clock && phase_ == Phase::output) {
        if (out_bits_left_ == 0) {
            if (op_ == Op::rdid && id_index_ == 3) {
                // Nothing follows the three identification bytes: the output floats.
                phase_ = Phase::ignore;
                out_level_ = -1;
                return;
            }
            out_byte_ = next_output_byte(now_ns);
            out_bits_left_ = 8;
        } else if (op_ == Op::rdsr) {
            // The status register is shifted out as it stands at each bit, so a poll
            // sees write-in-progress drop the moment the cycle ends.
            out_byte_ = status(now_ns);
        }
        present_next_bit();
    }
}

int SaveChip::output(uint64_t now_ns) {
    if (cycle_open_) settle(now_ns);
    if (pulled(now_ns) || lines_.select || powering_up_) return -1;
    return out_level_;
}

void SaveChip::take_byte(uint8_t byte, uint64_t now_ns) {
    switch (phase_) {
    case Phase::opcode: {
        uint8_t code = byte;
        uint32_t high_address = 0;
        if (params_.address_bytes == 1) {
            // Address bit 8 travels in bit 3 of the instruction; the bit is "don't care"
            // in the instructions that take no address.
            high_address = (byte & CMD_A8) ? 1 : 0;
            code = static_cast<uint8_t>(byte & ~CMD_A8);
        }
        phase_ = Phase::ignore;
        if (busy(now_ns) && code != CMD_RDSR) return;
        switch (code) {
        case CMD_WREN: op_ = Op::wren; break;
        case CMD_WRDI: op_ = Op::wrdi; break;
        case CMD_RDSR:
            op_ = Op::rdsr;
            phase_ = Phase::output;
            break;
        case CMD_RDID:
            if (!params_.flash) break;
            op_ = Op::rdid;
            id_index_ = 0;
            phase_ = Phase::output;
            break;
        case CMD_READ:
        case CMD_WRITE:
            if (code == CMD_WRITE && !wel_) break;
            op_ = code == CMD_READ ? Op::read : Op::write;
            address_ = high_address;
            address_left_ = params_.address_bytes;
            phase_ = Phase::address;
            break;
        default:
            erase_ = erase_instruction(params_, code);
            if (erase_ == nullptr || !wel_) break;
            op_ = Op::erase;
            if (erase_->size != 0) {
                address_ = 0;
                address_left_ = params_.address_bytes;
                phase_ = Phase::address;
            }
            break;
        }
        break;
    }
    case Phase::address:
        address_ = (address_ << 8) | byte;
        if (--address_left_ > 0) break;
        address_ %= params_.size;
        if (op_ == Op::read) {
            phase_ = Phase::output;
        } else if (op_ == Op::write) {
            phase_ = Phase::data;
            cycle_address_ = address_ & ~(params_.page - 1);
            data_start_ = address_ & (params_.page - 1);
            data_bytes_ = 0;
            std::fill(latch_loaded_.begin(), latch_loaded_.end(), false);
        } else {
            phase_ = Phase::ignore;
        }
        break;
    case Phase::data: {
        // The address wraps inside the page; a later byte for the same place replaces
        // the earlier one: "If the address counter exceeds the page boundary ..., the
        // internal address pointer rolls over to the beginning of the same page where
        // next data bytes will be written. If more than 128 byte are received, only the
        // last 128 byte are written" (M95512-A125 data sheet, 4.6 Write to Memory Array
        // (WRITE); the M95128/M95256 sheet, Page Write Operation, alike).
        uint32_t offset = (data_start_ + data_bytes_) % params_.page;
        latch_[offset] = byte;
        latch_loaded_[offset] = true;
        ++data_bytes_;
        break;
    }
    case Phase::idle:
    case Phase::output:
    case Phase::ignore: break;
    }
}

uint8_t SaveChip::next_output_byte(uint64_t now_ns) {
    switch (op_) {
    case Op::read: {
        uint8_t value = memory_[address_];
        address_ = (address_ + 1) % params_.size;
        return value;
    }
    case Op::rdsr: return status(now_ns);
    case Op::rdid: return static_cast<uint8_t>(params_.id >> (8 * (2 - id_index_++)));
    default: return 0xFF;
    }
}

// Select rose: commands that change the chip act now, and only when select rose on a byte
// boundary right after the last byte they take.
void SaveChip::end_command(uint64_t now_ns) {
    bool whole = bits_ % 8 == 0;
    uint32_t bytes = bits_ / 8;
    switch (op_) {
    case Op::wren:
        if (whole && bytes == 1) wel_ = true;
        break;
    case Op::wrdi:
        if (whole && bytes == 1) wel_ = false;
        break;
    case Op::write:
        if (whole && phase_ == Phase::data && data_bytes_ > 0)
            start_cycle(
                params_.flash ? ChipCycle::Kind::page_program : ChipCycle::Kind::eeprom_write,
                cycle_address_ + data_start_, data_bytes_, program_ns_, now_ns);
        break;
    case Op::erase:
        if (erase_->size == 0) {
            if (whole && bytes == 1)
                start_cycle(ChipCycle::Kind::chip_erase, 0, params_.size, erase_->time.of(timing_),
                            now_ns);
        } else if (whole && bytes == 1 + static_cast<uint32_t>(params_.address_bytes)) {
            start_cycle(ChipCycle::Kind::sector_erase, address_ & ~(erase_->size - 1), erase_->size,
                        erase_->time.of(timing_), now_ns);
        }
        break;
    default: break;
    }
    phase_ = Phase::idle;
    op_ = Op::none;
    out_level_ = -1;
}

namespace {

// SplitMix64 (Steele, Lea and Flood, "Fast splittable pseudorandom number generators",
// OOPSLA 2014): a well mixed 64-bit value for each input.
uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

// A new output bit is presented after each falling clock edge and each change of select:
// each such bit period draws its own verdict.
void FlakyContacts::drive(BusLines lines, uint64_t now_ns) {
    if (lines.select != lines_.select || (lines_.clock && !lines.clock)) {
        ++period_;
        flip_ = mix(seed_ ^ mix(period_)) % 1000000 < ppm_;
        counted_ = false;
    }
    lines_ = lines;
    if (inner_) inner_->drive(lines, now_ns);
}

int FlakyContacts::output(uint64_t now_ns) {
    int level = inner_ ? inner_->output(now_ns) : -1;
    if (level < 0 || !flip_) return level;
    if (!counted_) ++flipped_;
    counted_ = true;
    return level ^ 1;
}

}  // namespace emu
