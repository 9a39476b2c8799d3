// Replacing a whole file so that a crash at any moment leaves either the old content or the new,
// never a cut one.
#pragma once

#include <string>

// Writes `content` to a temporary file beside `fileName`, syncs it, renames it over the file
// and syncs the folder. A symbolic link is followed (the linked file is replaced) and the old
// file's mode is kept. False, with the old file untouched, when it exists but is not a regular
// writable file or when any step fails; errno then tells why. Without `sync` nothing waits for the
// disk: readers still see the old file or the new one, but a power cut may lose the new one (fine
// for a report that is rewritten every few seconds).
bool replaceFileAtomically(const std::string& fileName, const std::string& content,
                           bool sync = true);
