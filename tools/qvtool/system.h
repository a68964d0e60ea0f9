// What the tool needs of the operating system beyond standard C++: one
// declaration here, one implementation per platform (system_posix.cpp,
// system_windows.cpp). Failures set errno, as the C library's calls do.
#pragma once

#include <cstdint>
#include <string>

namespace qvtool::sys {

// What separates the folders of a path, and the one the tool writes.
#if defined(_WIN32)
inline constexpr char kPathSeparators[] = "/\\";
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparators[] = "/";
inline constexpr char kPathSeparator = '/';
#endif

// Creates a new folder only this user can enter, named prefix plus six
// random characters, inside parent; its path, or empty on failure.
std::string makePrivateFolder(const std::string& parent, const std::string& prefix);

// Moves a file to a new name in the same file system. Never replaces an
// existing target: fails with EEXIST instead, atomically.
int renameNoReplace(const std::string& from, const std::string& to);
// Moves a file over an existing one, replacing it in one step.
int renameReplacing(const std::string& from, const std::string& to);

bool standardErrorIsTerminal();

void setEnvironment(const char* name, const char* value);
void unsetEnvironment(const char* name);

// Physical memory free for new work, in bytes; 0 when unknown.
uint64_t availableMemory();

// Calls handler on each interrupt (Ctrl-C, and SIGTERM or closing the
// console); a null handler restores the system's default. The handler runs
// in a signal handler or on a thread of the system's: it may only set flags.
void onInterrupt(void (*handler)());

}  // namespace qvtool::sys
