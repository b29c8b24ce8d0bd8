// Windows: a save needs the administrator's rights there and takes no lock yet.
#include "platform/FileLock.h"

bool FileLock::lock(const QString&, QString*, int)
{
    return true;
}

void FileLock::unlock()
{
    m_handle = -1;
}
