#include "core/hosts/EffectCheck.h"

#include "core/hosts/DeadLines.h"
#include "platform/TextCodec.h"

namespace EffectCheck {

namespace {

QString firstOfFamily(const QStringList& addresses, int family)
{
    for (const QString& a : addresses) {
        if (Platform::addressFamily(QStringView(a)) == family)
            return Platform::canonicalAddress(a);
    }
    return QString();
}

} // namespace

QList<Probe> plan(const QList<RowChange>& changes, const HostsDocument& saved, const DeadLines& dead,
                  int limit, int* more)
{
    const TextCodec codec(saved.encoding());
    QList<Probe> probes;
    *more = 0;
    auto add = [&](const QString& host, const QString& ip, bool win) {
        Probe p;
        p.host = host;
        p.ip = Platform::canonicalAddress(ip);
        p.family = Platform::addressFamily(QStringView(ip));
        p.win = win;
        p.firstOnly = !dead.rule().everyLine;
        const QByteArray name = codec.encode(host);
        if (p.firstOnly) {
            const int first = dead.firstMapping(name, p.family);
            const QString firstIp =
                first >= 0 ? Platform::canonicalAddress(saved.values(first).ip) : QString();
            if (!win && firstIp == p.ip)
                return; // another line still maps the host there: it may win
            if (win && first >= 0 && firstIp != p.ip) {
                p.earlier = first;
                p.earlierIp = firstIp;
            }
        } else if (!win) {
            for (const int row : dead.mappings(name, p.family)) {
                if (Platform::canonicalAddress(saved.values(row).ip) == p.ip)
                    return; // another line still maps the host there: it is answered
            }
        }
        for (const Probe& q : std::as_const(probes)) {
            if (q.host.compare(p.host, Qt::CaseInsensitive) == 0 && q.ip == p.ip && q.win == p.win)
                return;
        }
        if (probes.size() < limit)
            probes << p;
        else
            ++*more;
    };
    for (const RowChange& c : changes) {
        const bool maps = !c.deleted && !c.after.disabled && !c.after.host.isEmpty() &&
                          Platform::addressFamily(QStringView(c.after.ip)) != 0;
        const bool mapped = c.wasMapping && Platform::addressFamily(QStringView(c.before.ip)) != 0;
        const bool same = maps && mapped && c.after.host.compare(c.before.host, Qt::CaseInsensitive) == 0 &&
                          Platform::canonicalAddress(c.after.ip) == Platform::canonicalAddress(c.before.ip);
        // A host that now maps to another address of the same family needs one question: the
        // new address winning shows that the old one does not.
        const bool replaced = maps && mapped &&
                              c.after.host.compare(c.before.host, Qt::CaseInsensitive) == 0 &&
                              Platform::addressFamily(QStringView(c.after.ip)) ==
                                  Platform::addressFamily(QStringView(c.before.ip));
        if (mapped && !same && !replaced)
            add(c.before.host, c.before.ip, false);
        if (maps)
            add(c.after.host, c.after.ip, true);
    }
    return probes;
}

bool wins(const Probe& probe, const Answer& answer)
{
    if (probe.firstOnly)
        return firstOfFamily(answer.addresses, probe.family) == probe.ip;
    for (const QString& a : answer.addresses) {
        if (Platform::addressFamily(QStringView(a)) == probe.family &&
            Platform::canonicalAddress(a) == probe.ip)
            return true;
    }
    return false;
}

QStringList lines(const QList<Probe>& probes, const QList<Answer>& answers, const Platform::CacheFlush& flush,
                  int more, const QString& unavailable)
{
    if (!unavailable.isEmpty())
        return {unavailable};
    QStringList out;
    const bool flushFailed = flush.status == Platform::CacheFlush::Failed;
    if (flushFailed)
        out << QStringLiteral("刷新 DNS 缓存失败（%1）: %2").arg(flush.cache, flush.error);
    bool missed = false;
    for (qsizetype i = 0; i < probes.size() && i < answers.size(); ++i) {
        const Probe& p = probes[i];
        const Answer& a = answers[i];
        if (!a.answered) {
            out << QStringLiteral("%1 → %2: 未检查完").arg(p.host, p.ip);
            continue;
        }
        const bool won = wins(p, a);
        const QString answered = firstOfFamily(a.addresses, p.family);
        if (p.win) {
            if (won) {
                out << QStringLiteral("%1 → %2: 已生效").arg(p.host, p.ip);
                continue;
            }
            missed = true;
            QString cause;
            if (p.earlier >= 0)
                cause = QStringLiteral("第 %1 行在前，指向 %2").arg(p.earlier + 1).arg(p.earlierIp);
            else if (flushFailed)
                cause = QStringLiteral("缓存未能刷新");
            if (answered.isEmpty())
                out << QStringLiteral("%1 → %2: 未生效，系统查不到（%3）")
                           .arg(p.host, p.ip, cause.isEmpty() ? a.error : cause);
            else
                out << QStringLiteral("%1 → %2: 未生效，系统答 %3%4")
                           .arg(p.host, p.ip, answered,
                                cause.isEmpty() ? QString() : QStringLiteral("（%1）").arg(cause));
        } else if (won) {
            missed = true;
            out << QStringLiteral("%1 → %2: 仍然生效%3")
                       .arg(p.host, p.ip, flushFailed ? QStringLiteral("（缓存未能刷新）") : QString());
        } else {
            out << QStringLiteral("%1 → %2: 已不再生效").arg(p.host, p.ip);
        }
    }
    if (more > 0)
        out << QStringLiteral("另有 %1 处改动未逐一检查").arg(more);
    if (missed)
        out << QStringLiteral("浏览器另有自己的 DNS 缓存：重启浏览器后再看。");
    return out;
}

} // namespace EffectCheck
