#include "platform/ProcessHandle.h"

// ProcessHandle::Data::~Data() is the system's: PlatformUnix.cpp or PlatformWin.cpp.

ProcessHandle ProcessHandle::adopt(qint64 pid, qintptr native, qintptr group)
{
    ProcessHandle h;
    h.d = std::make_shared<Data>();
    h.d->pid = pid;
    h.d->native = native;
    h.d->group = group;
    return h;
}

void ProcessHandle::setReaped() const
{
    if (d)
        d->reaped = true;
}
