// Reading and writing the hosts file. Properties:
//  - saving an unedited reading gives the input back, with a line end added to a last line
//    that had none;
//  - reading a saved file gives the same rows, also after rows are edited with plain texts.
// The first byte picks the encoding (UTF-8 or GBK) and which rows are edited.
#include "core/hosts/HostsDocument.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
}

QByteArray save(const HostsDocument& doc)
{
    QByteArray out;
    QString error;
    require(doc.toBytes(&out, &error));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const QByteArray input(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    HostsDocument doc(mode & 1 ? "GBK" : "UTF-8");
    doc.load(input);

    const QByteArray body = input.startsWith("\xEF\xBB\xBF") ? input.mid(3) : input;
    QByteArray expected = input;
    if (!body.isEmpty() && !body.endsWith('\n')) {
        const qsizetype lf = body.indexOf('\n');
        // A final CR is completed to CR LF; otherwise the file's first line end is added.
        if (body.endsWith('\r'))
            expected += '\n';
        else
            expected += (lf > 0 && body.at(lf - 1) == '\r') ? "\r\n" : "\n";
    }
    require(save(doc) == expected);

    // Edit every k-th row with plain texts, then read the saved file back.
    const int step = (mode >> 1) % 7 + 1;
    for (int i = 0; i < doc.rowCount(); i += step) {
        HostsValues v = doc.values(i);
        v.ip = QStringLiteral("10.0.%1.%2").arg(i % 256).arg(mode);
        v.host = QStringLiteral("h%1").arg(i);
        v.disabled = (i + mode) & 1;
        doc.setValues(i, v);
    }
    const QByteArray saved = save(doc);
    HostsDocument back(doc.encoding());
    back.load(saved);
    require(back.rowCount() == doc.rowCount());
    for (int i = 0; i < doc.rowCount(); ++i)
        require(back.values(i) == doc.values(i));
    require(save(back) == saved);
    return 0;
}
