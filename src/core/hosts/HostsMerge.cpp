#include "core/hosts/HostsMerge.h"

#include <QHashFunctions>

#include <algorithm>

namespace HostsMerge {

std::vector<Line> split(QByteArrayView bytes, bool* bom)
{
    std::vector<Line> lines;
    qsizetype pos = 0;
    *bom = bytes.startsWith("\xEF\xBB\xBF");
    if (*bom)
        pos = 3;
    while (pos < bytes.size()) {
        const LineSpan line = lineAt(bytes, pos);
        lines.push_back(Line{bytes.sliced(pos, line.length), bytes.sliced(pos + line.length, line.endLength)});
        pos += line.length + line.endLength;
    }
    return lines;
}

namespace {

// The shortest edit script between a[0..n) and b[0..m) (Myers, "An O(ND) Difference Algorithm",
// 1986), as matched pairs written into match; false if it needs more than maxEdits edits.
template <typename Equal>
bool shortestEdit(qsizetype n, qsizetype m, const Equal& equal, int maxEdits, qsizetype* match)
{
    const qsizetype limit = std::min<qsizetype>(n + m, maxEdits);
    std::vector<qsizetype> v(size_t(2 * limit + 3), 0);
    const qsizetype mid = limit + 1;
    std::vector<std::vector<qsizetype>> trace; // v[-d .. d] at the start of step d
    for (qsizetype d = 0; d <= limit; ++d) {
        trace.emplace_back(v.begin() + (mid - d), v.begin() + (mid + d + 1));
        for (qsizetype k = -d; k <= d; k += 2) {
            qsizetype x = (k == -d || (k != d && v[mid + k - 1] < v[mid + k + 1])) ? v[mid + k + 1]
                                                                                   : v[mid + k - 1] + 1;
            qsizetype y = x - k;
            while (x < n && y < m && equal(x, y)) {
                ++x;
                ++y;
            }
            v[mid + k] = x;
            if (x < n || y < m)
                continue;
            // Walk back through the steps, marking the diagonal moves.
            for (qsizetype e = d; e >= 0; --e) {
                const std::vector<qsizetype>& t = trace[e];
                auto at = [&](qsizetype kk) { return t[kk + e]; };
                const qsizetype kk = x - y;
                const qsizetype prevK = (kk == -e || (kk != e && at(kk - 1) < at(kk + 1))) ? kk + 1 : kk - 1;
                const qsizetype prevX = e == 0 ? 0 : at(prevK);
                const qsizetype prevY = e == 0 ? 0 : prevX - prevK;
                while (x > prevX && y > prevY) {
                    --x;
                    --y;
                    match[x] = y;
                }
                x = prevX;
                y = prevY;
            }
            return true;
        }
    }
    return false;
}

} // namespace

std::vector<qsizetype> match(const std::vector<Line>& a, const std::vector<Line>& b, int maxEdits)
{
    const qsizetype n = qsizetype(a.size()), m = qsizetype(b.size());
    std::vector<qsizetype> result(a.size(), -1);
    qsizetype head = 0;
    while (head < n && head < m && a[head].text == b[head].text) {
        result[head] = head;
        ++head;
    }
    qsizetype tail = 0;
    while (tail < n - head && tail < m - head && a[n - 1 - tail].text == b[m - 1 - tail].text) {
        result[n - 1 - tail] = m - 1 - tail;
        ++tail;
    }
    const qsizetype an = n - head - tail, bm = m - head - tail;
    if (an == 0 || bm == 0)
        return result;
    std::vector<size_t> ha(static_cast<size_t>(an)), hb(static_cast<size_t>(bm));
    for (qsizetype i = 0; i < an; ++i)
        ha[i] = qHash(a[head + i].text);
    for (qsizetype j = 0; j < bm; ++j)
        hb[j] = qHash(b[head + j].text);
    auto equal = [&](qsizetype i, qsizetype j) {
        return ha[i] == hb[j] && a[head + i].text == b[head + j].text;
    };
    std::vector<qsizetype> middle(static_cast<size_t>(an), -1);
    if (shortestEdit(an, bm, equal, maxEdits, middle.data())) {
        for (qsizetype i = 0; i < an; ++i)
            result[head + i] = middle[i] < 0 ? -1 : head + middle[i];
    }
    // Otherwise the whole middle counts as changed: a line the user changed there conflicts.
    return result;
}

bool merge(const std::vector<Line>& base, const std::vector<Change>& changes,
           const std::vector<QByteArray>& added, const std::vector<Line>& current, QByteArrayView lineEnd,
           QByteArray* out, qsizetype* conflict)
{
    if (current.empty() && !base.empty()) {
        *conflict = -1;
        return false;
    }
    const std::vector<qsizetype> matched = match(base, current);
    const qsizetype n = qsizetype(base.size());

    // Every base line the user changed must still be there unchanged; one the user deleted may
    // also be gone, if current dropped it without putting anything in its place.
    qsizetype prevMatched = -1; // the last matched line of current before the hunk
    for (qsizetype i = 0; i < n; ++i) {
        if (matched[i] >= 0) {
            prevMatched = matched[i];
            continue;
        }
        if (changes[i].kind == Change::Kept)
            continue;
        qsizetype next = i + 1;
        while (next < n && matched[next] < 0)
            ++next;
        const qsizetype nextMatched = next < n ? matched[next] : qsizetype(current.size());
        const bool onlyRemoved = nextMatched == prevMatched + 1;
        if (changes[i].kind == Change::Changed || !onlyRemoved) {
            *conflict = i;
            return false;
        }
    }

    QByteArray bytes;
    qsizetype size = 0;
    for (const Line& line : current)
        size += line.text.size() + 2;
    bytes.reserve(size + 64 * qsizetype(added.size()) + 64);
    auto put = [&](QByteArrayView text, QByteArrayView end) {
        bytes += text;
        bytes += end.isEmpty() ? lineEnd : end;
    };
    qsizetype c = 0; // the next line of current to write
    for (qsizetype i = 0; i < n; ++i) {
        if (matched[i] < 0)
            continue; // gone from current: removed or changed there
        for (; c < matched[i]; ++c)
            put(current[c].text, current[c].end); // only current has it
        switch (changes[i].kind) {
        case Change::Kept:
            put(current[c].text, current[c].end);
            break;
        case Change::Changed:
            put(changes[i].text, current[c].end);
            break;
        case Change::Deleted:
            break;
        }
        ++c;
    }
    for (; c < qsizetype(current.size()); ++c)
        put(current[c].text, current[c].end);
    for (const QByteArray& line : added)
        put(line, QByteArrayView());
    *out = bytes;
    return true;
}

bool mergeResult(QByteArrayView base, QByteArrayView result, QByteArrayView current, QByteArray* out,
                 qsizetype* conflict)
{
    if (current == base) {
        *out = result.toByteArray();
        return true;
    }
    bool bom = false, currentBom = false;
    const std::vector<Line> b = split(base, &bom), r = split(result, &bom), c = split(current, &currentBom);
    // The result's lines as changes of base's: in each run of lines between two lines that both
    // have, base's lines are changed into the result's in order, the base lines left over are
    // deleted, and result lines left over after the last common line are added.
    const std::vector<qsizetype> matched = match(b, r);
    std::vector<Change> changes(b.size());
    std::vector<QByteArray> added;
    qsizetype next = 0; // the next result line not yet given to a base line
    for (qsizetype i = 0; i <= qsizetype(b.size());) {
        qsizetype end = i;
        while (end < qsizetype(b.size()) && matched[end] < 0)
            ++end;
        const qsizetype until = end < qsizetype(b.size()) ? matched[end] : qsizetype(r.size());
        for (qsizetype j = i; j < end; ++j, ++next) {
            if (next < until)
                changes[j] = Change{Change::Changed, r[next].text.toByteArray()};
            else
                changes[j].kind = Change::Deleted;
        }
        if (next < until && end < qsizetype(b.size())) {
            *conflict = end;
            return false;
        }
        for (; next < until; ++next)
            added.push_back(r[next].text.toByteArray());
        next = until + 1;
        i = end + 1;
    }
    QByteArrayView lineEnd = "\n";
    for (const std::vector<Line>* lines : {&c, &r}) {
        auto withEnd = std::find_if(lines->begin(), lines->end(), [](const Line& l) { return !l.end.isEmpty(); });
        if (withEnd != lines->end()) {
            lineEnd = withEnd->end;
            break;
        }
    }
    QByteArray merged;
    if (!merge(b, changes, added, c, lineEnd, &merged, conflict))
        return false;
    *out = currentBom ? QByteArray("\xEF\xBB\xBF") + merged : merged;
    return true;
}

} // namespace HostsMerge
