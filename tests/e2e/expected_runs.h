// What healthy runs of pelkat-emu print, and how to compare it: the end-to-end tests on
// every platform build their expected outputs from here.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "chip_messages.h"

inline const std::string BANNER = "<<< Pelkat Ver1.3 by T.Quelm >>>\n\n";
inline const std::string KEY = "[ 何かキーを押して下さい ]\n";
inline const std::string END = "終了しました。\n" + KEY;
inline const std::string BACKUP = "カートリッジデータ読み込み中です...\n";
inline const std::string BACKED_UP = "バックアップしました(backup.txt, backup.sav)\n";
inline const std::string VERIFY = "書き込み結果をベリファイします\n" + BACKUP;
inline const std::string GOOD = "正しく書き込まれています\n";
inline const char DOTS = '\x01';  // in an expected text: one or more progress dots

struct Chip {
    std::string name;  // as --chip spells it
    uint32_t size;
    bool flash;
    std::string identified;  // the identification lines of a chip holding data at 0
};

// The chip of a --chip name, "ir-" before it for one behind an infrared transceiver, with
// the facts of the emulator's table.
inline Chip chip_named(const std::string& name) {
    const std::string infrared = "ir-";
    const bool behind = name.rfind(infrared, 0) == 0;
    const std::string plain = behind ? name.substr(infrared.size()) : name;
    for (const emu::ChipInfo& row : emu::chip_table())
        if (row.name == plain) return {name, row.size, row.flash, identified(row, behind)};
    throw std::invalid_argument("no chip named " + name);
}

inline const Chip LE25FW203 = chip_named("le25fw203");
inline const Chip M45PE20 = chip_named("m45pe20");
inline const Chip M95040 = chip_named("m95040");
inline const Chip M95640 = chip_named("m95640");
inline const Chip M95512 = chip_named("m95512");

inline std::string format(const char* spec, double value) {
    char text[64];
    std::snprintf(text, sizeof text, spec, value);
    return text;
}

// The percentage lines of a byte loop over positions 0 .. total - 1.
inline std::string progress(uint32_t total) {
    std::string text;
    for (uint32_t i = 0; total >= 256 && i < total; i += 128)
        text += format("(%4.1f%%)\r", i * 100.0 / total);
    return text;
}

// A memory read twice (for a backup or a read run), each read with its percentage lines.
inline const std::string READ_AGAIN = "確認のため、もう一度読み込みます...\n";
inline std::string two_reads(uint32_t total) {
    return progress(total) + READ_AGAIN + progress(total);
}

// The percentage lines of a streamed write, after each 64-byte packet.
inline std::string write_progress(uint32_t total) {
    std::string text;
    for (uint32_t sent = 128; sent <= total; sent += 128)
        text += format("(%4.1f%%)\r", sent * 100.0 / total);
    return text;
}

// One line for each 64 KiB sector.
inline std::string erase_lines(const Chip& chip) {
    std::string text = "フラッシュメモリの消去を開始します\n";
    for (uint32_t s = 0; s < chip.size / 0x10000; s++)
        text += "Sector " + std::to_string(s) + " erase " + DOTS + "\n";
    return text;
}

// Compares an expected text in which DOTS stands for a run of one or more dots.
inline ::testing::AssertionResult same_output(const std::string& expected,
                                              const std::string& actual) {
    size_t e = 0, a = 0;
    while (e < expected.size() && a < actual.size()) {
        if (expected[e] == DOTS) {
            if (actual[a] != '.') break;
            while (a < actual.size() && actual[a] == '.') a++;
            e++;
        } else if (expected[e] == actual[a]) {
            e++;
            a++;
        } else {
            break;
        }
    }
    if (e == expected.size() && a == actual.size()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "output differs at byte " << a
           << "\n  expected from there: " << ::testing::PrintToString(expected.substr(e, 120))
           << "\n  actual from there:   " << ::testing::PrintToString(actual.substr(a, 120));
}

// The whole output of a healthy run on a cartridge holding data, in a fresh folder.
inline std::string read_run_output(const Chip& chip) {
    return BANNER + chip.identified + "カートリッジデータの読み込み中です...\n" +
           two_reads(chip.size) + "保存しました(savedata.txt, savedata.sav)\n" + END;
}

inline std::string write_run_output(const Chip& chip, const std::string& name, bool text_file) {
    std::string expected = BANNER +
                           (text_file ? "テキストファイル(" + name + ")を読み込みます\n"
                                      : "バイナリファイル(" + name + ")を読み込みます\n") +
                           "ファイル(" + name + ")を読み込みました\n" + chip.identified +
                           "カートリッジに書き込みする前にバックアップします\n" + BACKUP +
                           two_reads(chip.size) + BACKED_UP;
    if (chip.flash)
        expected +=
            "書き込み前に、フラッシュメモリの消去を行います\nカートリッジデータ消去中です...\n" +
            erase_lines(chip) + "データ消去完了、書き込みを開始します\n" +
            write_progress(chip.size) + "書き込み完了\n";
    else
        expected += "カートリッジデータ書き込み中です...\n" + progress(chip.size);
    return expected + VERIFY + progress(chip.size) + GOOD + END;
}

inline std::string erase_run_output(const Chip& chip) {
    return BANNER + chip.identified + "カートリッジデータを消去する前にバックアップします\n" +
           BACKUP + two_reads(chip.size) + BACKED_UP + "カートリッジデータ消去中です...\n" +
           (chip.flash ? erase_lines(chip) : progress(chip.size)) + BACKUP + progress(chip.size) +
           "正しく消去されています\n" + END;
}
