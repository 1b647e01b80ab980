// Reading one entry of a string-table resource block. Pure: takes the block's
// bytes, includes no windows.h.
#pragma once

#include <cstddef>
#include <string>

// A block holds 16 entries, ids 16 * (block - 1) to 16 * (block - 1) + 15;
// each is a little-endian 16-bit count n followed by n UTF-16 code units.
// Sets `text` to the entry of `id` (id mod 16 picks it) and returns true when
// that entry lies wholly inside the `size` bytes at `block` and is not empty.
// A block cut short anywhere (an odd size, a count that runs past the end)
// yields false and leaves `text` unchanged.
bool FindStringTableEntry(const unsigned char* block, std::size_t size, unsigned id,
                          std::u16string& text);
