#include "platform/TextFile.h"

#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString describe(const QString& path, const QString& reason)
{
    return QDir::toNativeSeparators(path) + QStringLiteral(": ") + reason;
}

// The file a save must change: the final target of a chain of symbolic links, so that the
// link itself stays a link.
QString resolveLinks(const QString& path)
{
    QString target = path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(target);
        if (!info.isSymLink())
            return target;
        target = info.symLinkTarget();
    }
    return target;
}

// Writes in pieces so that an injected fault can strike at any byte position.
bool writeAll(QFileDevice& file, const QByteArray& bytes, const TextFile::Faults* faults)
{
    constexpr qint64 chunk = 64 * 1024;
    qint64 done = 0;
    while (done < bytes.size()) {
        qint64 n = qMin(chunk, bytes.size() - done);
        if (faults && faults->failWriteAt >= 0 && done + n > faults->failWriteAt) {
            n = faults->failWriteAt - done;
            if (n > 0)
                file.write(bytes.constData() + done, n);
            return false;
        }
        if (file.write(bytes.constData() + done, n) != n)
            return false;
        done += n;
    }
    return true;
}

bool overwriteInPlace(const QString& target, const QByteArray& bytes, QString* error,
                      const TextFile::Faults* faults)
{
    QFile file(target);
    if (!file.open(QIODevice::ReadWrite)) {
        *error = describe(target, file.errorString());
        return false;
    }
    const QByteArray old = file.readAll();
    bool ok = file.seek(0) && writeAll(file, bytes, faults) && file.resize(bytes.size()) && file.flush();
    QString reason = file.errorString();
    if (ok) {
        ok = file.seek(0) && file.readAll() == bytes;
        if (!ok)
            reason = QStringLiteral("what was written does not read back the same");
    }
    if (!ok) {
        // Put the old content back; it is still in memory.
        file.seek(0);
        file.write(old);
        file.resize(old.size());
        file.flush();
        *error = describe(target, reason);
    }
    return ok;
}

} // namespace

namespace TextFile {

ReadStatus read(const QString& path, QByteArray* bytes, QString* error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        // A folder, a pipe or a device: opening a pipe would wait for a writer forever.
        *error = describe(path, QStringLiteral("not a regular file"));
        return ReadStatus::Failed;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = describe(path, file.errorString());
        return file.error() == QFileDevice::OpenError && !QFileInfo::exists(path) ? ReadStatus::Missing
                                                                                  : ReadStatus::Failed;
    }
    const qint64 size = file.size();
    if (size > 0 && size < (qint64(1) << 31)) {
        // One buffer of the file's size, filled by one read: a large hosts file is read
        // without growing copies.
        QByteArray buffer(static_cast<qsizetype>(size), Qt::Uninitialized);
        Platform::adviseLargeBuffer(buffer.data(), buffer.size());
        const qint64 got = file.read(buffer.data(), size);
        if (got >= 0)
            buffer.truncate(static_cast<qsizetype>(got));
        buffer += file.readAll(); // anything that grew since
        *bytes = buffer;
    } else {
        *bytes = file.readAll();
    }
    if (file.error() != QFileDevice::NoError) {
        *error = describe(path, file.errorString());
        return ReadStatus::Failed;
    }
    return ReadStatus::Ok;
}

qint64 size(const QString& path)
{
    return QFileInfo(path).size();
}

ReadStatus readTail(const QString& path, qint64 from, qint64 maxBytes, QByteArray* bytes, QString* error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *error = describe(path, QStringLiteral("not a regular file"));
        return ReadStatus::Failed;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = describe(path, file.errorString());
        return QFileInfo::exists(path) ? ReadStatus::Failed : ReadStatus::Missing;
    }
    const qint64 end = file.size();
    qint64 start = qMax(from, end - maxBytes);
    if (start > end || start < 0)
        start = qMax<qint64>(0, end - maxBytes);
    if (!file.seek(start)) {
        *error = describe(path, file.errorString());
        return ReadStatus::Failed;
    }
    *bytes = file.read(end - start);
    if (file.error() != QFileDevice::NoError) {
        *error = describe(path, file.errorString());
        return ReadStatus::Failed;
    }
    return ReadStatus::Ok;
}

bool append(const QString& path, const QByteArray& header, const QByteArray& bytes, QString* error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        // Opening a pipe for writing would wait for a reader forever.
        *error = describe(path, QStringLiteral("not a regular file"));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = describe(path, file.errorString());
        return false;
    }
    // One write per call: rows appended by two windows at once stay whole.
    const QByteArray data = file.size() == 0 ? header + bytes : bytes;
    if (file.write(data) != data.size() || !file.flush()) {
        *error = describe(path, file.errorString());
        return false;
    }
    return true;
}

bool createEmpty(const QString& path, QString* error)
{
    if (QFileInfo::exists(path))
        return true;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = describe(path, file.errorString());
        return false;
    }
    return true;
}

bool save(const QString& path, const QByteArray& bytes, QString* error, const Faults* faults)
{
    const QString target = resolveLinks(path);
    const QFileInfo info(target);
    if (info.exists() && !info.isFile()) {
        *error = describe(target, QStringLiteral("not a regular file"));
        return false;
    }

    QSaveFile file(target);
    if (file.open(QIODevice::WriteOnly)) {
        if (!writeAll(file, bytes, faults)) {
            const QString reason = file.error() != QFileDevice::NoError ? file.errorString()
                                                                        : QStringLiteral("write failed");
            file.cancelWriting();
            *error = describe(target, reason);
            return false;
        }
        if (faults && faults->failReplace)
            file.cancelWriting(); // as a rename over a bind-mounted file fails
        if (file.commit())
            return true;
    }
    // The temporary file could not be made or put in place. An existing file that can be
    // written is then overwritten in place, now that the whole new content is in memory.
    if (info.exists() && info.isWritable())
        return overwriteInPlace(target, bytes, error, faults);
    *error = describe(target, file.errorString());
    return false;
}

} // namespace TextFile
