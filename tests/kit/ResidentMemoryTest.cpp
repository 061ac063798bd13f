// A closed window gives back the pages of the files it maps: what is read
// again from the file goes, what the process wrote stays exactly as written.
#include "tests/support/TempFolder.h"
#include "kit/core/ResidentMemory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

TEST(ResidentMemoryTest, GivesBackFilePagesAndKeepsWhatWasWritten)
{
    testsupport::TempFolder folder;
    const std::string path = folder / "mapped.bin";
    constexpr std::size_t size = 8 << 20;
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    {
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        std::vector<char> data(size);
        for (std::size_t i = 0; i < size; ++i)
            data[i] = char(i / std::size_t(pageSize));
        ASSERT_EQ(::write(fd, data.data(), size), ssize_t(size));
        ::fsync(fd); // clean pages: the kernel may drop them
        ::close(fd);
    }
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    auto* map = static_cast<volatile char*>(::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0));
    ::close(fd);
    ASSERT_NE(map, MAP_FAILED);
    long sum = 0;
    for (std::size_t i = 0; i < size; i += std::size_t(pageSize))
        sum += map[i];
    map[5 * pageSize] = 'w'; // a page of its own now, not the file's
    const auto before = kit::ResidentMemory::residentBytes(path);
    ASSERT_GE(before, size / 2);
    EXPECT_EQ(kit::ResidentMemory::fileMappedAt(const_cast<char*>(map) + 100), path);
    // A library is named as the maps name it, not by the link it was loaded through.
    EXPECT_GT(kit::ResidentMemory::residentBytes(kit::ResidentMemory::fileMappedAt(reinterpret_cast<const void*>(&::madvise))), 0u);

    ASSERT_GT(kit::ResidentMemory::pageOutFiles(path), 0u);
    const auto left = kit::ResidentMemory::residentBytes(path);
    if (left == before)
        GTEST_SKIP() << "this kernel keeps the pages of " << path << " (a memory-backed file system?)";
    EXPECT_LT(left, before / 4) << "the file's pages stay resident";
    // What was written is kept, and what went comes back from the file.
    EXPECT_EQ(map[5 * pageSize], 'w');
    long again = 0;
    for (std::size_t i = 0; i < size; i += std::size_t(pageSize))
        again += i == std::size_t(5 * pageSize) ? char(5) : map[i];
    EXPECT_EQ(again, sum);
    EXPECT_EQ(map[7 * pageSize + 3], char(7));
    ::munmap(const_cast<char*>(map), size);
}

} // namespace
