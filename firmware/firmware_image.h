// The adapter firmware, as the 4096 bytes downloaded to address 0 of the
// EZ-USB chip's internal memory.
#ifndef PELKAT_FIRMWARE_IMAGE_H
#define PELKAT_FIRMWARE_IMAGE_H

constexpr unsigned firmware_image_size = 4096;
extern const unsigned char firmware_image[firmware_image_size];

#endif
