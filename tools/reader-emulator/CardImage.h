#pragma once
// A card image: the usage records stored on an ETC card, newest first, and
// where the card's ring memory has its physical end. See README.md, section
// "Reader emulator", for the text format.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace emu {

// Bytes 11 to 32 of a record frame.
using RecordBytes = std::array<std::uint8_t, 22>;

struct CardImage {
    std::vector<RecordBytes> records; // newest first
    // Number of records before the ring's physical end; 0 = no wrap. The
    // reader answers "N" when asked with "B" for the record past this point.
    std::size_t wrap = 0;
};

// Parses the text format; on failure returns false with a message naming the line.
bool parseCardImage(const std::string &text, CardImage &image, std::string &error);
bool loadCardImage(const std::string &path, CardImage &image, std::string &error);

} // namespace emu
