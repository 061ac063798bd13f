#pragma once
// A pipe: the read end as a FileHandle, the write end as a plain descriptor
// handed to a child process. The child process closes our copy of the write end
// once the child has it, so that end of output is seen when the child is done.
#include "kit/core/ErrorOr.h"
#include "kit/core/FileHandle.h"

#include <memory>

namespace kit {

class Pipe {
public:
    // Fails when the system has no descriptors left, saying so.
    static ErrorOr<std::shared_ptr<Pipe>> create();
    ~Pipe();

    const std::shared_ptr<FileHandle>& fileHandleForReading() const { return m_read; }
    int writeFd() const { return m_writeFd; }
    void closeWriteEnd();

private:
    struct Private { explicit Private() = default; }; // only the factory names it

public:
    Pipe(Private, int readFd, int writeFd);

private:
    std::shared_ptr<FileHandle> m_read;
    int m_writeFd;
};

} // namespace kit
