#include "platform/HostsHelper.h"

#include <QIODevice>

namespace HostsHelper {

namespace {

const QByteArray kMagic = QByteArrayLiteral("TARVIX-HOSTS 2 ");

// "TARVIX-HOSTS 2 " and two sizes of up to 20 digits: a longer first line is garbage.
constexpr qint64 kMaxHeader = 15 + 20 + 1 + 20 + 1;

// Reads up to n bytes into data, as many as come before the end of the input. -1 on an error.
qint64 readUpTo(QIODevice* in, char* data, qint64 n)
{
    qint64 got = 0;
    while (got < n) {
        const qint64 r = in->read(data + got, n - got);
        if (r < 0)
            return -1;
        if (r == 0 && !in->waitForReadyRead(-1))
            break; // the end of the input
        got += r;
    }
    return got;
}

QString readError(QIODevice* in)
{
    return QStringLiteral("标准输入读取失败: ") + in->errorString();
}

} // namespace

QByteArray frame(const QByteArray& base, const QByteArray& result)
{
    return kMagic + QByteArray::number(base.size()) + ' ' + QByteArray::number(result.size()) + '\n' + base +
           result;
}

namespace {

const QString kNotAHeader = QStringLiteral("输入的第一行不是 TARVIX-HOSTS 2 开头的长度行");

// A size in decimal without leading zeros; -1 if digits is not one. Sizes too large for a
// qint64 are kMaxContent + 1.
qint64 sizeOf(const QByteArray& digits)
{
    if (digits.isEmpty() || digits.size() > 20 || (digits.size() > 1 && digits[0] == '0'))
        return -1;
    for (char d : digits) {
        if (d < '0' || d > '9')
            return -1;
    }
    return digits.size() > 18 ? kMaxContent + 1 : digits.toLongLong();
}

// Reads exactly size bytes into *out; false with the status in *status otherwise.
bool readContent(QIODevice* in, qint64 size, QByteArray* out, Status* status, QString* error)
{
    QByteArray bytes(size, Qt::Uninitialized);
    const qint64 got = readUpTo(in, bytes.data(), size);
    if (got < 0) {
        *error = readError(in);
        *status = ReadFailed;
        return false;
    }
    if (got < size) {
        *error = QStringLiteral("输入中断：说好 %1 字节，只收到 %2 字节").arg(size).arg(got);
        *status = BadInput;
        return false;
    }
    *out = bytes;
    return true;
}

} // namespace

Status readFrame(QIODevice* in, QByteArray* base, QByteArray* result, QString* error)
{
    // The header, byte by byte, so that not one byte of the content is taken with it.
    QByteArray line;
    char c = 0;
    for (;;) {
        const qint64 r = readUpTo(in, &c, 1);
        if (r < 0) {
            *error = readError(in);
            return ReadFailed;
        }
        if (r == 0) {
            *error = line.isEmpty() ? QStringLiteral("没有收到任何内容")
                                    : QStringLiteral("输入在第一行结束之前就中断了");
            return BadInput;
        }
        if (c == '\n')
            break;
        line += c;
        if (line.size() >= kMaxHeader) {
            *error = kNotAHeader;
            return BadInput;
        }
    }
    const QList<QByteArray> sizes = line.mid(kMagic.size()).split(' ');
    if (!line.startsWith(kMagic) || sizes.size() != 2 || sizeOf(sizes[0]) < 0 || sizeOf(sizes[1]) < 0) {
        *error = kNotAHeader;
        return BadInput;
    }
    for (const QByteArray& digits : sizes) {
        if (sizeOf(digits) > kMaxContent) {
            *error = QStringLiteral("新内容有 %1 字节，超过了 %2 字节的上限")
                         .arg(QString::fromLatin1(digits))
                         .arg(kMaxContent);
            return TooLarge;
        }
    }
    Status status = Written;
    QByteArray baseBytes, resultBytes;
    if (!readContent(in, sizeOf(sizes[0]), &baseBytes, &status, error) ||
        !readContent(in, sizeOf(sizes[1]), &resultBytes, &status, error))
        return status;
    const qint64 more = readUpTo(in, &c, 1);
    if (more != 0) {
        *error = more < 0 ? readError(in) : QStringLiteral("内容之后还有多余的输入");
        return more < 0 ? ReadFailed : BadInput;
    }
    *base = baseBytes;
    *result = resultBytes;
    return Written;
}

} // namespace HostsHelper
