#include "platform/HostsHelper.h"

#include <QIODevice>

namespace HostsHelper {

namespace {

const QByteArray kMagic = QByteArrayLiteral("TARVIX-HOSTS 1 ");

// "TARVIX-HOSTS 1 " and up to 20 digits: a longer first line is garbage.
constexpr qint64 kMaxHeader = 15 + 20 + 1;

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

QByteArray header(qint64 size)
{
    return kMagic + QByteArray::number(size) + '\n';
}

QByteArray frame(const QByteArray& content)
{
    return header(content.size()) + content;
}

Status readFrame(QIODevice* in, QByteArray* content, QString* error)
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
            *error = QStringLiteral("输入的第一行不是 TARVIX-HOSTS 1 开头的长度行");
            return BadInput;
        }
    }
    const QByteArray digits = line.mid(kMagic.size());
    bool digitsOnly = line.startsWith(kMagic) && !digits.isEmpty() && (digits == "0" || digits[0] != '0');
    for (char d : digits)
        digitsOnly = digitsOnly && d >= '0' && d <= '9';
    if (!digitsOnly) {
        *error = QStringLiteral("输入的第一行不是 TARVIX-HOSTS 1 开头的长度行");
        return BadInput;
    }
    if (digits.size() > 18 || digits.toLongLong() > kMaxContent) {
        *error = QStringLiteral("新内容有 %1 字节，超过了 %2 字节的上限")
                     .arg(QString::fromLatin1(digits))
                     .arg(kMaxContent);
        return TooLarge;
    }

    const qint64 size = digits.toLongLong();
    QByteArray bytes(size, Qt::Uninitialized);
    const qint64 got = readUpTo(in, bytes.data(), size);
    if (got < 0) {
        *error = readError(in);
        return ReadFailed;
    }
    if (got < size) {
        *error = QStringLiteral("输入中断：说好 %1 字节，只收到 %2 字节").arg(size).arg(got);
        return BadInput;
    }
    const qint64 more = readUpTo(in, &c, 1);
    if (more != 0) {
        *error = more < 0 ? readError(in) : QStringLiteral("内容之后还有多余的输入");
        return more < 0 ? ReadFailed : BadInput;
    }
    *content = bytes;
    return Written;
}

} // namespace HostsHelper
