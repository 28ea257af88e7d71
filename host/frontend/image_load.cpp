#include "frontend/console_services.h"
#include "frontend/image_files.h"
#include "frontend/image_parse.h"
#include "platform/console.h"

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
    case IMAGE_READ_FAILED:
    case IMAGE_OK: con_printf("Error: ファイルを読み込めませんでした(%s)\n", path); break;
    }
    fail_run();
}

}  // namespace

void load_image_file(const char* path) {
    bool text = false;
    long long detail = 0;
    ImageError error = decide_image_format(path, &text);
    if (error == IMAGE_OK) {
        con_printf(
            text ? "テキストファイル(%s)を読み込みます\n" : "バイナリファイル(%s)を読み込みます\n",
            path);
        error = text ? read_text_dump(path, &detail) : read_binary_file(path, &detail);
    }
    if (error != IMAGE_OK) report_load_error(error, path, detail);
    con_printf("ファイル(%s)を読み込みました\n", path);
}
