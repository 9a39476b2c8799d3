#include "ProcStat.h"

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zevload {

namespace {

// Reads a small /proc file into `buffer`, NUL-terminated. Returns false when it cannot.
bool readSmallFile(const char* path, char* buffer, std::size_t capacity) {
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return false;
    std::size_t count = std::fread(buffer, 1, capacity - 1, file);
    std::fclose(file);
    buffer[count] = '\0';
    return count > 0;
}

std::int64_t fieldAfter(const char* text, const char* label) {
    const char* found = std::strstr(text, label);
    if (found == nullptr) return -1;
    return std::strtoll(found + std::strlen(label), nullptr, 10);
}

}  // namespace

std::int64_t readProcessCpuMicros(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%d/stat", static_cast<int>(pid));
    char text[1024];
    if (!readSmallFile(path, text, sizeof(text))) return -1;
    // The command name may hold spaces and parentheses; the fields start after the last ')'.
    char* cursor = std::strrchr(text, ')');
    if (cursor == nullptr) return -1;
    // Fields from 3 (the state letter) on are separated by single spaces; utime is field 14
    // and stime field 15.
    long long utime = -1;
    long long stime = -1;
    int field = 2;
    for (char* at = cursor + 1; *at != '\0' && field < 15; ++at) {
        if (*at != ' ') continue;
        ++field;
        if (field == 14) utime = std::strtoll(at + 1, nullptr, 10);
        if (field == 15) stime = std::strtoll(at + 1, nullptr, 10);
    }
    if (utime < 0 || stime < 0) return -1;
    long ticks = sysconf(_SC_CLK_TCK);
    if (ticks <= 0) return -1;
    return static_cast<std::int64_t>((utime + stime) * 1000000LL / ticks);
}

std::int64_t readScheduledCpuNanos(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%d/schedstat", static_cast<int>(pid));
    char text[256];
    if (!readSmallFile(path, text, sizeof(text))) return -1;
    return std::strtoll(text, nullptr, 10);
}

std::int64_t readContextSwitches(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%d/status", static_cast<int>(pid));
    char text[4096];
    if (!readSmallFile(path, text, sizeof(text))) return -1;
    std::int64_t voluntary = fieldAfter(text, "\nvoluntary_ctxt_switches:");
    std::int64_t involuntary = fieldAfter(text, "\nnonvoluntary_ctxt_switches:");
    if (voluntary < 0 || involuntary < 0) return -1;
    return voluntary + involuntary;
}

std::int64_t readResidentKib(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%d/status", static_cast<int>(pid));
    char text[4096];
    if (!readSmallFile(path, text, sizeof(text))) return -1;
    return fieldAfter(text, "\nVmRSS:");
}

int countDescriptors(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%d/fd", static_cast<int>(pid));
    DIR* directory = opendir(path);
    if (directory == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(directory);
    return count;
}

std::int64_t ownCpuMicros() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::int64_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 +
           usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

bool pinToCpu(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(0, sizeof(set), &set) == 0;
}

void unpin() {
    cpu_set_t set;
    CPU_ZERO(&set);
    // The kernel keeps the CPUs that exist out of this.
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof(set), &set);
}

}  // namespace zevload
