// POSIX console: Shift-JIS text goes to files and pipes byte for byte; a terminal whose
// locale uses UTF-8 gets it converted, unbuffered. The key wait switches a terminal to
// raw no-echo mode for one byte and restores it afterwards, also when a signal ends the
// process in between.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/console.h"

namespace {

enum { OUTPUT_UNSET, OUTPUT_BYTES, OUTPUT_TERMINAL, OUTPUT_TERMINAL_UTF8 };
int output_kind = OUTPUT_UNSET;
iconv_t to_utf8 = (iconv_t)-1;
char text[4096];
char pending[2];  // the lead byte of a double-byte character cut off at the end of a call
size_t pending_length;
bool output_failed;

bool locale_uses_utf8() {
    const char* previous = setlocale(LC_CTYPE, nullptr);
    char saved[64];
    std::snprintf(saved, sizeof saved, "%s", previous ? previous : "C");
    bool utf8 = false;
    if (setlocale(LC_CTYPE, "") != nullptr) {
        const char* codeset = nl_langinfo(CODESET);
        utf8 = std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0;
    }
    setlocale(LC_CTYPE, saved);
    return utf8;
}

void choose_output() {
    output_kind = OUTPUT_BYTES;
    if (!isatty(STDOUT_FILENO)) return;
    output_kind = OUTPUT_TERMINAL;
    if (!locale_uses_utf8()) return;
    to_utf8 = iconv_open("UTF-8", "CP932");
    if (to_utf8 != (iconv_t)-1) output_kind = OUTPUT_TERMINAL_UTF8;
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

// Converts the Shift-JIS bytes to UTF-8 and writes them. A byte that has no UTF-8
// form is shown as '?'; a lead byte at the very end waits for its second byte.
void write_converted(const char* data, size_t length) {
    static char joined[sizeof text + sizeof pending];
    std::memcpy(joined, pending, pending_length);
    std::memcpy(joined + pending_length, data, length);
    char* in = joined;
    size_t in_left = pending_length + length;
    pending_length = 0;
    char out[1024];
    while (in_left > 0) {
        char* out_next = out;
        size_t out_left = sizeof out;
        size_t result = iconv(to_utf8, &in, &in_left, &out_next, &out_left);
        write_all(out, static_cast<size_t>(out_next - out));
        if (result != (size_t)-1 || errno == E2BIG) continue;
        if (errno == EINVAL && in_left < sizeof pending) {
            std::memcpy(pending, in, in_left);
            pending_length = in_left;
            return;
        }
        write_all("?", 1);  // EILSEQ: skip the byte that cannot be converted
        ++in;
        --in_left;
    }
}

}  // namespace

void con_printf(const char* format, ...) {
    if (output_kind == OUTPUT_UNSET) choose_output();
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0) return;
    size_t size = static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length)
                                                            : sizeof text - 1;
    if (output_kind == OUTPUT_BYTES) {
        std::fwrite(text, 1, size, stdout);
    } else if (output_kind == OUTPUT_TERMINAL) {
        write_all(text, size);
    } else {
        write_converted(text, size);
    }
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
        if (restoring_signals[i] == signal_number) sigaction(signal_number, &saved_actions[i], nullptr);
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
    for (int i = 0; i < RESTORING_SIGNALS; ++i) sigaction(restoring_signals[i], &action, &saved_actions[i]);

    termios raw = saved_mode;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    int key = read_byte();
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);

    for (int i = 0; i < RESTORING_SIGNALS; ++i) sigaction(restoring_signals[i], &saved_actions[i], nullptr);
    return key;
}
