// Loading an 8051 program image (Intel HEX or raw binary) into a 64 KiB memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace emu {

enum class ImageFormat { intel_hex, binary };

// Guesses the format from the file name: ".hex" and ".ihx" are Intel HEX.
ImageFormat image_format_for(const std::string& path);

// Fills memory (memory_size bytes) from the file. Returns false and a message
// naming the file and, for Intel HEX, the line, when the file cannot be read,
// is malformed, or does not fit.
bool load_image(const std::string& path, ImageFormat format, uint8_t* memory, size_t memory_size,
                std::string& error);

}  // namespace emu
