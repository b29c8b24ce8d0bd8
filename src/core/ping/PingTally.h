#pragma once

#include "core/ping/PingSummary.h"

#include <QDateTime>
#include <QList>
#include <QMetaType>

#include <optional>

// The live counts of one run and whether its target answers, fed one reply line at a time.
// A target that misses kMissesForDown replies in a row (after having answered, or from the
// start) is down; its first reply after that brings it back up. An outage starts at the first
// missed reply of its row.
//
// iputils numbers its requests: the highest icmp_seq seen is the number sent, so that a gap in
// the numbers (ping without -O writes nothing for a lost request) counts as lost requests, and
// a reply that comes after its "no answer yet" line counts as received without being sent twice.
// Windows' lines have no number: each reply or loss line is one request.
class PingTally
{
public:
    static constexpr int kMissesForDown = 2;

    enum class State {
        Running, // 进行中: no reply yet, not down
        Up,      // 在线
        Down,    // 离线
        Ended,   // 已结束
        Stopped, // 已停止
    };

    struct Outage

    {
        QDateTime start;
        QDateTime end;          // invalid while the target is still down
        bool recovered = false; // false: end is where its run ended with the target still down
        qint64 seconds() const { return start.secsTo(end); }
    };

    // What a line changed in the target's state: it went down (an outage began) or came back
    // (the outage ended).
    struct Change
    {
        enum Kind { Down, Up } kind = Down;
        Outage outage;
    };

    // Counts the line read at time at; returns the changes it brought, in order: none, one, or
    // (a reply after a gap in icmp_seq of kMissesForDown or more) a Down and the Up after it. A
    // line of no form (Kind::None) changes nothing.
    QList<Change> feed(const PingReply& reply, const QDateTime& at);

    // The run has ended (or was stopped) at time at: the outage still open, if any, is returned
    // with at as its end and recovered false, so that it is recorded.
    std::optional<Outage> finish(bool stopped, const QDateTime& at);

    State state() const { return m_state; }
    int sent() const { return m_sent; }
    int received() const { return m_received; }
    double lossPercent() const
    {
        return m_sent > 0 ? 100.0 * (m_sent - qMin(m_received, m_sent)) / m_sent : 0;
    }
    bool hasTimes() const { return m_received > 0; }
    double lastMs() const { return m_lastMs; }
    double averageMs() const { return m_received > 0 ? m_sumMs / m_received : 0; }
    QDateTime lastChange() const { return m_lastChange; }
    // The counts in the form of ping's statistics (for a run stopped before it wrote its own).
    PingSummary summary() const;
    bool isDown() const { return m_state == State::Down; }

private:
    std::optional<Change> miss(int count, const QDateTime& at);
    std::optional<Change> answer(double ms, const QDateTime& at);

    State m_state = State::Running;
    int m_sent = 0;
    int m_received = 0;
    int m_highestSeq = 0;
    int m_misses = 0; // in a row
    double m_lastMs = 0;
    double m_sumMs = 0;
    double m_minMs = 0;
    double m_maxMs = 0;
    QDateTime m_firstMiss; // of the misses in a row
    QDateTime m_downSince;
    QDateTime m_lastChange;
};

Q_DECLARE_METATYPE(PingTally)
