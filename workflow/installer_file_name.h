// Names of the downloaded installer's files. Pure: the caller makes the
// temporary name and walks the folder.
#pragma once

#include <string>
#include <string_view>

// Prefix handed to the platform's temporary-name maker, which keeps its first
// three letters: files are named "dex<hex>.tmp".
inline constexpr char kInstallerTempPrefix[] = "dexo";

// The temporary name with "-middleware.exe" appended: the platform starts a
// file as a program by its extension.
std::string InstallerName(std::string_view temporaryName);
std::wstring InstallerName(std::wstring_view temporaryName);

// True for a file name that a download of ours makes: "dex", one to four
// hexadecimal digits, ".tmp", and optionally "-middleware.exe", compared
// without regard to case as the file system does. Anything else in the
// folder is somebody else's.
bool IsInstallerFileName(std::string_view fileName);
bool IsInstallerFileName(std::wstring_view fileName);
