#include "platform/TextFile.h"

#include "platform/KeptCopy.h"
#include "platform/KeptCopyStep.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <limits>

namespace {

QString describe(const QString& path, const QString& reason)
{
    return QDir::toNativeSeparators(path) + QStringLiteral(": ") + reason;
}

} // namespace

namespace TextFile {

namespace {

// Opens path for reading, a regular file only: a folder, a pipe or a device is refused (opening
// a pipe would wait for a writer forever). False with *status (Missing or Failed) and *error set.
bool openForReading(const QString& path, QFile* file, ReadStatus* status, QString* error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *error = describe(path, QStringLiteral("不是普通文件"));
        *status = ReadStatus::Failed;
        return false;
    }
    file->setFileName(path);
    if (!file->open(QIODevice::ReadOnly)) {
        *error = describe(path, file->errorString());
        *status = QFileInfo::exists(path) ? ReadStatus::Failed : ReadStatus::Missing;
        return false;
    }
    return true;
}

} // namespace

ReadStatus read(const QString& path, QByteArray* bytes, QString* error)
{
    QFile file;
    ReadStatus status = ReadStatus::Ok;
    if (!openForReading(path, &file, &status, error))
        return status;
    const qint64 size = file.size();
    if (size > 0 && size < std::numeric_limits<qsizetype>::max()) {
        // One buffer of the file's size, filled by one read: a large hosts file is read
        // without growing copies, in large pages where the system has them.
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

ReadStatus readHead(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* error)
{
    QFile file;
    ReadStatus status = ReadStatus::Ok;
    if (!openForReading(path, &file, &status, error))
        return status;
    *bytes = file.read(maxBytes);
    if (file.error() != QFileDevice::NoError) {
        *error = describe(path, file.errorString());
        return ReadStatus::Failed;
    }
    return ReadStatus::Ok;
}

ReadStatus readTail(const QString& path, qint64 from, qint64 maxBytes, QByteArray* bytes, QString* error)
{
    QFile file;
    ReadStatus status = ReadStatus::Ok;
    if (!openForReading(path, &file, &status, error))
        return status;
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

bool writeNew(const QString& path, const QByteArray& bytes, QString* error, bool* exists)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (exists)
            *exists = QFileInfo::exists(path);
        *error = describe(path, file.errorString());
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        *error = describe(path, file.errorString());
        file.close();
        file.remove();
        return false;
    }
    return true;
}

} // namespace TextFile

namespace KeptCopyStep {

TextFile::Recovery keepChanged(const QString& path, const QString& kept, const QByteArray& old,
                               const TextFile::KeepOld& keepOld,
                               const std::function<bool(QString* why)>& dropKept, QString* message)
{
    const std::wstring shown = QDir::toNativeSeparators(path).toStdWString();
    const std::wstring copy = QDir::toNativeSeparators(kept).toStdWString();
    QString where, why;
    if (!keepOld || !keepOld(old, &where, &why) || !dropKept(&why)) {
        *message = QString::fromStdWString(KeptCopy::Say::notKeptElsewhere(shown, copy, why.toStdWString()));
        return TextFile::Recovery::Failed;
    }
    *message = QString::fromStdWString(
        KeptCopy::Say::keptElsewhere(shown, QDir::toNativeSeparators(where).toStdWString()));
    return TextFile::Recovery::Kept;
}

} // namespace KeptCopyStep
