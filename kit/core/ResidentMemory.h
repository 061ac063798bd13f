#pragma once
// What a process nobody looks at can give back. The pages of mapped files
// (the program and its libraries) that were never written are read again
// from their file when next used, so handing them back to the kernel loses
// nothing but the time to read them: a window left closed for its transfers
// then holds no more than what its one-second tick touches. Phone shells end
// what holds memory in the background by what is resident; this is what
// keeps the application off the top of that list.
#include <cstddef>
#include <string>
#include <vector>

namespace kit::ResidentMemory {

// Hands back the resident pages of every file mapping of this process (or,
// with `path`, of that file's mappings only) that are its alone and were
// never written. Answers the bytes of the mappings advised; 0 where the
// kernel cannot (before Linux 5.4), which changes nothing else.
std::size_t pageOutFiles(const std::string& path = {});

// Whether a child process of this one maps `path` too (a helper still
// ending): the pages it shares stay resident however they are given back.
bool childMaps(const std::string& path);

// Returns the heap's free pages to the system.
void trimHeap();

// The file mapped at `address` (a function or an object of a library), or
// empty when none is.
std::string fileMappedAt(const void* address);

// Every file this process maps, by the path its mappings show, sorted, once each.
std::vector<std::string> mappedFiles();

// The resident bytes of this process's mappings of `path` (of all of its
// mappings when empty), from /proc/self/smaps.
std::size_t residentBytes(const std::string& path = {});

} // namespace kit::ResidentMemory
