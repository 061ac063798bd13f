#pragma once
// A temporary folder for one test, removed with everything in it when the
// object dies, and the small file helpers the tests share.
#include <string>

namespace testsupport {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Writes the bytes, making the folders above the file first.
void writeFile(const std::string& path, const std::string& bytes, bool executable = false);
// The file's bytes; empty when it cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

} // namespace testsupport
