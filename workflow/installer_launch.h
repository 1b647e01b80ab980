// Starting the downloaded installer, on the check thread. The platform's
// process start is passed in: the one seam through which a test can answer
// "elevation required", which no real launch under test produces.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/unique_handle.h"

using ShellExecuteFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);

// Starts `path` without arguments, verb "open"; only when that fails with
// ERROR_ELEVATION_REQUIRED, once more with "runas" (the platform asks the
// user for consent). True when started; `process` then holds the process,
// or nothing when the platform handed none out. Failures show no message.
bool LaunchInstaller(const std::string& path, UniqueKernelHandle& process,
                     ShellExecuteFunction execute = &::ShellExecuteExA);

// The user's profile folder followed by "\tavrin\brenlo"; the temporary-files
// folder stands in for the profile when it cannot be found.
std::string InstallerFolder();

// Deletes the files of earlier downloads in `folder` that nothing holds open
// any more, such as an installer left behind when the updater ended while it
// ran. Files that are still in use, and files of any other name, stay.
void RemoveInstallerLeftovers(const std::string& folder);
