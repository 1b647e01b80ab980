// Localized texts from the program's own string tables, and the one wide to
// narrow conversion the program uses. Safe on any thread: nothing is cached.
#pragma once

#include <windows.h>

#include <string>

// The text `id` in the first candidate language that holds a non-empty entry:
// the forced language, the user's language mapped to a stored table, the
// user's language, the system's, the default, and English (United States).
// Empty when none holds it.
std::wstring LoadText(unsigned id);

// True, with `text` set, when the string table found for `language` holds a
// non-empty entry for `id`; false otherwise, leaving `text` unchanged.
bool LoadTextForLanguage(LANGID language, unsigned id, std::wstring& text);

// `text` in the system's ANSI code page, the one the platform's narrow ("A")
// functions read. Empty when `text` cannot be held there exactly: a character
// the code page lacks is never replaced by a look-alike or a default
// character, since such a path or URL would name something else.
std::string ToNarrow(const std::wstring& text);
