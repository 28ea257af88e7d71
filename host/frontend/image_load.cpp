#include <cstring>

#include "frontend/image_files.h"
#include "frontend/image_parse.h"
#include "platform/console.h"
#include "run/console_services.h"
#include "run/run_state.h"

namespace {

[[noreturn]] void report_load_error(ImageError error, const char* path, long long detail) {
    switch (error) {
    case IMAGE_NOT_FOUND: con_printf("Error: ファイルが見つかりません(%s)\n", path); break;
    case IMAGE_NOT_REGULAR: con_printf("Error: 通常のファイルではありません(%s)\n", path); break;
    case IMAGE_BAD_FORMAT:
        con_printf("Error: ファイルの形式が違います(%d)\n", static_cast<int>(detail));
        break;
    case IMAGE_BAD_ADDRESS:
        con_printf("Error: アドレスが大き過ぎです(%d)\n", static_cast<int>(detail));
        break;
    case IMAGE_TOO_LARGE: con_printf("Error: ファイルが大き過ぎです(%lld)\n", detail); break;
    case IMAGE_BAD_CONTAINER: con_printf("Error: セーブファイルが壊れています(%s)\n", path); break;
    case IMAGE_READ_FAILED:
    case IMAGE_OK: con_printf("Error: ファイルを読み込めませんでした(%s)\n", path); break;
    }
    fail_run();
}

// The line that names a save file of an emulator or a cheat device, by its format.
const char* container_line(ImageFormat format) {
    switch (format) {
    case FORMAT_DESMUME: return "DeSmuME形式のセーブファイルです\n";
    case FORMAT_NOCASH: return "no$gba形式のセーブファイルです\n";
    case FORMAT_ACTION_REPLAY: return "Action Replay形式のセーブファイルです\n";
    default: return "";
    }
}

bool loaded_text_dump;  // padding is looked for in the binary formats alone

}  // namespace

void load_image_file(const char* path) {
    ImageFormat format = FORMAT_RAW;
    long long detail = 0;
    ImageError error = decide_image_format(path, &format);
    if (error == IMAGE_OK) {
        loaded_text_dump = format == FORMAT_TEXT_DUMP;
        con_printf(loaded_text_dump ? "テキストファイル(%s)を読み込みます\n"
                                    : "バイナリファイル(%s)を読み込みます\n",
                   path);
        con_print(container_line(format));
        if (format == FORMAT_TEXT_DUMP)
            error = read_text_dump(path, &detail);
        else if (format == FORMAT_RAW)
            error = read_binary_file(path, &detail);
        else
            error = read_container(path, format, &detail);
    }
    if (error != IMAGE_OK) report_load_error(error, path, detail);
    con_printf("ファイル(%s)を読み込みました\n", path);
}

void drop_padding(int size) {
    if (loaded_text_dump || !only_padding_beyond(size)) return;
    std::memset(image_buffer + size, 0xFF, (size_t)(data_length - size));
    data_length = size;
    con_printf("余白を除いたセーブファイルです\n");
}
