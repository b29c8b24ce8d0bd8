#include "core/ping/PingSummary.h"

#include <QList>
#include <QRegularExpression>

namespace {

// Every line of a tail is tested, so this is plain string work rather than a pattern.
bool isHeader(QStringView line)
{
    if (line.startsWith(u"--- "))
        return line.endsWith(u" ping statistics ---");
    if (line.startsWith(u"Ping statistics for "))
        return true;
    // Chinese Windows: "127.0.0.1 的 Ping 统计信息:"; the colon may also be full-width.
    if (!line.endsWith(u':') && !line.endsWith(u'：'))
        return false;
    return line.chopped(1).endsWith(u"统计信息") && line.contains(u"Ping");
}

// The patterns allow ASCII and full-width commas and colons alike: Chinese Windows writes the
// full-width comma, and a system's own translation may differ in such details.
// Each pattern names sent, received and the loss in percent.
const QList<QRegularExpression>& packetPatterns()
{
    static const QList<QRegularExpression> patterns = {
        // iputils; busybox says "packets received"; errors and duplicates may come between.
        QRegularExpression(
            QStringLiteral(R"(^(?<sent>\d+) packets transmitted, (?<received>\d+) (?:packets )?)"
                           R"(received,(?: \+\d+ \w+,)* (?<loss>\d+(?:\.\d+)?)% packet loss)")),
        QRegularExpression(
            QStringLiteral(R"(^Packets: Sent = (?<sent>\d+)[,，] Received = (?<received>\d+)[,，] )"
                           R"(Lost = \d+ \((?<loss>\d+)% loss\))")),
        QRegularExpression(
            QStringLiteral(R"(^数据包[:：] ?已发送 = (?<sent>\d+)[,，] ?已接收 = (?<received>\d+)[,，] ?)"
                           R"(丢失 = \d+ \((?<loss>\d+)% 丢失\))")),
    };
    return patterns;
}

// Each pattern names the minimum, average and maximum; Windows gives the maximum before the
// average. A line cut off before its unit does not match. The Chinese form also takes tenths,
// as the summary of a TCP target gives them.
const QList<QRegularExpression>& timePatterns()
{
    static const QList<QRegularExpression> patterns = {
        QRegularExpression(
            QStringLiteral(R"(^(?:rtt|round-trip) min/avg/max(?:/mdev|/stddev)? = )"
                           R"((?<min>\d+(?:\.\d+)?)/(?<avg>\d+(?:\.\d+)?)/(?<max>\d+(?:\.\d+)?))"
                           R"((?:/\d+(?:\.\d+)?)? ms)")),
        QRegularExpression(QStringLiteral(
            R"(^Minimum = (?<min>\d+)ms[,，] Maximum = (?<max>\d+)ms[,，] Average = (?<avg>\d+)ms$)")),
        QRegularExpression(QStringLiteral(
            R"(^最短 = (?<min>\d+(?:\.\d+)?)ms[,，] ?最长 = (?<max>\d+(?:\.\d+)?)ms[,，] ?)"
            R"(平均 = (?<avg>\d+(?:\.\d+)?)ms$)")),
    };
    return patterns;
}

// A number too large for its type fails, so that a garbled line never yields a made-up value.
bool toNumber(QStringView text, int* out)
{
    bool ok = false;
    *out = text.toInt(&ok);
    return ok;
}

bool toNumber(QStringView text, double* out)
{
    bool ok = false;
    *out = text.toDouble(&ok);
    return ok;
}

bool readPackets(QStringView line, PingSummary* s)
{
    for (const QRegularExpression& re : packetPatterns()) {
        const QRegularExpressionMatch m = re.match(line);
        if (m.hasMatch())
            return toNumber(m.capturedView(u"sent"), &s->sent)
                   && toNumber(m.capturedView(u"received"), &s->received)
                   && toNumber(m.capturedView(u"loss"), &s->lossPercent);
    }
    return false;
}

bool readTimes(QStringView line, PingSummary* s)
{
    for (const QRegularExpression& re : timePatterns()) {
        const QRegularExpressionMatch m = re.match(line);
        if (m.hasMatch())
            return toNumber(m.capturedView(u"min"), &s->minMs) && toNumber(m.capturedView(u"avg"), &s->avgMs)
                   && toNumber(m.capturedView(u"max"), &s->maxMs);
    }
    return false;
}

} // namespace

