#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <algorithm>

#include "base/exception.h"

namespace glx::platform {

bool fileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool directoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string getCurrentDir() {
    std::string buf(PATH_MAX, '\0');
    if (!::getcwd(buf.data(), buf.size())) return "";
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

void setCurrentDir(const std::string& path) {
    if (path.empty()) return;
    if (::chdir(path.c_str()) != 0)
        throw EInOutError(formatMessage("Cannot enter folder \"%s\". %s", path.c_str(), std::strerror(errno)));
}

bool forceDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (directoryExists(path)) return true;
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto slash = p.rfind('/');
    if (slash != std::string::npos && slash > 0) forceDirectories(p.substr(0, slash));
    ::mkdir(p.c_str(), 0777);
    return directoryExists(p);
}

std::string programPath() {
    std::string buf(PATH_MAX, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return "";
    buf.resize(static_cast<size_t>(n));
    return buf;
}

std::string absolutePath(const std::string& path) {
    std::string full = path;
    const bool relative = full.empty() || full[0] != '/';
    std::string cwd = relative ? getCurrentDir() : std::string();
    if (relative && !cwd.empty()) {
        if (cwd.back() != '/') cwd += '/';
        full = cwd + path;
    }
    // Drop "." components and doubled slashes; ".." stays, since what it
    // means depends on links along the way.
    std::string out;
    size_t i = 0;
    while (i < full.size()) {
        const size_t slash = full.find('/', i);
        const size_t end = slash == std::string::npos ? full.size() : slash;
        const std::string part = full.substr(i, end - i);
        if (!part.empty() && part != ".") {
            out.push_back('/');
            out.append(part);
        }
        i = end + 1;
    }
    if (out.empty() || full.back() == '/') out.push_back('/');
    if (relative && cwd.empty()) out.erase(0, 1);  // "/" would name the root
    return out.empty() ? std::string(".") : out;
}

Folder::Folder(int parent, const std::string& path, bool noLink) {
    const char* name = path.empty() ? "." : path.c_str();
    const int flags = O_DIRECTORY | O_CLOEXEC | (noLink ? O_NOFOLLOW : 0);
    m_fd = ::openat(parent, name, O_RDONLY | flags);
    // A folder that may be entered but not listed is still a place to work.
    if (m_fd < 0 && errno == EACCES) m_fd = ::openat(parent, name, O_PATH | flags);
    m_error = m_fd < 0 ? errno : 0;
}

Folder::~Folder() {
    if (m_fd >= 0) ::close(m_fd);
}

Folder::Folder(Folder&& other) noexcept : m_fd(other.m_fd), m_error(other.m_error) {
    other.m_fd = -1;
    other.m_error = EBADF;
}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = other.m_fd;
        m_error = other.m_error;
        other.m_fd = -1;
        other.m_error = EBADF;
    }
    return *this;
}

bool isInsideFolder(const std::string& resolved, const std::string& folder) {
    char buf[PATH_MAX];
    if (resolved.empty() || !::realpath(folder.empty() ? "." : folder.c_str(), buf)) return false;
    std::string root = buf;
    if (root.back() != '/') root += '/';
    return resolved.size() > root.size() && resolved.compare(0, root.size(), root) == 0;
}

bool isWritableFolder(const std::string& folder) {
    return ::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0;
}

std::string userCacheFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::string(cache) + "/glumixer";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.cache/glumixer";
    return "";
}

static char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool matchesMask(const std::string& name, const std::string& pattern) {
    // Iterative glob with backtracking to the last "*".
    size_t n = 0, p = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lowerAscii(pattern[p]) == lowerAscii(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

static int compareNoCase(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(lowerAscii(a[i]));
        unsigned char cb = static_cast<unsigned char>(lowerAscii(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::vector<std::string> listFolder(const std::string& folder, const std::string& mask) {
    std::vector<std::string> patterns;
    size_t start = 0;
    while (start <= mask.size()) {
        size_t semi = mask.find(';', start);
        if (semi == std::string::npos) semi = mask.size();
        if (semi > start) patterns.push_back(mask.substr(start, semi - start));
        start = semi + 1;
    }
    std::string dir = folder.empty() ? "." : folder;
    DIR* d = ::opendir(dir.c_str());
    if (!d) throw EInOutError(formatMessage("Cannot list folder \"%s\". %s", dir.c_str(), std::strerror(errno)));
    std::vector<std::string> names;
    std::vector<std::string> entries;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        entries.push_back(std::move(name));
    }
    ::closedir(d);
    for (const auto& pattern : patterns) {
        for (const auto& name : entries) {
            if (!matchesMask(name, pattern)) continue;
            // Folders are never listed; an entry that cannot be examined (a
            // dangling link) is listed and later fails to load like a bad file.
            std::string full = dir + "/" + name;
            struct stat st {};
            if (::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
            names.push_back(name);
        }
    }
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string& a, const std::string& b) { return compareNoCase(a, b) < 0; });
    return names;
}

}  // namespace glx::platform
