#include "core/hosts/SpeedTest.h"

#include "core/net/ConnectPool.h"

#include <QHash>

#include <algorithm>
#include <numeric>

void SpeedTest::addCandidates(QList<Candidate>* list, const QStringList& ips, Source source)
{
    // By hash, not by search: IP.txt may give 100,000 addresses.
    QHash<QString, qsizetype> known;
    known.reserve(list->size() + ips.size());
    auto key = [](const QString& ip, int family) { return family == 6 ? ip.toLower() : ip; };
    for (qsizetype i = 0; i < list->size(); ++i) {
        const QString& ip = list->at(i).ip;
        known.insert(key(ip, Platform::addressFamily(QStringView(ip))), i);
    }
    for (const QString& text : ips) {
        const QString ip = text.trimmed();
        const int family = Platform::addressFamily(QStringView(ip));
        if (family == 0)
            continue;
        const QString k = key(ip, family);
        const auto same = known.constFind(k);
        if (same != known.constEnd()) {
            (*list)[*same].sources |= source;
        } else {
            known.insert(k, list->size());
            list->append({ip, source});
        }
    }
}

QString SpeedTest::sourceText(int sources)
{
    QStringList parts;
    if (sources & Current)
        parts << QStringLiteral("当前");
    if (sources & Common)
        parts << QStringLiteral("常用");
    if (sources & Dns)
        parts << QStringLiteral("DNS");
    return parts.join(QLatin1Char('/'));
}

bool SpeedTest::usable(const Result& r)
{
    return r.answered > 0 && (r.tls == Result::TlsNotNeeded || r.tls == Result::TlsValid);
}

bool SpeedTest::before(const Result& a, const Result& b, int tries)
{
    // 0: usable; 1: still measured; 2: answered, but not with a certificate for the host;
    // 3: failed every try.
    auto rank = [tries](const Result& r) {
        return usable(r) ? 0 : r.tries < tries || r.tls == Result::TlsPending ? 1 : r.answered > 0 ? 2 : 3;
    };
    if (rank(a) != rank(b))
        return rank(a) < rank(b);
    if (rank(a) != 0)
        return false;
    const qint64 avgA = a.totalMicros / a.answered, avgB = b.totalMicros / b.answered;
    if (avgA != avgB)
        return avgA < avgB;
    if (a.bestMicros != b.bestMicros)
        return a.bestMicros < b.bestMicros;
    return a.answered > b.answered;
}

QStringList SpeedTest::resultTexts(const Result& r, int tries)
{
    auto ms = [](qint64 micros) { return QStringLiteral("%1 ms").arg(micros / 1000.0, 0, 'f', 1); };
    QString outcome;
    if (r.tries < tries || r.tls == Result::TlsPending)
        outcome = QStringLiteral("测试中…");
    else if (r.answered > 0 && r.tls == Result::TlsMismatch)
        outcome = QStringLiteral("证书不符: ") + r.tlsNames;
    else if (r.answered > 0 && r.tls == Result::TlsUntrusted)
        outcome = QStringLiteral("证书不受信任");
    else if (r.answered > 0 && r.tls == Result::TlsFailed)
        outcome = QStringLiteral("TLS 失败");
    else if (r.answered == tries)
        outcome = QStringLiteral("可用");
    else if (r.refused > 0 && r.refused >= r.timedOut)
        outcome = QStringLiteral("拒绝");
    else if (r.timedOut > 0)
        outcome = QStringLiteral("超时");
    else
        outcome = r.error;
    QString tls;
    if (r.tls == Result::TlsNotNeeded && r.answered > 0)
        tls = QStringLiteral("不检查");
    else if (r.tls != Result::TlsPending && r.tlsMicros > 0)
        tls = ms(r.tlsMicros);
    return {QStringLiteral("%1/%2").arg(r.answered).arg(r.tries),
            r.answered ? ms(r.totalMicros / r.answered) : QString(),
            r.answered ? ms(r.bestMicros) : QString(), outcome, tls};
}

