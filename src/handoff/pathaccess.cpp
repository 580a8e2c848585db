#include "handoff/pathaccess.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using PathAccess::Check;
using PathAccess::Verdict;

Check failed(int error)
{
    return {Verdict::Failed, error};
}

// As the kernel, which gives up with ELOOP after 40 links.
constexpr int maxLinks = 40;
constexpr std::array<std::string_view, 3> systemFolders{"/proc", "/dev", "/sys"};

using CString = std::unique_ptr<char, decltype(&std::free)>;
using FileStatus = struct stat;

std::optional<std::string> realPath(const char *path)
{
    const CString resolved(::realpath(path, nullptr), &std::free);
    if (!resolved)
        return std::nullopt;
    return std::string(resolved.get());
}

std::optional<std::string> readLink(const std::string &path)
{
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0)
        return std::nullopt;
    if (size_t(length) == target.size()) {
        errno = ENAMETOOLONG;
        return std::nullopt;
    }
    target.resize(size_t(length));
    return target;
}

bool isUnder(std::string_view path, std::string_view folder)
{
    if (folder == "/")
        return path != "/";
    return path.size() > folder.size() && path.substr(0, folder.size()) == folder &&
           path[folder.size()] == '/';
}

bool inSystemFolder(std::string_view path)
{
    return std::any_of(systemFolders.begin(), systemFolders.end(), [path](std::string_view folder) {
        return path == folder || isUnder(path, folder);
    });
}

// Where name leads when the system opens it: "." and "..", and the links on
// the way followed, the last one too when followLast. A path that passes
// through /proc, /dev or /sys on the way is refused there.
Check resolve(std::string name, bool followLast, std::string &resolved)
{
    for (int links = 0; links <= maxLinks; ++links) {
        if (name.empty())
            return failed(ENOENT);
        if (name.front() != '/') {
            const CString current(::getcwd(nullptr, 0), &std::free);
            if (!current)
                return failed(errno);
            name = std::string(current.get()) + '/' + name;
        }
        // A trailing slash makes the last component a folder, even through a link.
        const bool folder = name.size() > 1 && name.back() == '/';
        while (name.size() > 1 && name.back() == '/')
            name.pop_back();
        const size_t slash = name.rfind('/');
        const std::string last = name.substr(slash + 1);
        if (last.empty() || last == "." || last == "..") {
            const std::optional<std::string> whole = realPath(name.c_str());
            if (!whole)
                return failed(errno);
            resolved = *whole;
            return inSystemFolder(resolved) ? Check{Verdict::SystemFolder} : Check{};
        }
        const std::optional<std::string> parent =
            realPath(slash == 0 ? "/" : name.substr(0, slash).c_str());
        if (!parent)
            return failed(errno);
        resolved = (*parent == "/" ? std::string() : *parent) + '/' + last;
        if (inSystemFolder(resolved))
            return {Verdict::SystemFolder};
        FileStatus status{};
        if (!(followLast || folder) || ::lstat(resolved.c_str(), &status) != 0 ||
            !S_ISLNK(status.st_mode))
            return {};
        const std::optional<std::string> target = readLink(resolved);
        if (!target)
            return failed(errno);
        name = !target->empty() && target->front() == '/' ? *target : *parent + '/' + *target;
    }
    return failed(ELOOP);
}

// The folder to be made, resolved as far as it exists; the rest, made new, is
// as it is. A dangling link on the way would be followed by mkdir: refused.
Check resolveFolder(std::string path, std::string &resolved)
{
    std::string rest;
    for (;;) {
        if (const std::optional<std::string> real = realPath(path.c_str())) {
            // The root's children keep a single slash, and the root itself is "/".
            resolved = *real == "/" ? (rest.empty() ? *real : rest) : *real + rest;
            return inSystemFolder(resolved) ? Check{Verdict::SystemFolder} : Check{};
        }
        const int error = errno;
        FileStatus status{};
        if (error != ENOENT || ::lstat(path.c_str(), &status) == 0)
            return failed(error);
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos || path == "/")
            return failed(ENOENT);
        rest.insert(0, path, slash);
        path = slash == 0 ? std::string("/") : path.substr(0, slash);
    }
}

} // namespace

namespace PathAccess {

Check check(const char *name, Use use, const QList<QByteArray> &writableFolders) noexcept
{
    try {
        std::string resolved;
        const Check found = resolve(name, use != Use::Entry, resolved);
        if (!found.allowed())
            return found;
        FileStatus status{};
        // Opening a pipe blocks until a writer comes; a device may block or worse.
        if (use != Use::Entry && ::stat(resolved.c_str(), &status) == 0 &&
            !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode))
            return {Verdict::NotAFile};
        if (use == Use::Read)
            return {};
        // Resolved now, not at load: a folder made since, or reached through a
        // link, counts as it is.
        for (const QByteArray &folder : writableFolders) {
            const std::optional<std::string> root = realPath(folder.constData());
            if (root && isUnder(resolved, *root))
                return {};
        }
        return {Verdict::OutsideFolders};
    } catch (const std::bad_alloc &) {
        return failed(ENOMEM);
    }
}

Check checkFolder(const char *path, const QList<QByteArray> &writableFolders) noexcept
{
    try {
        std::string resolved;
        const Check found = resolveFolder(path, resolved);
        if (!found.allowed())
            return found;
        for (const QByteArray &folder : writableFolders) {
            std::string root;
            if (resolveFolder(folder.constData(), root).allowed() &&
                (resolved == root || isUnder(resolved, root)))
                return {};
        }
        return {Verdict::OutsideFolders};
    } catch (const std::bad_alloc &) {
        return failed(ENOMEM);
    }
}

const char *reason(const Check &check)
{
    switch (check.verdict) {
    case Verdict::SystemFolder:
        return "opening files in /proc, /dev or /sys is not allowed";
    case Verdict::NotAFile:
        return "opening a pipe, socket or device is not allowed";
    case Verdict::OutsideFolders:
        return "writing outside Skyvane's folders is not allowed";
    case Verdict::TooManyOpen:
        return "too many open files in the hand-off script";
    case Verdict::Failed:
        return std::strerror(check.error);
    case Verdict::Allowed:
        break;
    }
    return "";
}

int errorNumber(const Check &check)
{
    switch (check.verdict) {
    case Verdict::Failed:
        return check.error;
    case Verdict::TooManyOpen:
        return EMFILE;
    default:
        return EACCES;
    }
}

} // namespace PathAccess
