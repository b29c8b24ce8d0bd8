// Reading ping's summary from the tail of a result file, and the row it gives. Properties:
//  - a summary found has no negative counts or times, and times only with a round-trip line;
//  - a complete block appended after any text is the one that counts;
//  - the table row of any target reads back as the header's ten fields, the first being the
//    target itself.
// The first byte picks the encoding of the rest (UTF-8 or GBK), as a result file's code page.
#include "core/ping/PingReport.h"
#include "core/ping/PingSummary.h"
#include "platform/TextCodec.h"

#include <QStringList>

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
}

// The fields of one CSV row as a spreadsheet reads them (RFC 4180), the CR LF at its end gone.
QStringList readRow(const QString& row)
{
    require(row.endsWith(QStringLiteral("\r\n")));
    const QString text = row.chopped(2);
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"') && field.isEmpty()) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    require(!quoted);
    fields << field;
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const QString text = TextCodec(data[0] & 1 ? "GBK" : "UTF-8").decode(bytes);

    const std::optional<PingSummary> s = PingSummary::parseLast(text);
    if (s) {
        require(s->sent >= 0 && s->received >= 0 && s->lossPercent >= 0);
        require(!s->hasTimes || (s->minMs >= 0 && s->avgMs >= 0 && s->maxMs >= 0));
    }

    const QString block = QStringLiteral("\n--- 127.0.0.1 ping statistics ---\n"
                                         "3 packets transmitted, 2 received, 33.3333% packet loss, time 2003ms\n"
                                         "rtt min/avg/max/mdev = 0.030/0.040/0.050/0.010 ms\n");
    const std::optional<PingSummary> last = PingSummary::parseLast(text + block);
    require(last && last->sent == 3 && last->received == 2 && last->hasTimes && last->maxMs == 0.05);

    // The input as a target: whatever it holds, the row keeps it in its first field.
    const PingReport::Run run{text, QStringLiteral("/r/2026-12-07/x.txt"), 0, QDateTime()};
    const QStringList fields = readRow(PingReport::tableRow(run, QDateTime(), s, ProcessEnd()));
    require(fields.size() == 10 && fields[0] == text);
    require(!PingReport::endEntry(text, s, ProcessEnd()).isEmpty());
    return 0;
}
