// What healthy runs of pelkat-emu print, and how to compare it: the end-to-end tests on
// every platform build their expected outputs from here.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

inline const std::string kBanner = "<<< Pelkat Ver1.3 by T.Quelm >>>\n\n";
inline const std::string kKey = "[ 何かキーを押して下さい ]\n";
inline const std::string kEnd = "終了しました。\n" + kKey;
inline const std::string kNoId = "メモリIDをチェックします\nメモリID=FFFFFF\n";
inline const std::string kProbe = "セーブ用メモリの先頭部分を読み込んで、セーブ方式を判別します\n";
inline const std::string kBackup = "カートリッジデータ読み込み中です...\n";
inline const std::string kBackedUp = "バックアップしました(backup.txt, backup.sav)\n";
inline const std::string kVerify = "書き込み結果をベリファイします\n" + kBackup;
inline const std::string kGood = "正しく書き込まれています\n";
inline const char kDots = '\x01';  // in an expected text: one or more progress dots

struct Chip {
    const char* name;
    uint32_t size;
    std::string identified;  // the identification lines of a chip holding data at 0
};

inline const Chip kLe25 = {
    "le25fw203", 0x40000,
    "メモリIDをチェックします\nメモリID=621600\nシリアルFLASHメモリ SANYO製 LE25FW203 2Mbitです\n"};
inline const Chip kM45 = {"m45pe20", 0x40000,
                          "メモリIDをチェックします\nメモリID=204012\n"
                          "シリアルFLASHメモリ STMicroelectronics製 M45PE20 2Mbitです\n"};
inline const Chip kM95040 = {
    "m95040", 0x200, kNoId + kProbe + "シリアルEEPROM STMicroelectronics製 M95040 4kbitです\n"};
inline const Chip kM95640 = {
    "m95640", 0x2000, kNoId + kProbe + "シリアルEEPROM STMicroelectronics製 M95640 64kbitです\n"};
inline const Chip kM95512 = {
    "m95512", 0x10000, kNoId + kProbe + "シリアルEEPROM STMicroelectronics製 M95512 512kbitです\n"};

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
inline const std::string kReadAgain = "確認のため、もう一度読み込みます...\n";
inline std::string two_reads(uint32_t total) {
    return progress(total) + kReadAgain + progress(total);
}

// The percentage lines of a streamed write, after each 64-byte packet.
inline std::string write_progress(uint32_t total) {
    std::string text;
    for (uint32_t sent = 128; sent <= total; sent += 128)
        text += format("(%4.1f%%)\r", sent * 100.0 / total);
    return text;
}

// Every FLASH part is 256 KiB or more, every EEPROM 64 KiB or less.
inline bool is_flash(const Chip& chip) { return chip.size >= 0x40000; }

// One line for each 64 KiB sector.
inline std::string erase_lines(const Chip& chip) {
    std::string text = "フラッシュメモリの消去を開始します\n";
    for (uint32_t s = 0; s < chip.size / 0x10000; s++)
        text += "Sector " + std::to_string(s) + " erase " + kDots + "\n";
    return text;
}

// Compares an expected text in which kDots stands for a run of one or more dots.
inline ::testing::AssertionResult same_output(const std::string& expected,
                                              const std::string& actual) {
    size_t e = 0, a = 0;
    while (e < expected.size() && a < actual.size()) {
        if (expected[e] == kDots) {
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
    return kBanner + chip.identified + "カートリッジデータの読み込み中です...\n" +
           two_reads(chip.size) + "保存しました(savedata.txt, savedata.sav)\n" + kEnd;
}

inline std::string write_run_output(const Chip& chip, const std::string& name, bool text_file) {
    std::string expected = kBanner +
                           (text_file ? "テキストファイル(" + name + ")を読み込みます\n"
                                      : "バイナリファイル(" + name + ")を読み込みます\n") +
                           "ファイル(" + name + ")を読み込みました\n" + chip.identified +
                           "カートリッジに書き込みする前にバックアップします\n" + kBackup +
                           two_reads(chip.size) + kBackedUp;
    if (is_flash(chip))
        expected +=
            "書き込み前に、フラッシュメモリの消去を行います\nカートリッジデータ消去中です...\n" +
            erase_lines(chip) + "データ消去完了、書き込みを開始します\n" +
            write_progress(chip.size) + "書き込み完了\n";
    else
        expected += "カートリッジデータ書き込み中です...\n" + progress(chip.size);
    return expected + kVerify + progress(chip.size) + kGood + kEnd;
}

inline std::string erase_run_output(const Chip& chip) {
    return kBanner + chip.identified + "カートリッジデータを消去する前にバックアップします\n" +
           kBackup + two_reads(chip.size) + kBackedUp + "カートリッジデータ消去中です...\n" +
           (is_flash(chip) ? erase_lines(chip) : progress(chip.size)) + kBackup +
           progress(chip.size) + "正しく消去されています\n" + kEnd;
}
