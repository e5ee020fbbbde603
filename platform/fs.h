// What the operating system gives the tool: files, folders, its own path.
#pragma once

#include <string>
#include <vector>

namespace glx::platform {

bool fileExists(const std::string& path);  // a non-folder entry (following links)
bool directoryExists(const std::string& path);
std::string getCurrentDir();
// Raises EInOutError naming the folder when it cannot be entered.
void setCurrentDir(const std::string& path);
// Creates the folder and any missing parents; returns whether it exists afterwards.
bool forceDirectories(const std::string& path);
// Full path of the running executable (/proc/self/exe).
std::string programPath();
// Absolute form of path relative to the current folder (no link resolution).
std::string absolutePath(const std::string& path);
// Whether resolved (an absolute path with links resolved) lies inside
// folder, once folder's own links are resolved too.
bool isInsideFolder(const std::string& resolved, const std::string& folder);
// Whether the current user may create files in the folder.
bool isWritableFolder(const std::string& folder);
// The user's cache folder for the tool: $XDG_CACHE_HOME/glumixer, or
// ~/.cache/glumixer; "" when neither is known.
std::string userCacheFolder();

// Lists the files of folder whose names match one of the ";"-separated
// wildcard patterns (letter case ignored), hidden files included, folders
// never; sorted alphabetically ignoring letter case, not de-duplicated.
std::vector<std::string> listFolder(const std::string& folder, const std::string& mask);

// Case-insensitive wildcard match of "*" and "?" patterns.
bool matchesMask(const std::string& name, const std::string& pattern);

}  // namespace glx::platform
