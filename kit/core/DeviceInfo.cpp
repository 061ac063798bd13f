#include "kit/core/DeviceInfo.h"

#include "kit/core/DeviceLayout.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/utsname.h>

namespace kit {

namespace {

std::optional<DeviceInfo>& stored()
{
    static std::optional<DeviceInfo> facts;
    return facts;
}

std::string firstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return line;
}

bool isIdentifier(const std::string& s)
{
    if (s.size() != 40)
        return false;
    for (char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

DeviceInfo readFacts()
{
    DeviceInfo facts;
    utsname names {};
    if (uname(&names) == 0) {
        facts.systemName = names.sysname;
        facts.systemVersion = names.release;
        facts.machine = names.machine;
    }
    // The board's product name where the firmware tells it; a plain word otherwise.
    facts.model = firstLine("/sys/class/dmi/id/product_name");
    if (facts.model.empty())
        facts.model = "Linux device";
    facts.uniqueIdentifier = installationIdentifier(DeviceLayout::current().supportFolder());
    return facts;
}

} // namespace

std::optional<std::string> installationIdentifier(const std::string& supportFolder)
{
    namespace fs = std::filesystem;
    const fs::path path = fs::path(supportFolder) / "device-identifier";
    auto existing = firstLine(path.string());
    if (isIdentifier(existing))
        return existing;
    std::random_device random;
    static const char digits[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 40; ++i)
        id += digits[random() % 16];
    std::error_code ec;
    fs::create_directories(supportFolder, ec);
    const fs::path temporary = path.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << id << '\n';
        if (!out.flush())
            return std::nullopt;
    }
    fs::rename(temporary, path, ec);
    if (ec)
        return std::nullopt;
    return id;
}

DeviceInfo& DeviceInfo::current()
{
    auto& facts = stored();
    if (!facts)
        facts = readFacts();
    return *facts;
}

void DeviceInfo::reload()
{
    stored() = readFacts();
}

void DeviceInfo::set(DeviceInfo facts)
{
    stored() = std::move(facts);
}

} // namespace kit
