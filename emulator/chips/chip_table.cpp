#include "chips/chip_table.h"

#include <iterator>
#include <stdexcept>

namespace emu {

namespace {

constexpr uint64_t NS_PER_US = 1000;
constexpr uint64_t NS_PER_MS = 1000 * NS_PER_US;
constexpr uint64_t NS_PER_S = 1000 * NS_PER_MS;

constexpr uint8_t SE = 0xD8, PE = 0xDB, SE4K = 0x20, BE52 = 0x52, CE60 = 0x60, CE = 0xC7;

// Timings are typical / maximum, as the makers publish them.
//
// LE25FW203A (SANYO): its own data sheet was not at hand; the LE25FW family's figures are
//   used: LE25FW106 and LE25FW406 preliminary data sheets (Rev 2.1, May 2004; Rev 2.3,
//   Sep 2004), feature list: page program 1.5 ms / 2.5 ms per 256 bytes, sector erase
//   25 ms / 0.5 s, chip erase 250 ms (LE25FW406; 100 ms on the LE25FW106) / 5 s.
// LE25FW403A (SANYO): "4M-bit (512Kx8) Serial Flash Memory", EN*A1229A: 512 KiB, 256-byte
//   pages, 64 KiB sectors, chip erase, 1.5 ms typical for a page; the maxima are the
//   family's (above). RDID 62h, 11h and a dummy 00h (flashrom's chip list, SANYO_LE25FW403A).
// M45PE20, M45PE40, M45PE80 (ST, later Numonyx): 256-byte pages, 64 KiB sectors (SE D8h),
//   page erase (PE DBh), no bulk erase at all: C7h and 60h are not in their instruction
//   sets. Page program 0.8 ms typical in the 2007-2008 editions (M45PE20 Rev 6, M45PE40
//   Rev 8/9, M45PE80 Rev 9/11), 1.2 ms in the 2004-2005 ones (the slower is taken); the
//   maxima of that generation as ST's M45PE80 sheet gives them (Free Model Foundry's
//   m45pe80 timing model, 2004; ST's M25PE10 simulation model parameters, 2005): page
//   program 5 ms, page erase 10 ms / 20 ms, sector erase 1 s / 5 s. RDID 20h, 40h, 12h /
//   13h / 14h ("JEDEC standard two-byte signature").
// MX25L2005, MX25L4005, MX25L8005 (Macronix): KH25L8005 data sheet, PM1307 Rev 1.1
//   (Dec 2007), the same die family: page program 1.4 ms / 5 ms, 4 KiB sector erase (20h)
//   60 ms / 120 ms, 64 KiB block erase (D8h; 52h also erases 64 KiB on these) 1 s / 2 s,
//   chip erase 60h and C7h; its chip erase time was not in the reachable part, so it is
//   modeled as every block's erase in turn. RDID C2h, 20h, 12h / 13h / 14h (flashrom).
// MX25L6445E (Macronix): data sheet PM1736 Rev 1.8 (Dec 2011), 8 MiB, 256-byte pages,
//   erases 20h (4 KiB), 52h (32 KiB), D8h (64 KiB), 60h and C7h (chip); RDID C2h, 20h,
//   17h (GBATEK "DS Cartridge Backup": Art Academy). Its performance table was not
//   reached: the typical figures are those of Macronix's behaviour models of its closest
//   siblings, the MX25L12845E of the same generation (model rev 1.12 after its data sheet
//   Rev 1.2, Oct 2009: page program 1.4 ms, 4 KiB 60 ms, 32 KiB 0.5 s, 64 KiB 0.7 s) and
//   the 64 Mbit MX25L6405D with the same RDID (model after its Rev 1.1, May 2008: chip
//   erase 50 s); the maxima are the KH25L8005's (above), the chip erase's every block's.
// M95040, M95640, M95512 (ST): "Byte and Page Write within 5 ms" (M950x0 DocID6512 Rev 13,
//   Aug 2014; M95640 DocID16877 Rev 19, Feb 2016, and Rev 10, June 2008; M95512 DS4192
//   Rev 24, Sep 2021; AC characteristics, tW max 5 ms). No typical write time is published,
//   so the model takes the guaranteed 5 ms for both. Pages of 16, 32 and 128 bytes. (The
//   November 2003 M95640 edition also lists 10 ms parts among its ordering options.)
// M95M01 (ST): the 1 Mbit EEPROM of DS cartridges (GBATEK "DS Cartridge Backup"). M95M01-R
//   and M95M01-DF data sheets (features, instructions, AC characteristics): 128 KiB,
//   256-byte pages, 24-bit addresses (the bits above A16 don't care), "Byte and Page
//   Write within 5 ms" (tW max; no typical figure, so 5 ms for both), WREN, WRDI, RDSR,
//   WRSR, READ and WRITE only: no RDID (9Fh), no erase instruction; a READ goes on past
//   the highest address at address 0 and a WRITE wraps inside its page.
// Infrared: the M45PE80 sits behind the infrared transceiver of Walk with Me (GBATEK
//   "DS Cart Infrared Component Lists", U4 "45PE80VG").
constexpr Duration LE25_PROGRAM{1500 * NS_PER_US, 2500 * NS_PER_US};
constexpr EraseInstruction LE25_SECTOR{SE, 0x10000, {25 * NS_PER_MS, 500 * NS_PER_MS}};
constexpr EraseInstruction LE25_CHIP{CE, 0, {250 * NS_PER_MS, 5 * NS_PER_S}};
constexpr Duration M45_PROGRAM{1200 * NS_PER_US, 5 * NS_PER_MS};
constexpr EraseInstruction M45_SECTOR{SE, 0x10000, {1 * NS_PER_S, 5 * NS_PER_S}};
constexpr EraseInstruction M45_PAGE{PE, 256, {10 * NS_PER_MS, 20 * NS_PER_MS}};
constexpr Duration MX_PROGRAM{1400 * NS_PER_US, 5 * NS_PER_MS};
constexpr EraseInstruction MX_4K{SE4K, 0x1000, {60 * NS_PER_MS, 120 * NS_PER_MS}};
constexpr Duration MX05_BLOCK{1 * NS_PER_S, 2 * NS_PER_S};
constexpr Duration EEPROM_WRITE{5 * NS_PER_MS, 5 * NS_PER_MS};

// The MX25L..05 erases: 4 KiB, 64 KiB by 52h and D8h alike, and the chip by 60h or C7h,
// which takes as long as every block's erase in turn.
constexpr std::array<EraseInstruction, MAX_ERASE_INSTRUCTIONS> mx05_erases(uint32_t size) {
    const Duration chip{size / 0x10000 * MX05_BLOCK.typ_ns, size / 0x10000 * MX05_BLOCK.max_ns};
    return {MX_4K,
            {BE52, 0x10000, MX05_BLOCK},
            {SE, 0x10000, MX05_BLOCK},
            {CE60, 0, chip},
            {CE, 0, chip}};
}

constexpr Duration MX6445_CHIP{50 * NS_PER_S, 128 * 2 * NS_PER_S};

// One row per chip, as the rows stand.
// clang-format off
const ChipInfo CHIPS[] = {
    // kind, name, vendor, part, size, page, address bytes, flash, RDID, program,
    //   erase instructions, behind an infrared transceiver
    {ChipKind::le25fw203, "le25fw203", "SANYO", "LE25FW203", 0x40000, 256, 3, true, 0x621600,
     LE25_PROGRAM, {LE25_SECTOR, LE25_CHIP}, false},
    {ChipKind::m45pe20, "m45pe20", "STMicroelectronics", "M45PE20", 0x40000, 256, 3, true, 0x204012,
     M45_PROGRAM, {M45_SECTOR, M45_PAGE}, false},
    {ChipKind::m45pe40, "m45pe40", "STMicroelectronics", "M45PE40", 0x80000, 256, 3, true, 0x204013,
     M45_PROGRAM, {M45_SECTOR, M45_PAGE}, false},
    {ChipKind::m45pe80, "m45pe80", "STMicroelectronics", "M45PE80", 0x100000, 256, 3, true, 0x204014,
     M45_PROGRAM, {M45_SECTOR, M45_PAGE}, true},
    {ChipKind::le25fw403a, "le25fw403a", "SANYO", "LE25FW403A", 0x80000, 256, 3, true, 0x621100,
     LE25_PROGRAM, {LE25_SECTOR, LE25_CHIP}, false},
    {ChipKind::mx25l2005, "mx25l2005", "Macronix", "MX25L2005", 0x40000, 256, 3, true, 0xC22012,
     MX_PROGRAM, mx05_erases(0x40000), false},
    {ChipKind::mx25l4005, "mx25l4005", "Macronix", "MX25L4005", 0x80000, 256, 3, true, 0xC22013,
     MX_PROGRAM, mx05_erases(0x80000), false},
    {ChipKind::mx25l8005, "mx25l8005", "Macronix", "MX25L8005", 0x100000, 256, 3, true, 0xC22014,
     MX_PROGRAM, mx05_erases(0x100000), false},
    {ChipKind::mx25l6445e, "mx25l6445e", "Macronix", "MX25L6445E", 0x800000, 256, 3, true, 0xC22017,
     MX_PROGRAM,
     {MX_4K, {BE52, 0x8000, {500 * NS_PER_MS, 2 * NS_PER_S}}, {SE, 0x10000, {700 * NS_PER_MS, 2 * NS_PER_S}}, {CE60, 0, MX6445_CHIP},
      {CE, 0, MX6445_CHIP}},
     false},
    {ChipKind::m95040, "m95040", "STMicroelectronics", "M95040", 0x200, 16, 1, false, 0, EEPROM_WRITE, {}, false},
    {ChipKind::m95640, "m95640", "STMicroelectronics", "M95640", 0x2000, 32, 2, false, 0, EEPROM_WRITE, {}, false},
    {ChipKind::m95512, "m95512", "STMicroelectronics", "M95512", 0x10000, 128, 2, false, 0, EEPROM_WRITE, {},
     false},
    {ChipKind::m95m01, "m95m01", "STMicroelectronics", "M95M01", 0x20000, 256, 3, false, 0, EEPROM_WRITE, {},
     false},
};
// clang-format on

}  // namespace

ChipRange chip_table() { return {std::begin(CHIPS), std::end(CHIPS)}; }

const ChipInfo& chip_info(ChipKind kind) {
    for (const ChipInfo& chip : CHIPS)
        if (chip.kind == kind) return chip;
    throw std::invalid_argument("no save chip of kind none");
}

const EraseInstruction* erase_instruction(const ChipInfo& chip, uint8_t code) {
    for (const EraseInstruction& erase : chip.erases)
        if (erase.code != 0 && erase.code == code) return &erase;
    return nullptr;
}

std::string size_text(uint32_t bytes) {
    if (bytes >= 0x100000 && bytes % 0x100000 == 0)
        return std::to_string(bytes / 0x100000) + " MiB";
    if (bytes >= 0x400 && bytes % 0x400 == 0) return std::to_string(bytes / 0x400) + " KiB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace emu