SpeedTest::SpeedTest(ConnectPool* pool, QObject* parent) : QObject(parent), m_pool(pool) {}

SpeedTest::~SpeedTest()
{
    stop();
}

void SpeedTest::stop()
{
    // Tries queued answer Cancelled at once, running ones within a few milliseconds; their
    // answers carry an old generation and are dropped.
    if (m_cancel)
        m_cancel->store(true);
    m_cancel.reset();
    m_pending = 0;
    m_measuring = 0;
    m_nextToMeasure = int(m_entries.size());
    ++m_generation;
}

void SpeedTest::start(const QList<Candidate>& candidates, quint16 port, int tries, int timeoutMs,
                      const QString& serverName)
{
    stop();
    m_serverName = serverName;
    m_port = port;
    m_tries = qMax(1, tries);
    m_timeoutMs = timeoutMs;
    m_entries.clear();
    m_order.clear();
    m_changed.clear();
    m_isChanged.clear();
    m_entries.reserve(candidates.size());
    for (const Candidate& c : candidates)
        m_entries.append({c, Result()});
    // None has an answer yet: equals, in the order given.
    m_order.resize(m_entries.size());
    std::iota(m_order.begin(), m_order.end(), 0);
    m_isChanged.assign(size_t(m_entries.size()), 0);
    m_nextToMeasure = 0;
    m_measuring = 0;
    m_pending = int(m_entries.size());
    measureMore();
    emit changed();
    if (!running())
        emit finished();
}

void SpeedTest::measureMore()
{
    // A few candidates at a time, each try queued when the one before it answered: the pool's
    // queue stays short however long the list, so that starting, stopping and sharing the pool
    // with another 测速 cost nothing in proportion to the list.
    while (m_measuring < ConnectPool::kMaxTries && m_nextToMeasure < m_entries.size()) {
        ++m_measuring;
        measure(m_nextToMeasure++);
    }
}

void SpeedTest::add(const QStringList& ips, Source source)
{
    for (const QString& text : ips) {
        const QString ip = text.trimmed();
        if (Platform::addressFamily(QStringView(ip)) == 0)
            continue;
        // A search: DNS gives a few addresses, once; a table of 100,000 would cost more.
        const auto same = std::find_if(m_entries.begin(), m_entries.end(), [&ip](const Entry& e) {
            return e.candidate.ip.compare(ip, Qt::CaseInsensitive) == 0;
        });
        if (same != m_entries.end()) {
            same->candidate.sources |= source;
            markChanged(int(same - m_entries.begin()));
            continue;
        }
        const int index = int(m_entries.size());
        m_entries.append({{ip, source}, Result()});
        markChanged(index);
        ++m_pending;
    }
    measureMore();
    emit changed();
}

void SpeedTest::measure(int index)
{
    if (!m_pool)
        return; // the window that owned the pool is going
    if (!m_cancel)
        m_cancel = std::make_shared<std::atomic<bool>>(false);
    const int generation = m_generation;
    m_pool->connectTo(
        m_entries[index].candidate.ip, m_port, m_timeoutMs, this,
        [this, generation, index](const Platform::ConnectTry& t) { tried(generation, index, t); }, m_cancel);
}

void SpeedTest::tried(int generation, int index, const Platform::ConnectTry& t)
{
    if (generation != m_generation || t.outcome == Platform::ConnectTry::Cancelled)
        return;
    Result& r = m_entries[index].result;
    ++r.tries;
    switch (t.outcome) {
    case Platform::ConnectTry::Connected:
        ++r.answered;
        r.totalMicros += t.micros;
        r.bestMicros = r.answered == 1 ? t.micros : qMin(r.bestMicros, t.micros);
        break;
    case Platform::ConnectTry::Refused:
        ++r.refused;
        break;
    case Platform::ConnectTry::TimedOut:
        ++r.timedOut;
        break;
    default:
        r.error = t.error;
        break;
    }
    markChanged(index);
    // One handshake, beside the candidate's next tries once it has answered: a server that
    // accepts and never answers the handshake costs no time of its own.
    if (t.outcome == Platform::ConnectTry::Connected && r.answered == 1 && checksTls() && m_pool) {
        r.tls = Result::TlsPending;
        m_pool->checkTls(
            m_entries[index].candidate.ip, m_port, m_serverName, m_timeoutMs, this,
            [this, generation, index](const TlsTry& t) { checked(generation, index, t); }, m_cancel);
    }
    // One try after another: the next one of this candidate waits for this one's answer.
    if (r.tries < m_tries)
        measure(index);
    else if (r.tls != Result::TlsPending)
        ended(index);
    emit changed();
    if (!running())
        emit finished();
}

