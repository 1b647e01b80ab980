// What the check sends as "X-Last-Installed-Update", from the bytes read of
// the machine's "lastupdate" value. Pure: the caller reads the registry.
#pragma once

#include <cstddef>
#include <string>

// The text up to the first NUL within the `size` bytes at `bytes` (all of
// them when there is none, so a value read without its terminator is never
// overrun). Empty, meaning "send no header", when that text is empty or holds
// a control character: a CR or LF would end the header line and let the
// stored value inject lines of its own into the request.
std::string LastInstalledUpdateHeader(const char* bytes, std::size_t size);
