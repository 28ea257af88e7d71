// Feeds arbitrary file contents to the save image loader: the format decision by
// content, the text dump parser, the binary reader, the reader of the emulators' and
// cheat devices' save files for the format that the content shows (the seeds hold one
// of each) and the padding test. Besides the sanitizers'
// checks, every successful load must leave data_length within image_buffer, and every
// byte from data_length on at 0xFF.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frontend/image_parse.h"
#include "run/run_state.h"

namespace {

std::string work_file;

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "loader property broken: %s\n", what);
    std::abort();
}

void check_loaded(ImageError error) {
    if (error != IMAGE_OK) return;
    check(data_length >= 0 && data_length <= BUFFER_SIZE, "data_length within the buffer");
    static unsigned char erased[BUFFER_SIZE];
    if (erased[0] != 0xFF) std::memset(erased, 0xFF, sizeof erased);
    size_t rest = static_cast<size_t>(BUFFER_SIZE - data_length);
    check(std::memcmp(image_buffer + data_length, erased, rest) == 0,
          "bytes past data_length erased");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    std::string folder = std::string(base != nullptr ? base : "/tmp") + "/pelkat-fuzz-XXXXXX";
    if (mkdtemp(&folder[0]) == nullptr) std::abort();
    // Neither ".txt" nor ".sav": the content decides the format.
    work_file = folder + "/input.bin";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(work_file.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);

    ImageFormat format = FORMAT_RAW;
    check(decide_image_format(work_file.c_str(), &format) == IMAGE_OK,
          "an existing file gets a format");
    bool text = format == FORMAT_TEXT_DUMP;
    long long detail = 0;
    // Every input goes through the text parser, as a ".txt" name would send it.
    ImageError error = read_text_dump(work_file.c_str(), &detail);
    check_loaded(error);
    if (error == IMAGE_BAD_ADDRESS)
        check(detail < 0 || detail > BUFFER_SIZE - 16, "refused address out of range");
    if (!text) {
        error = read_binary_file(work_file.c_str(), &detail);
        check(error == (size > BUFFER_SIZE ? IMAGE_TOO_LARGE : IMAGE_OK),
              "binary file loads unless too large");
        check_loaded(error);
        if (error == IMAGE_OK)
            check(data_length == static_cast<int>(size), "binary data_length is the file length");
    }
    if (format != FORMAT_RAW && !text) {
        error = read_container(work_file.c_str(), format, &detail);
        check(error == IMAGE_OK || error == IMAGE_BAD_CONTAINER || error == IMAGE_TOO_LARGE,
              "a save file loads or is refused as broken or too large");
        check_loaded(error);
    }
    if (error == IMAGE_OK) {
        int half = data_length / 2;
        if (only_padding_beyond(half))
            check(image_buffer[data_length - 1] == image_buffer[half], "padding is uniform");
    }
    return 0;
}
