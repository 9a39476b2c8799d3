// The ban list, kept in the file named by BannedFile.
#pragma once

#include <string>

class Ban {
public:
    // Created on first use; delete the returned object to destroy it.
    static Ban* getInstance();
    ~Ban();

    Ban(const Ban&) = delete;
    Ban& operator=(const Ban&) = delete;

    // Loads the list from `path`, which becomes the file the list is written to. False when the
    // file cannot be opened.
    bool readList(const char* path);
    // Writes the list back to its file.
    bool writeList();

private:
    Ban() = default;
    static Ban* s_instance;
    std::string m_path;
};
