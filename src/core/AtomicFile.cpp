#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

bool writeWhole(int descriptor, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        ssize_t count = write(descriptor, content.data() + done, content.size() - done);
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

// A rename replaces a symbolic link itself; an operator who linked the file elsewhere expects
// the linked file to change.
std::string replacementTarget(const std::string& fileName) {
    char resolved[PATH_MAX];
    if (realpath(fileName.c_str(), resolved) != nullptr) return resolved;
    return fileName;
}

// Without this the rename itself may be lost in a crash, even though the data is on disk.
void syncFolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    fsync(descriptor);
    close(descriptor);
}

}  // namespace

bool replaceFileAtomically(const std::string& fileName, const std::string& content, bool sync) {
    if (fileName.empty()) return false;
    std::string target = replacementTarget(fileName);
    struct stat existing {};
    bool exists = stat(target.c_str(), &existing) == 0;
    // Renaming over a device or FIFO (a file name set to /dev/null) would replace the node
    // itself, and a file the operator made read-only was never rewritten by a plain open.
    if (exists && !S_ISREG(existing.st_mode)) {
        errno = S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    if (exists && access(target.c_str(), W_OK) != 0) return false;

    // A temporary file left by a crash is stale; O_EXCL then refuses anything still in the way.
    std::string temporary = target + ".tmp";
    unlink(temporary.c_str());
    int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (descriptor < 0) return false;
    if (exists) fchmod(descriptor, existing.st_mode & 07777);
    bool written = writeWhole(descriptor, content) && (!sync || fsync(descriptor) == 0);
    written = close(descriptor) == 0 && written;
    if (!written || rename(temporary.c_str(), target.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    if (sync) syncFolderOf(target);
    return true;
}
