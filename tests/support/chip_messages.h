// What the tool prints when it identifies a save chip of the emulator's table, built from
// the chip's row: the tests name each part by its row, never by a copy of its maker, part,
// size or identification.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "chips/chip_table.h"

inline const std::string ID_CHECK = "メモリIDをチェックします\n";
inline const std::string NO_ID = ID_CHECK + "メモリID=FFFFFF\n";
inline const std::string PROBE = "セーブ用メモリの先頭部分を読み込んで、セーブ方式を判別します\n";
// The first identification of an infrared cartridge: its transceiver's silence.
inline const std::string INFRARED =
    ID_CHECK +
    "メモリID=000000\n未知のシリアルFLASHメモリです\n赤外線通信機能付きのカートリッジです\n";

// The line naming the part, its maker and its capacity in bits ("2Mbit", "4kbit"), with the
// ending of a part identified ("です") or assumed from a file's size ("と仮定").
inline std::string part_line(const emu::ChipInfo& chip, const std::string& ending = "です") {
    const uint32_t kbit = chip.size / 128;
    const std::string bits =
        kbit >= 1024 ? std::to_string(kbit / 1024) + "Mbit" : std::to_string(kbit) + "kbit";
    return std::string(chip.flash ? "シリアルFLASHメモリ " : "シリアルEEPROM ") + chip.vendor +
           "製 " + chip.part + " " + bits + ending + "\n";
}
inline std::string part_line(emu::ChipKind kind, const std::string& ending = "です") {
    return part_line(emu::chip_info(kind), ending);
}

// The identification lines of a chip holding data at its start: a FLASH part by its answer
// to RDID (behind the transceiver of an infrared cartridge on the second try), an EEPROM,
// which has no RDID, by the probes.
inline std::string identified(const emu::ChipInfo& chip, bool infrared = false) {
    if (!chip.flash) return NO_ID + PROBE + part_line(chip);
    char id_line[32];
    std::snprintf(id_line, sizeof id_line, "メモリID=%06X\n", static_cast<unsigned>(chip.id));
    return (infrared ? INFRARED : std::string()) + ID_CHECK + id_line + part_line(chip);
}
inline std::string identified(emu::ChipKind kind, bool infrared = false) {
    return identified(emu::chip_info(kind), infrared);
}
