#pragma once

#include "core/hosts/HostsDocument.h"
#include "platform/Network.h"

#include <QList>
#include <QString>
#include <QStringList>

class DeadLines;

// Whether a save took effect: which names to ask the system's resolver after it, and the short
// lines that the success message gives for its answers.
namespace EffectCheck {

struct Probe {
    QString host;
    QString ip;      // canonical
    int family = 4;  // 4 or 6
    bool win = true; // the system should answer with ip; false: it should no longer
    int earlier =
        -1; // a row (0-based) of the saved file that maps host for family first, with another address
    QString earlierIp;
    // The resolver answers with the first line that maps host only (Platform::HostsRule): then
    // ip must be the first address of its family in the answer, else any of them.
    bool firstOnly = true;
};

struct Answer {
    QStringList addresses; // as the resolver gave them
    QString error;         // why it gave none
    bool answered = true;  // false: no answer within the check's limit
};

// The probes of a save, in row order: each changed row that now maps a host to a valid
// address should win; each row that mapped a host before and no longer does (disabled,
// deleted, address or host changed) should no longer win, unless a line of the saved file
// still maps that host to that address. saved and dead are the file as read after the save. At
// most limit probes; *more counts the changes left unchecked. Rows with an invalid address are
// left out: their marks say why.
QList<Probe> plan(const QList<RowChange>& changes, const HostsDocument& saved, const DeadLines& dead,
                  int limit, int* more);

// The success message's lines: a failed cache flush first, then one line per probe, the number
// left unchecked, and the remark on browsers' own caches once if a row did not take effect.
// answers pairs with probes. unavailable (not empty): the one line says why nothing was asked.
QStringList lines(const QList<Probe>& probes, const QList<Answer>& answers, const Platform::CacheFlush& flush,
                  int more, const QString& unavailable);

// True if the resolver's answer makes probe's address one that is used: the first address of
// its family in the answer, or any address of its family where every line counts.
bool wins(const Probe& probe, const Answer& answer);

} // namespace EffectCheck
