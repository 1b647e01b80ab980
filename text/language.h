// Which string tables a text is looked up in, and in which order. Pure: the
// languages come in as arguments (16-bit language identifiers, low 10 bits
// the primary language), no windows.h.
#pragma once

#include <cstdint>
#include <vector>

// The user's language mapped onto a stored table by its primary language:
// Spanish to 0x040A, Portuguese to 0x0816 (the one Portuguese table),
// Italian to 0x0410, English to 0x0409; any other stays as it is.
std::uint16_t MapUserLanguage(std::uint16_t user);

// The languages to try, first to last: `forced` (only when not 0), the mapped
// user language, `user`, `system`, the default language 0x0400 and English
// (United States) 0x0409. Repeats are kept: each is one lookup, and dropping
// one would not change which text is found.
std::vector<std::uint16_t> TextLanguageCandidates(std::uint16_t forced, std::uint16_t user,
                                                  std::uint16_t system);
