// A file mapped into memory for reading and writing, shared with the file itself: a byte
// stored there is the file's content at once, for every reader, and stays so however the
// process ends (a kill included), as the system writes the mapping back by itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace emu {

class MappedFile {
public:
    // The whole of an existing file; std::runtime_error when it cannot be opened for
    // writing or mapped. An empty file maps to nothing (data() is nullptr).
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
#ifdef _WIN32
    void* file_ = nullptr;
    void* mapping_ = nullptr;
#endif
};

}  // namespace emu
