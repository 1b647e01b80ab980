// The texts the program ships, written as UTF-16 escapes so that the tests do
// not depend on how any compiler reads its source files.
#pragma once

#include <windows.h>

#include <string>

// The string tables' languages, in the order of the columns below.
inline constexpr LANGID kStoredLanguages[] = {0x0009, 0x000A, 0x0010, 0x042A, 0x0816};
enum StoredLanguage { kEnglish, kSpanish, kItalian, kVietnamese, kPortuguese };

struct ExpectedText {
  unsigned id;
  const wchar_t* text[5];  // by StoredLanguage
};

inline constexpr ExpectedText kExpectedTexts[] = {
    {103,
     {L"Tavrin components installer", L"Instalador Tavrin", L"Tavrin - Installazione componenti",
      L"C\u00E1c th\u00E0nh ph\u1EA7n b\u1ED9 c\u00E0i \u0111\u1EB7t Tavrin",
      L"Instalador Tavrin"}},
    {104,
     {L"Please wait while downloading ....", L"Por favor espere, descargando ....",
      L"Per favore attendi mentre il download \u00E8 in corso ....",
      L"Xin h\u00E3y \u0111\u1EE3i khi \u0111ang t\u1EA3i...",
      L"Por favor, aguarde, download ...."}},
    {105,
     {L"Remind me tomorrow", L"Recu\u00E9rdame ma\u00F1ana", L"Ricordamelo domani",
      L"Nh\u1EAFc l\u1EA1i t\u00F4i v\u00E0o ng\u00E0y mai", L"Lembra-me amanh\u00E3"}},
    {106,
     {L"Remind me next month", L"Recordarme el pr\u00F3ximo mes", L"Ricordamelo il prossimo mese",
      L"Nh\u1EAFc l\u1EA1i t\u00F4i v\u00E0o th\u00E1ng t\u1EDBi",
      L"Lembra-me pr\u00F3ximo m\u00EAs"}},
    {107,
     {L"Remind me next week", L"Recu\u00E9rdame la pr\u00F3xima semana",
      L"Ricordamelo la prossima settimana",
      L"Nh\u1EAFc l\u1EA1i t\u00F4i v\u00E0o tu\u1EA7n t\u1EDBi",
      L"Lembra-me na pr\u00F3xima semana"}},
    {108,
     {L"Don't ask again", L"No volver a preguntar", L"Non chiederemelo pi\u00F9",
      L"Xin \u0111\u1EEBng h\u1ECFi th\u00EAm", L"N\u00E3o perguntar novamente"}},
    {109, {L"TAVRINCORVEL", L"TAVRINCORVEL", L"TAVRINCORVEL", L"TAVRINCORVEL", L"TAVRINCORVEL"}},
    {110,
     {L"A new update is available.\nDo you want to install it?",
      L"Una nueva versi\u00F3n est\u00E1 disponible. \u00BFDesea instalarlo?",
      L"Un nuovo aggiornamento \u00E8 disponibile. Vuoi installarlo?",
      L"B\u1EA3n c\u1EADp nh\u1EADt \u0111\u00E3 s\u1EB5n s\u00E0ng.\nB\u1EA1n c\u00F3 mu\u1ED1n "
      L"c\u00E0i \u0111\u1EB7t?",
      L"A nova vers\u00E3o est\u00E1 dispon\u00EDvel.\nDeseja instal\u00E1-lo?"}},
    {111, {L"Terminate", L"Cancelar", L"Termina", L"K\u1EBFt th\u00FAc", L"Terminar"}},
    {112, {L"Later", L"M\u00E1s tarde", L"Pi\u00F9 tardi", L"Sau", L"Mais tarde"}},
    {113, {L"Yes", L"S\u00ED", L"Si", L"C\u00F3", L"Sim"}},
    {114,
     {L"No software update is required", L"No se requiere ninguna actualizaci\u00F3n de software",
      L"Non \u00E8 disponibile un nuovo aggiornamento",
      L"Kh\u00F4ng c\u1EA7n c\u1EADp nh\u1EADt ph\u1EA7n m\u1EC1m",
      L"Nenhuma atualiza\u00E7\u00E3o de software \u00E9 necess\u00E1ria"}},
    {115, {L"OK", L"OK", L"OK", L"OK", L"OK"}},
};

// For failure messages: `text` as UTF-8.
inline std::string Utf8(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? size : 0, '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size,
                          nullptr, nullptr);
  }
  return utf8;
}