void SpeedTest::checked(int generation, int index, const TlsTry& t)
{
    if (generation != m_generation || t.outcome == TlsTry::Cancelled)
        return;
    Result& r = m_entries[index].result;
    r.tlsMicros = t.micros;
    r.tlsNames = t.names;
    r.tls = t.outcome == TlsTry::Valid          ? Result::TlsValid
            : t.outcome == TlsTry::NameMismatch ? Result::TlsMismatch
            : t.outcome == TlsTry::Untrusted    ? Result::TlsUntrusted
                                                : Result::TlsFailed;
    if (r.tls == Result::TlsFailed && !t.error.isEmpty())
        r.error = t.error;
    markChanged(index);
    if (r.tries >= m_tries)
        ended(index);
    emit changed();
    if (!running())
        emit finished();
}

void SpeedTest::ended(int index)
{
    Q_UNUSED(index);
    --m_pending;
    --m_measuring;
    measureMore();
}

void SpeedTest::markChanged(int index)
{
    if (size_t(index) >= m_isChanged.size())
        m_isChanged.resize(size_t(m_entries.size()), 0);
    if (!m_isChanged[size_t(index)]) {
        m_isChanged[size_t(index)] = 1;
        m_changed.append(index);
    }
}

void SpeedTest::lookUp(std::function<QStringList(QString* error)> lookup, Source source)
{
    if (!m_pool)
        return;
    ++m_lookups;
    const int generation = m_generation;
    auto answered = [this, generation, source](const QStringList& ips, const QString& error) {
        --m_lookups;
        if (ips.isEmpty())
            m_lookupError = error;
        if (generation == m_generation)
            add(ips, source);
        if (!running())
            emit finished();
    };
    // A DNS query cannot be cancelled: it runs on a thread of the pool, which joins it, and its
    // answer reaches this object only while it lives.
    m_pool->run(
        [lookup = std::move(lookup), answered] {
            QString error;
            const QStringList ips = lookup(&error);
            return std::function<void()>([answered, ips, error] { answered(ips, error); });
        },
        this, [answered](const QString& reason) { answered({}, reason); });
}

bool SpeedTest::less(int a, int b) const
{
    const Result& ra = m_entries[a].result;
    const Result& rb = m_entries[b].result;
    if (before(ra, rb, m_tries))
        return true;
    if (before(rb, ra, m_tries))
        return false;
    return a < b; // equals stay in the order they were added
}

const QList<int>& SpeedTest::order()
{
    if (m_changed.isEmpty())
        return m_order;
    // The changed entries are taken out, sorted among themselves and merged back in.
    QList<int> rest;
    rest.reserve(m_entries.size());
    for (const int i : std::as_const(m_order)) {
        if (!m_isChanged[size_t(i)])
            rest.append(i);
    }
    std::sort(m_changed.begin(), m_changed.end(), [this](int a, int b) { return less(a, b); });
    m_order.resize(rest.size() + m_changed.size());
    std::merge(rest.cbegin(), rest.cend(), m_changed.cbegin(), m_changed.cend(), m_order.begin(),
               [this](int a, int b) { return less(a, b); });
    for (const int i : std::as_const(m_changed))
        m_isChanged[size_t(i)] = 0;
    m_changed.clear();
    return m_order;
}
