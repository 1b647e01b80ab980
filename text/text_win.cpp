#include "text/text.h"

#include "app/globals.h"
#include "text/language.h"
#include "text/string_table.h"

bool LoadTextForLanguage(LANGID language, unsigned id, std::wstring& text) {
  // The program's own tables, walked by hand: LoadStringW would pick the
  // language itself, and the candidate order is ours to decide. For a
  // language stored only with the neutral sub-language (English, Spanish,
  // Italian) the lookup falls back to that table.
  // A resource id has 16 bits: a larger block number names no block, and cut
  // short it would name another one.
  const unsigned blockNumber = id / 16 + 1;
  if (blockNumber > 0xFFFF) return false;
  const HMODULE module = ::GetModuleHandleW(nullptr);
  const HRSRC resource = ::FindResourceExW(
      module, RT_STRING, MAKEINTRESOURCEW(static_cast<WORD>(blockNumber)), language);
  if (resource == nullptr) return false;
  const HGLOBAL loaded = ::LoadResource(module, resource);
  if (loaded == nullptr) return false;
  const auto* block = static_cast<const unsigned char*>(::LockResource(loaded));
  std::u16string found;
  if (!FindStringTableEntry(block, ::SizeofResource(module, resource), id, found)) return false;
  text.assign(found.begin(), found.end());
  return true;
}

std::wstring LoadText(unsigned id) {
  const LANGID user = ::GetUserDefaultLangID();
  std::wstring text;
  for (const std::uint16_t language :
       TextLanguageCandidates(g_forcedLangId, user, ::GetSystemDefaultLangID())) {
    if (LoadTextForLanguage(language, id, text)) return text;
  }
  return std::wstring();
}

std::string ToNarrow(const std::wstring& text) {
  // With a UTF-8 system code page every character fits, and the platform
  // refuses the flags and the used-default flag for it; only unpaired
  // surrogates cannot be converted there.
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* const usedDefaultOut = utf8 ? nullptr : &usedDefault;
  // Converted as a terminated string, so a NUL inside `text` ends the result.
  const int length =
      ::WideCharToMultiByte(CP_ACP, flags, text.c_str(), -1, nullptr, 0, nullptr, usedDefaultOut);
  if (length <= 0 || usedDefault) return std::string();
  std::string narrow(static_cast<std::size_t>(length), '\0');
  if (::WideCharToMultiByte(CP_ACP, flags, text.c_str(), -1, &narrow[0], length, nullptr,
                            usedDefaultOut) != length ||
      usedDefault) {
    return std::string();
  }
  narrow.resize(static_cast<std::size_t>(length) - 1);
  return narrow;
}
