#include "frontend/help.h"

#include "platform/console.h"

namespace {

const char VERSION[] = PELKAT_VERSION;  // the project's version, given by the build

}  // namespace

void print_banner() {
    con_printf("<<< Pelkat Ver%s by T.Quelm >>>\n", VERSION);
    con_printf("\n");
}

void print_usage() {
    con_printf("Usage: pelkat       ... read\n");
    con_printf("       pelkat file  ... write\n");
    con_printf("       pelkat -e    ... erase\n");
}

// One message per paragraph, each a unit of the translations.
void print_help() {
    print_usage();
    con_print("       pelkat --help | --version\n\n");
    con_print(
        "読み込み: セーブメモリを識別し、カレントフォルダのsavedata.txtと\n"
        "  savedata.savに保存します。\n"
        "書き込み: fileをセーブメモリに書き込み、読み戻して照合します。\n"
        "  書き込む前に、fileのフォルダにbackup.txtとbackup.savとして\n"
        "  バックアップを取ります。\n"
        "消去(-eまたは-E): カレントフォルダにバックアップを取ってから、\n"
        "  全バイトを0xFFにして照合します。\n"
        "オプションと同じ名前のファイルは ./--help のように指定してください。\n\n");
    con_print(
        "ファイルの形式(大きさはセーブメモリと同じ):\n"
        "  .txt  テキストダンプ: 16バイトごとに1行、16進数のアドレスと\n"
        "        16個の16進数\n"
        "  .sav  バイナリ: アドレス0からのメモリの内容そのまま\n"
        "  ほかの名前は内容で判断します(先頭16バイトが表示できるASCII文字なら\n"
        "  テキストダンプ)。\n\n");
    con_print("終了コード: 0 終了した、またはEZ-USBが見つからなかった、1 そのほかのエラー\n");
}

void print_version() { con_printf("pelkat %s\n", VERSION); }
