#pragma once
// PNG files of frames read back from the GPU.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// Reverses the order of the rows of a tightly packed image in place: GL reads
// rows bottom-up, image files store them top-down.
void FlipRows(std::vector<uint8_t>& pixels, int width, int height, int channels);

// Writes an RGB image with rows top-down; false with an "ERROR: " line on the log.
bool WritePng(const std::string& fileName, const std::vector<uint8_t>& rgb, int width, int height,
              std::wostream* log);
