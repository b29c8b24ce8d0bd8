#include "core/ping/PingTally.h"

QList<PingTally::Change> PingTally::feed(const PingReply& reply, const QDateTime& at)
{
    QList<Change> changes;
    if (reply.kind == PingReply::Kind::None || m_state == State::Ended || m_state == State::Stopped)
        return changes;
    const bool isReply = reply.kind == PingReply::Kind::Reply;
    int missed = isReply ? 0 : 1;
    if (reply.seq < 0) {
        ++m_sent;
    } else if (reply.seq > m_highestSeq) {
        // A numbered line: the requests between the highest number seen and this one were lost.
        missed = reply.seq - m_highestSeq - (isReply ? 1 : 0);
        m_sent += reply.seq - m_highestSeq;
        m_highestSeq = reply.seq;
    } else {
        missed = 0; // a loss told again, or a late reply to a request already counted
    }
    if (missed > 0) {
        if (const std::optional<Change> down = miss(missed, at))
            changes.append(*down);
    }
    if (isReply) {
        if (const std::optional<Change> up = answer(reply.ms, at))
            changes.append(*up);
    }
    return changes;
}

std::optional<PingTally::Change> PingTally::miss(int count, const QDateTime& at)
{
    if (m_misses == 0)
        m_firstMiss = at;
    m_misses += count;
    if (m_misses < kMissesForDown || m_state == State::Down)
        return std::nullopt;
    m_state = State::Down;
    m_downSince = m_firstMiss;
    m_lastChange = at;
    return Change{Change::Down, {m_downSince, QDateTime(), false}};
}

std::optional<PingTally::Change> PingTally::answer(double ms, const QDateTime& at)
{
    m_minMs = m_received == 0 ? ms : qMin(m_minMs, ms);
    m_maxMs = m_received == 0 ? ms : qMax(m_maxMs, ms);
    ++m_received;
    m_lastMs = ms;
    m_sumMs += ms;
    m_misses = 0;
    const State before = m_state;
    if (before == State::Up)
        return std::nullopt;
    m_state = State::Up;
    m_lastChange = at;
    if (before != State::Down)
        return std::nullopt;
    return Change{Change::Up, {m_downSince, at, true}};
}

std::optional<PingTally::Outage> PingTally::finish(bool stopped, const QDateTime& at)
{
    if (m_state == State::Ended || m_state == State::Stopped)
        return std::nullopt;
    const bool wasDown = m_state == State::Down;
    m_state = stopped ? State::Stopped : State::Ended;
    m_lastChange = at;
    if (!wasDown)
        return std::nullopt;
    return Outage{m_downSince, at, false};
}

PingSummary PingTally::summary() const
{
    PingSummary s;
    s.sent = m_sent;
    s.received = m_received;
    s.lossPercent = lossPercent();
    s.hasTimes = m_received > 0;
    s.minMs = m_minMs;
    s.avgMs = averageMs();
    s.maxMs = m_maxMs;
    return s;
}
