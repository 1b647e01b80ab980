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

// `text` in the thread's ANSI code page; characters it cannot hold become the
// code page's default character; empty when the conversion fails.
std::string ToNarrow(const std::wstring& text);
