// POSIX console. The program's texts are Shift-JIS (CP932) and go out in the character
// set of the locale, whether standard output is a terminal, a file or a pipe: converted
// under a UTF-8 or EUC-JP locale, byte for byte under a Shift-JIS locale, the C and POSIX
// locales and any other (which could not show the Japanese text anyway). Only the
// program's own text is converted; what a format's %s puts in (a file name from the
// command line) is in the locale's character set already and goes out as it is.
// Where the locale's language has a catalog, its translation takes the text's place.
// A terminal gets every message unbuffered, files and pipes through stdio. The key wait
// switches a terminal to raw no-echo mode for one byte and restores it afterwards, also
// when a signal ends the process in between.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/translation.h"

namespace {

bool output_chosen;
bool to_terminal;
iconv_t converter = (iconv_t)-1;  // from CP932 to the locale's character set, when it differs
char converted[2048];
char text[4096];
bool output_failed;

bool codeset_is(const char* codeset, const char* const* names) {
    for (; *names != nullptr; ++names) {
        if (strcasecmp(codeset, *names) == 0) return true;
    }
    return false;
}

// The character sets that hold every message, under the names glibc and macOS give them.
const char* const converted_codesets[] = {"UTF-8", "utf8", "EUC-JP", "eucJP", nullptr};

void choose_output() {
    output_chosen = true;
    to_terminal = isatty(STDOUT_FILENO) != 0;
    const char* previous = setlocale(LC_CTYPE, nullptr);
    char saved[64];
    std::snprintf(saved, sizeof saved, "%s", previous ? previous : "C");
    if (setlocale(LC_CTYPE, "") != nullptr) {
        const char* codeset = nl_langinfo(CODESET);
        if (codeset_is(codeset, converted_codesets)) converter = iconv_open(codeset, "CP932");
    }
    setlocale(LC_CTYPE, saved);
}

// The program's text in the output's character set: its translation, the text itself,
// or its conversion in a buffer that the next call reuses. A byte that cannot be
// converted (or a lead byte without its second byte) is shown as '?'; a text too long
// for the buffer is cut short.
const char* program_text(const char* source) {
    if (!output_chosen) choose_output();
    const char* translation = translated(source);
    if (translation != source) return translation;  // in the locale's character set already
    if (converter == (iconv_t)-1) return source;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(source);
    size_t in_left = std::strlen(source);
    char* out = converted;
    size_t out_left = sizeof converted - 1;
    while (in_left > 0 && iconv(converter, &in, &in_left, &out, &out_left) == (size_t)-1) {
        if (errno == E2BIG || out_left == 0) break;
        *out++ = '?';  // EILSEQ or EINVAL: skip the byte
        --out_left;
        ++in;
        --in_left;
    }
    *out = '\0';
    return converted;
}

void write_all(const char* data, size_t length) {
    while (length > 0) {
        ssize_t done = write(STDOUT_FILENO, data, length);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            output_failed = true;
            return;
        }
        data += done;
        length -= static_cast<size_t>(done);
    }
}

void emit(const char* data, size_t length) {
    if (to_terminal) {
        write_all(data, length);
    } else {
        std::fwrite(data, 1, length, stdout);
    }
}

}  // namespace

void con_printf(const char* format, ...) {
    const char* own_format = program_text(format);
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, sizeof text, own_format, args);
    va_end(args);
    if (length < 0) return;
    emit(text,
         static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length) : sizeof text - 1);
}

void con_print(const char* program_message) {
    const char* own = program_text(program_message);
    emit(own, std::strlen(own));
}

void con_flush() { std::fflush(stdout); }

bool con_failed() { return output_failed || std::ferror(stdout); }

namespace {

termios saved_mode;
enum { RESTORING_SIGNALS = 4 };
const int restoring_signals[RESTORING_SIGNALS] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction saved_actions[RESTORING_SIGNALS];

// A signal that arrives during the key wait: the terminal gets its mode back, then the
// signal takes its usual course.
void restore_and_reraise(int signal_number) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
    for (int i = 0; i < RESTORING_SIGNALS; ++i) {
        if (restoring_signals[i] == signal_number)
            sigaction(signal_number, &saved_actions[i], nullptr);
    }
    raise(signal_number);
}

int read_byte() {
    unsigned char key;
    for (;;) {
        ssize_t done = read(STDIN_FILENO, &key, 1);
        if (done == 1) return key;
        if (done < 0 && errno == EINTR) continue;
        return -1;
    }
}

}  // namespace

int con_read_key() {
    std::fflush(stdout);
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_mode) != 0) return read_byte();

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = restore_and_reraise;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < RESTORING_SIGNALS; ++i)
        sigaction(restoring_signals[i], &action, &saved_actions[i]);

    termios raw = saved_mode;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    int key = read_byte();
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);

    for (int i = 0; i < RESTORING_SIGNALS; ++i)
        sigaction(restoring_signals[i], &saved_actions[i], nullptr);
    return key;
}
