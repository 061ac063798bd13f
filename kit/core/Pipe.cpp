#include "kit/core/Pipe.h"

#include <fcntl.h>
#include <unistd.h>

namespace kit {

ErrorOr<std::shared_ptr<Pipe>> Pipe::create()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return Error::fromErrno("pipe");
    return std::make_shared<Pipe>(Private {}, fds[0], fds[1]);
}

Pipe::Pipe(Private, int readFd, int writeFd)
    : m_read(std::make_shared<FileHandle>(readFd))
    , m_writeFd(writeFd)
{
}

Pipe::~Pipe()
{
    closeWriteEnd();
}

void Pipe::closeWriteEnd()
{
    if (m_writeFd >= 0)
        ::close(m_writeFd);
    m_writeFd = -1;
}

} // namespace kit
