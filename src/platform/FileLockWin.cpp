// Windows: a named mutex per hosts file, for the processes of the user's session (the window
// and the helper it starts), named by a hash of the file's path, since a mutex's name may not
// hold a backslash.
#include "platform/FileLock.h"

#include "platform/win32/WinApi.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

bool FileLock::lock(const QString& path, QString* error, int waitMs)
{
    unlock();
    const QFileInfo info(path);
    const QString target = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(target.toLower().toUtf8(), QCryptographicHash::Sha1).toHex();
    const QString name = QStringLiteral("Local\\tarvix-save-") + QString::fromLatin1(hash);
    std::wstring why;
    void* held = winapi::lockNamed(name.toStdWString(), static_cast<unsigned long>(waitMs), &why);
    if (!held) {
        *error = QDir::toNativeSeparators(target) +
                 (why.empty() ? QStringLiteral(": 另一个程序正在保存这个文件，请稍后再试。")
                              : QStringLiteral(": 无法锁定文件: ") + QString::fromStdWString(why));
        return false;
    }
    m_handle = reinterpret_cast<qintptr>(held);
    return true;
}

void FileLock::unlock()
{
    if (m_handle != -1) {
        winapi::unlockNamed(reinterpret_cast<void*>(m_handle));
        m_handle = -1;
    }
}
