#include "core/hosts/SpeedTest.h"

#include <QCoreApplication>
#include <QMetaObject>

void SpeedTest::addCandidates(QList<Candidate>* list, const QStringList& ips, Source source)
{
    for (const QString& text : ips) {
        const QString ip = text.trimmed();
        if (Platform::addressFamily(QStringView(ip)) == 0)
            continue;
        auto same = std::find_if(list->begin(), list->end(), [&](const Candidate& c) {
            return c.ip.compare(ip, Qt::CaseInsensitive) == 0;
        });
        if (same != list->end())
            same->sources |= source;
        else
            list->append({ip, source});
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

bool SpeedTest::before(const Result& a, const Result& b, int tries)
{
    // 0: answered; 1: still measured without an answer; 2: failed every try.
    auto rank = [tries](const Result& r) { return r.answered > 0 ? 0 : r.tries < tries ? 1 : 2; };
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
    if (r.tries < tries)
        outcome = QStringLiteral("测试中…");
    else if (r.answered == tries)
        outcome = QStringLiteral("可用");
    else if (r.refused > 0 && r.refused >= r.timedOut)
        outcome = QStringLiteral("拒绝");
    else if (r.timedOut > 0)
        outcome = QStringLiteral("超时");
    else
        outcome = r.error;
    return {QStringLiteral("%1/%2").arg(r.answered).arg(r.tries),
            r.answered ? ms(r.totalMicros / r.answered) : QString(),
            r.answered ? ms(r.bestMicros) : QString(), outcome};
}

SpeedTest::SpeedTest(Platform::Connector connector, QObject* parent)
    : QObject(parent), m_connector(std::move(connector)), m_self(std::make_shared<SpeedTest*>(this))
{
}

SpeedTest::~SpeedTest()
{
    *m_self = nullptr;
    stop();
}

void SpeedTest::stop()
{
    // Each try looks at the flag every few milliseconds: the threads end at once.
    if (m_cancel)
        m_cancel->store(true);
    for (std::thread& t : m_threads)
        t.join();
    m_threads.clear();
    m_pending = 0;
    ++m_generation; // results already posted are dropped
}

void SpeedTest::start(const QList<Candidate>& candidates, quint16 port, int tries, int timeoutMs)
{
    stop();
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_port = port;
    m_tries = qMax(1, tries);
    m_timeoutMs = timeoutMs;
    m_entries.clear();
    for (const Candidate& c : candidates)
        m_entries.append({c, Result()});
    for (int i = 0; i < m_entries.size(); ++i)
        measure(i);
    emit changed();
    if (m_pending == 0 && m_lookups == 0)
        emit finished();
}

void SpeedTest::add(const QStringList& ips, Source source)
{
    QList<Candidate> list;
    for (const Entry& e : std::as_const(m_entries))
        list << e.candidate;
    const qsizetype known = list.size();
    addCandidates(&list, ips, source);
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i < known) {
            m_entries[i].candidate.sources = list[i].sources;
        } else {
            m_entries.append({list[i], Result()});
            measure(int(i));
        }
    }
    emit changed();
}

void SpeedTest::measure(int index)
{
    if (!m_cancel)
        m_cancel = std::make_shared<std::atomic<bool>>(false);
    ++m_pending;
    const QString ip = m_entries[index].candidate.ip;
    const int generation = m_generation;
    m_threads.emplace_back([this, ip, index, generation, cancel = m_cancel, connector = m_connector,
                            port = m_port, tries = m_tries, timeout = m_timeoutMs] {
        for (int t = 0; t < tries && !cancel->load(); ++t) {
            const Platform::ConnectTry result = connector(ip, port, timeout, cancel.get());
            if (result.outcome == Platform::ConnectTry::Cancelled || cancel->load())
                return;
            // Delivered on this object's thread; the destructor joins this thread first.
            QMetaObject::invokeMethod(
                this, [=] { tried(generation, index, result); }, Qt::QueuedConnection);
        }
    });
}

void SpeedTest::tried(int generation, int index, const Platform::ConnectTry& t)
{
    if (generation != m_generation)
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
    if (r.tries == m_tries)
        --m_pending;
    emit changed();
    if (!running())
        emit finished();
}

void SpeedTest::lookUp(std::function<QStringList(QString* error)> lookup, Source source)
{
    ++m_lookups;
    // A DNS query cannot be cancelled and may take seconds: its thread is left to end alone and
    // posts its answer through the application, to this object only while it lives.
    std::thread([lookup = std::move(lookup), self = m_self, source] {
        QString error;
        const QStringList ips = lookup(&error);
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [=] {
                SpeedTest* test = *self;
                if (!test)
                    return;
                --test->m_lookups;
                if (ips.isEmpty())
                    test->m_lookupError = error;
                test->add(ips, source);
                if (!test->running())
                    emit test->finished();
            },
            Qt::QueuedConnection);
    }).detach();
}

QList<int> SpeedTest::order() const
{
    QList<int> out;
    for (int i = 0; i < m_entries.size(); ++i)
        out << i;
    std::stable_sort(out.begin(), out.end(), [this](int a, int b) {
        return before(m_entries[a].result, m_entries[b].result, m_tries);
    });
    return out;
}
