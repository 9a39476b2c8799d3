#include "admin/Ban.h"

#include <fstream>

Ban* Ban::s_instance = nullptr;

Ban* Ban::getInstance() {
    if (s_instance == nullptr) s_instance = new Ban();
    return s_instance;
}

Ban::~Ban() {
    if (s_instance == this) s_instance = nullptr;
}

bool Ban::readList(const char* path) {
    m_path = path;
    std::ifstream file(path);
    return file.is_open();
}

// Entries are not kept yet, so the file is left exactly as the operator wrote it.
bool Ban::writeList() { return true; }
