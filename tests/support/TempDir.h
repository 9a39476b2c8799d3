// A fresh directory under the system's temporary folder, removed with its contents at the end.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();

    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // The path of `name` inside the directory.
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    // Writes `content` to `name` inside the directory, replacing it.
    void write(const std::string& name, const std::string& content) const;
    // The whole content of `name`, empty when it cannot be read.
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;

private:
    std::string m_path;
};
