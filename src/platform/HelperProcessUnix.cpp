#include "platform/HelperProcess.h"

#include <QFile>
#include <QFileInfo>

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace HelperProcess {

void harden()
{
    clearenv();
    umask(022);
    // A low limit would kill the helper with SIGXFSZ in the middle of the write; ignored, the
    // write fails with EFBIG and the save reports it. Root may lift the limit, and does.
    const struct rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &unlimited);
    for (int sig : {SIGXFSZ, SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU})
        signal(sig, SIG_IGN);
}

qint64 fileSizeLimit()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return -1;
    return qint64(limit.rlim_cur);
}

namespace {

QString reason(const QString& path, const QString& why)
{
    return path + QStringLiteral(": ") + why;
}

} // namespace

bool isSafeTarget(const QString& path, QString* error)
{
    const QByteArray file = QFile::encodeName(path);
    const QString folderPath = QFileInfo(path).path();
    const QByteArray folder = QFile::encodeName(folderPath);

    struct stat st;
    if (lstat(folder.constData(), &st) != 0) {
        *error = reason(folderPath, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = reason(folderPath, QStringLiteral("不是真正的文件夹（符号链接或其他），拒绝写入"));
        return false;
    }
    if (st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *error = reason(folderPath, QStringLiteral("这个文件夹不只是 root 能改动，拒绝以管理员身份写入"));
        return false;
    }

    if (lstat(file.constData(), &st) != 0) {
        if (errno == ENOENT)
            return true; // created by the save, in a folder only root can change
        *error = reason(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        *error = reason(path,
                        QStringLiteral("是一个符号链接，拒绝以管理员身份经由它写入；请直接编辑它指向的文件"));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = reason(path, QStringLiteral("不是普通文件，拒绝写入"));
        return false;
    }
    return true;
}

} // namespace HelperProcess
