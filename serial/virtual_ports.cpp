#include "serial/virtual_ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>
#include <tuple>

namespace zuz {
namespace {

constexpr const char* kEntrySuffix = ".port";

bool IsWritableDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           access(path.c_str(), W_OK | X_OK) == 0;
}

// mkdir -p with mode 0700 for every folder it creates.
bool MakeFolders(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        const std::string prefix = path.substr(0, pos);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

// Entries this process has published and not withdrawn, so that a second port of the same
// process gets an entry of its own while a stale entry left by an earlier process with the same
// id is simply overwritten.
std::mutex g_publishedMutex;
std::set<std::string> g_published;

struct EntryName {
    long pid = 0;
    long number = 0;  // 0 for "<pid>.port", N for "<pid>-N.port"
};

bool ParseDigits(const std::string& text, long* value) {
    if (text.empty() || text.size() > 9) return false;
    long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

bool ParseEntryName(const std::string& name, EntryName* out) {
    const std::size_t suffixLength = std::char_traits<char>::length(kEntrySuffix);
    if (name.size() <= suffixLength ||
        name.compare(name.size() - suffixLength, suffixLength, kEntrySuffix) != 0) {
        return false;
    }
    const std::string stem = name.substr(0, name.size() - suffixLength);
    const std::size_t dash = stem.find('-');
    EntryName entry;
    if (!ParseDigits(stem.substr(0, dash), &entry.pid) || entry.pid <= 0) return false;
    if (dash != std::string::npos && (!ParseDigits(stem.substr(dash + 1), &entry.number) ||
                                      entry.number == 0)) {
        return false;
    }
    *out = entry;
    return true;
}

bool ProcessAlive(long pid) {
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool ReadFirstLine(const std::string& path, std::string* line) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[4096];
    std::string text;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.find('\n') != std::string::npos || text.size() >= sizeof buffer) break;
    }
    close(fd);
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') text.pop_back();
    *line = text;
    return !text.empty();
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string VirtualPortFolder() {
    if (const char* dir = std::getenv(kPortDirVariable); dir != nullptr && *dir != '\0') {
        return dir;
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && IsWritableDirectory(runtime)) {
        return std::string(runtime) + "/zuzavadi-ports";
    }
    return "/tmp/zuzavadi-" + std::to_string(getuid()) + "/ports";
}

std::string PublishVirtualPort(const std::string& devicePath) {
    return PublishVirtualPort(devicePath, VirtualPortFolder());
}

std::string PublishVirtualPort(const std::string& devicePath, const std::string& folder) {
    if (devicePath.empty() || devicePath.find('\n') != std::string::npos) {
        errno = EINVAL;
        return {};
    }
    if (!MakeFolders(folder)) return {};

    const std::string base = folder + "/" + std::to_string(getpid());
    std::lock_guard<std::mutex> lock(g_publishedMutex);
    std::string entry = base + kEntrySuffix;
    for (long n = 1; g_published.count(entry) != 0; ++n) {
        entry = base + "-" + std::to_string(n) + kEntrySuffix;
    }

    // Readers must never see a half-written entry: write a hidden file, then rename it.
    const std::string temporary = folder + "/." + entry.substr(folder.size() + 1) + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return {};
    bool ok = WriteAll(fd, devicePath + "\n");
    int error = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temporary.c_str());
        errno = error;
        return {};
    }
    if (rename(temporary.c_str(), entry.c_str()) != 0) {
        const int renameErrno = errno;
        unlink(temporary.c_str());
        errno = renameErrno;
        return {};
    }
    g_published.insert(entry);
    return entry;
}

bool WithdrawVirtualPort(const std::string& entryPath) {
    {
        std::lock_guard<std::mutex> lock(g_publishedMutex);
        g_published.erase(entryPath);
    }
    return !entryPath.empty() && unlink(entryPath.c_str()) == 0;
}

std::vector<std::string> ListVirtualPorts() { return ListVirtualPorts(VirtualPortFolder()); }

std::vector<std::string> ListVirtualPorts(const std::string& folder) {
    struct Found {
        EntryName name;
        std::string device;
    };
    std::vector<Found> found;

    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return {};
    while (const dirent* item = readdir(dir)) {
        EntryName name;
        if (!ParseEntryName(item->d_name, &name)) continue;
        const std::string path = folder + "/" + item->d_name;
        if (!ProcessAlive(name.pid)) {
            unlink(path.c_str());
            continue;
        }
        std::string device;
        struct stat st {};
        if (!ReadFirstLine(path, &device) || stat(device.c_str(), &st) != 0) continue;
        found.push_back({name, device});
    }
    closedir(dir);

    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return std::tie(a.name.pid, a.name.number) < std::tie(b.name.pid, b.name.number);
    });
    std::vector<std::string> devices;
    devices.reserve(found.size());
    for (Found& f : found) devices.push_back(std::move(f.device));
    return devices;
}

}  // namespace zuz