std::optional<PingSummary> PingSummary::parseLast(QStringView text)
{
    // The lines are walked from the end, as the last block is wanted and the text may hold a
    // day of runs. They are trimmed: Windows indents its statistics, and every form may end in
    // CR LF.
    qsizetype end = text.size();
    qsizetype header = -1;
    while (end >= 0) {
        const qsizetype start = end > 0 ? text.lastIndexOf(u'\n', end - 1) + 1 : 0;
        if (isHeader(text.mid(start, end - start).trimmed())) {
            header = start;
            break;
        }
        end = start - 1;
    }
    if (header < 0)
        return std::nullopt;

    // The packets line follows the header; the round-trip line comes within the next two
    // (Windows puts a caption between them).
    QList<QStringView> lines;
    for (qsizetype start = header; start >= 0 && lines.size() < 4;) {
        const qsizetype lf = text.indexOf(u'\n', start);
        lines.append(text.mid(start, (lf < 0 ? text.size() : lf) - start).trimmed());
        start = lf < 0 ? -1 : lf + 1;
    }
    PingSummary s;
    if (lines.size() < 2 || !readPackets(lines[1], &s))
        return std::nullopt;
    for (qsizetype i = 2; i < lines.size() && !s.hasTimes; ++i) {
        PingSummary times = s;
        if (readTimes(lines[i], &times)) {
            s = times;
            s.hasTimes = true;
        }
    }
    return s;
}

namespace {

// The forms of a reply line. Each names its time (ms) and, where the form has one, seq. An
// iputils line ends at "ms": a duplicate reply, marked "(DUP!)" after it, is no new reply.
const QList<QRegularExpression>& replyPatterns()
{
    static const QList<QRegularExpression> patterns = {
        QRegularExpression(
            QStringLiteral(R"(^\d+ bytes from .+: icmp_seq=(?<seq>\d+) .*time=(?<ms>\d+(?:\.\d+)?) ms$)")),
        QRegularExpression(QStringLiteral(R"(^来自 .+ 的回复[:：] (?:字节=\d+ )?时间[=<](?<ms>\d+)ms)")),
        QRegularExpression(QStringLiteral(R"(^Reply from .+: (?:bytes=\d+ )?time[=<](?<ms>\d+)ms)")),
        QRegularExpression(QStringLiteral(R"(^连接 \S+[:：] 时间=(?<ms>\d+(?:\.\d+)?)ms$)")),
    };
    return patterns;
}

// The forms of a line that tells of a request without a reply; seq where the form has one.
const QList<QRegularExpression>& lostPatterns()
{
    static const QList<QRegularExpression> patterns = {
        QRegularExpression(QStringLiteral(R"(^no answer yet for icmp_seq=(?<seq>\d+)$)")),
        QRegularExpression(QStringLiteral(R"(^From \S+(?: \(\S+\))? icmp_seq=(?<seq>\d+) )")),
        QRegularExpression(QStringLiteral(R"(^(?:请求超时|一般故障|PING[:：] 传输失败)。?)")),
        QRegularExpression(QStringLiteral(R"(^来自 .+ 的回复[:：] 无法访问目标)")),
        QRegularExpression(
            QStringLiteral(R"(^(?:Request timed out|General failure|PING: transmit failed)\.?)")),
        QRegularExpression(QStringLiteral(R"(^Reply from .+: Destination (?:host|net) unreachable)")),
        QRegularExpression(QStringLiteral(R"(^连接 \S+[:：] (?:拒绝|超时|失败))")),
    };
    return patterns;
}

int seqOf(const QRegularExpressionMatch& m)
{
    bool ok = false;
    const int seq = m.capturedView(u"seq").toInt(&ok);
    return ok ? seq : -1;
}

} // namespace

PingReply PingReply::parse(QStringView text)
{
    const QStringView line = text.trimmed();
    PingReply r;
    if (line.isEmpty())
        return r;
    for (const QRegularExpression& re : replyPatterns()) {
        const QRegularExpressionMatch m = re.match(line);
        if (m.hasMatch()) {
            if (!toNumber(m.capturedView(u"ms"), &r.ms))
                return r;
            r.kind = Kind::Reply;
            r.seq = seqOf(m);
            return r;
        }
    }
    for (const QRegularExpression& re : lostPatterns()) {
        const QRegularExpressionMatch m = re.match(line);
        if (m.hasMatch()) {
            r.kind = Kind::Lost;
            r.seq = seqOf(m);
            return r;
        }
    }
    return r;
}
