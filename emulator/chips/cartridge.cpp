#include "chips/cartridge.h"

#include "chips/save_chip.h"

namespace emu {

namespace {

constexpr char NONE_NAME[] = "none";

// A cartridge without a save chip: nothing ever drives the data line.
class NoChip : public Cartridge {
public:
    void drive(BusLines, uint64_t) override {}
    int output(uint64_t) override { return -1; }
};

}  // namespace

const char* chip_kind_name(ChipKind kind) {
    return kind == ChipKind::none ? NONE_NAME : chip_info(kind).name;
}

bool parse_chip_kind(const std::string& name, ChipKind& kind) {
    if (name == NONE_NAME) {
        kind = ChipKind::none;
        return true;
    }
    for (const ChipInfo& chip : chip_table()) {
        if (name == chip.name) {
            kind = chip.kind;
            return true;
        }
    }
    return false;
}

uint32_t chip_size(ChipKind kind) { return kind == ChipKind::none ? 0 : chip_info(kind).size; }

std::unique_ptr<Cartridge> make_cartridge(ChipKind kind) {
    if (kind == ChipKind::none) return std::make_unique<NoChip>();
    return std::make_unique<SaveChip>(kind);
}

}  // namespace emu
