#include "chips/cartridge.h"

#include "chips/save_chip.h"

namespace emu {

namespace {

struct KindName {
    ChipKind kind;
    const char* name;
    uint32_t size;
};

constexpr KindName kKinds[] = {
    {ChipKind::le25fw203, "le25fw203", 0x40000}, {ChipKind::m45pe20, "m45pe20", 0x40000},
    {ChipKind::m95040, "m95040", 0x200},         {ChipKind::m95640, "m95640", 0x2000},
    {ChipKind::m95512, "m95512", 0x10000},       {ChipKind::none, "none", 0},
};

// A cartridge without a save chip: nothing ever drives the data line.
class NoChip : public Cartridge {
public:
    void drive(BusLines, uint64_t) override {}
    int output(uint64_t) override { return -1; }
};

}  // namespace

const char* chip_kind_name(ChipKind kind) {
    for (const auto& k : kKinds)
        if (k.kind == kind) return k.name;
    return "?";
}

bool parse_chip_kind(const std::string& name, ChipKind& kind) {
    for (const auto& k : kKinds) {
        if (name == k.name) {
            kind = k.kind;
            return true;
        }
    }
    return false;
}

uint32_t chip_size(ChipKind kind) {
    for (const auto& k : kKinds)
        if (k.kind == kind) return k.size;
    return 0;
}

std::unique_ptr<Cartridge> make_cartridge(ChipKind kind) {
    if (kind == ChipKind::none) return std::make_unique<NoChip>();
    return std::make_unique<SaveChip>(kind);
}

}  // namespace emu
