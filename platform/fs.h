// What the operating system gives the tool: files, folders, its own path.
#pragma once

#include <cerrno>
#include <string>
#include <vector>

namespace glx::platform {

bool fileExists(const std::string& path);  // a non-folder entry (following links)
bool directoryExists(const std::string& path);
// The current folder's path; "" when the system cannot tell it (a path
// longer than PATH_MAX, a removed folder): never a made-up path.
std::string getCurrentDir();
// Raises EInOutError naming the folder when it cannot be entered.
void setCurrentDir(const std::string& path);
// Creates the folder and any missing parents; returns whether it exists afterwards.
bool forceDirectories(const std::string& path);
// Full path of the running executable (/proc/self/exe).
std::string programPath();
// Absolute form of path relative to the current folder (no link
// resolution). When the current folder's path is unknown, a relative path
// stays relative (cleaned the same way): only for showing, since the
// current folder is still where it leads.
std::string absolutePath(const std::string& path);
// Whether resolved (an absolute path with links resolved) lies inside
// folder, once folder's own links are resolved too.
bool isInsideFolder(const std::string& resolved, const std::string& folder);
// Whether the current user may create files in the folder.
bool isWritableFolder(const std::string& folder);
// The user's cache folder for the tool: $XDG_CACHE_HOME/glumixer, or
// ~/.cache/glumixer; "" when neither is known.
std::string userCacheFolder();

// A folder opened once. Files are then created, replaced and appended to
// relative to its descriptor, so that renaming its path or putting a link in
// its place meanwhile cannot send them elsewhere. Closed with the object.
class Folder {
public:
    Folder() = default;
    // Opens path relative to parent (a descriptor or AT_FDCWD; "" is the
    // current folder); with noLink a symbolic link as the last component
    // is refused (ELOOP). valid() tells whether it opened, error() why not.
    Folder(int parent, const std::string& path, bool noLink = false);
    ~Folder();
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    int error() const { return m_error; }

private:
    int m_fd = -1;
    int m_error = EBADF;
};

// Lists the files of folder whose names match one of the ";"-separated
// wildcard patterns (letter case ignored), hidden files included, folders
// never; sorted alphabetically ignoring letter case, not de-duplicated.
std::vector<std::string> listFolder(const std::string& folder, const std::string& mask);

// Case-insensitive wildcard match of "*" and "?" patterns.
bool matchesMask(const std::string& name, const std::string& pattern);

}  // namespace glx::platform
