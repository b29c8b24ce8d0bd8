#include "core/hosts/HostsFilter.h"

#include "core/hosts/HostsDocument.h"

#include <algorithm>

namespace {

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The characters that a character outside ASCII folds to (QChar::toCaseFolded), found once:
// "k" for the Kelvin sign "K", "s" for "ſ", "ß" for "ẞ". Qt's table has no list of them.
const std::vector<char32_t>& foldTargets()
{
    static const std::vector<char32_t> targets = [] {
        std::vector<char32_t> t;
        for (char32_t u = 0x80; u <= 0x10FFFF; ++u) {
            const char32_t f = QChar::toCaseFolded(u);
            if (f != u)
                t.push_back(f);
        }
        std::sort(t.begin(), t.end());
        t.erase(std::unique(t.begin(), t.end()), t.end());
        return t;
    }();
    return targets;
}

// Whether the bytes of c, with ASCII letters in either case, stand in exactly the lines that a
// comparison without regard to case (QString::contains) finds c in: an ASCII character unless a
// character outside ASCII folds to it; any other that folds to no other and none to it.
bool foundByBytes(QChar c)
{
    const char16_t u = c.unicode();
    if (c.isSurrogate())
        return false;
    const std::vector<char32_t>& targets = foldTargets();
    if (u < 0x80)
        return !std::binary_search(targets.begin(), targets.end(), char32_t(lower(char(u))));
    return QChar::toCaseFolded(char32_t(u)) == u &&
           !std::binary_search(targets.begin(), targets.end(), char32_t(u));
}

bool valuesMatch(const HostsValues& v, const QString& text)
{
    return v.ip.contains(text, Qt::CaseInsensitive) || v.host.contains(text, Qt::CaseInsensitive);
}

} // namespace

HostsFilter::HostsFilter(const HostsDocument& document, const QString& text, const std::vector<int>* within)
    : m_document(document), m_text(text)
{
    if (within) {
        m_narrowed = true;
        m_within = *within;
    }
    // The rows read from the file come first; rows the user added follow them.
    m_fileRows = 0;
    while (m_fileRows < document.rowCount() && !document.lineBytes(m_fileRows).isNull())
        ++m_fileRows;
    // A byte search finds every line that holds the text, unless the text has characters that
    // match others of other bytes (foundByBytes). Then the longest part of the text without them
    // is searched for, and each line found is read as text; with no such part, every line.
    QStringView anchor, run;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const QChar c = i < text.size() ? text[i] : QChar();
        if (i < text.size() && foundByBytes(c)) {
            run = QStringView(text).mid(i - run.size(), run.size() + 1);
            continue;
        }
        if (run.size() > anchor.size())
            anchor = run;
        run = QStringView();
    }
    const bool whole = anchor.size() == text.size();
    QByteArray encoded;
    if (anchor.isEmpty()) {
        m_searchBytes = false;
    } else if (!document.codec().encode(anchor, &encoded)) {
        m_next = m_fileRows; // no line of the file can hold it; edited rows still may
    } else {
        for (char& c : encoded)
            c = lower(c);
        m_needle = encoded;
        // In UTF-8 no byte of one character stands inside another; in GBK and its like an ASCII
        // letter can be the second byte of a character, so a byte match is read again as text.
        const QByteArray name = document.codec().encoding().toUpper();
        m_bytesExact = whole && (name == "UTF-8" || name == "UTF8");
        const qsizetype n = m_needle.size();
        m_skip.fill(n);
        for (qsizetype i = 0; i + 1 < n; ++i) {
            const uchar c = uchar(m_needle[i]);
            m_skip[c] = n - 1 - i;
            if (c >= 'a' && c <= 'z')
                m_skip[c - 'a' + 'A'] = n - 1 - i;
        }
    }
}

const char* HostsFilter::findBytes(const char* from, const char* end) const
{
    // Horspool's search with a shift table that treats both cases of a letter alike.
    const qsizetype n = m_needle.size();
    const char* needle = m_needle.constData();
    const char last = needle[n - 1];
    while (end - from >= n) {
        const char c = from[n - 1];
        if (lower(c) == last) {
            qsizetype i = n - 2;
            while (i >= 0 && lower(from[i]) == needle[i])
                --i;
            if (i < 0)
                return from;
        }
        from += m_skip[uchar(c)];
    }
    return end;
}

bool HostsFilter::rowMatches(int row) const
{
    return m_document.codec().decode(m_document.lineBytes(row)).contains(m_text, Qt::CaseInsensitive);
}

bool HostsFilter::step(qsizetype budgetBytes)
{
    if (m_done)
        return true;
    if (m_text.isEmpty()) {
        m_rows.resize(size_t(m_document.rowCount()));
        for (int i = 0; i < m_document.rowCount(); ++i)
            m_rows[size_t(i)] = i;
        m_done = true;
        return true;
    }
    qsizetype spent = 0;
    if (m_narrowed) {
        // Only the rows found for a part of this text can hold all of it.
        for (; m_nextCandidate < m_within.size() && spent < budgetBytes; ++m_nextCandidate) {
            const int row = m_within[m_nextCandidate];
            if (row >= m_fileRows || m_next >= m_fileRows)
                continue; // no line of the file, or no line can hold the text
            const QByteArrayView line = m_document.lineBytes(row);
            spent += line.size() + 1;
            const char* const end = line.data() + line.size();
            const bool found = m_searchBytes ? findBytes(line.data(), end) != end && (m_bytesExact || rowMatches(row))
                                             : rowMatches(row);
            if (found)
                m_rows.push_back(row);
        }
        if (m_nextCandidate < m_within.size())
            return false;
        finish();
        return true;
    }
    if (!m_searchBytes) {
        for (; m_next < m_fileRows && spent < budgetBytes; ++m_next) {
            spent += m_document.lineBytes(m_next).size() + 1;
            if (rowMatches(m_next))
                m_rows.push_back(m_next);
        }
    } else if (m_next < m_fileRows) {
        // The rows of the file stand one after the other in its bytes: one search runs over
        // the lines of this step, and a match names the row it falls in.
        int last = m_next;
        const char* const begin = m_document.lineBytes(m_next).data();
        while (last + 1 < m_fileRows && m_document.lineBytes(last).data() - begin < budgetBytes)
            ++last;
        const QByteArrayView lastLine = m_document.lineBytes(last);
        const char* const end = lastLine.data() + lastLine.size();
        const char* at = begin;
        int row = m_next;
        while ((at = findBytes(at, end)) != end) {
            QByteArrayView line = m_document.lineBytes(row);
            while (line.data() + line.size() < at + m_needle.size())
                line = m_document.lineBytes(++row);
            if (at < line.data()) { // across a line end: not within one row
                ++at;
                continue;
            }
            if (m_bytesExact || rowMatches(row))
                m_rows.push_back(row);
            // The row is decided: the next match that counts is in a later row.
            at = line.data() + line.size();
            if (at >= end)
                break;
        }
        m_next = last + 1;
    }
    if (m_next < m_fileRows)
        return false;
    finish();
    return true;
}

void HostsFilter::finish()
{
    // Rows the user edited show their values, not their line; rows the user added that were
    // never edited show nothing.
    const QList<int> edited = m_document.editedRows();
    m_done = true;
    if (edited.isEmpty())
        return; // the rows found are in order
    const auto editedNow = [this](int row) { return m_document.isEdited(row); };
    m_rows.erase(std::remove_if(m_rows.begin(), m_rows.end(), editedNow), m_rows.end());
    for (const int row : edited) {
        if (row < m_document.rowCount() && valuesMatch(m_document.values(row), m_text))
            m_rows.push_back(row);
    }
    std::sort(m_rows.begin(), m_rows.end());
}

std::vector<int> HostsFilter::matchingRows(const HostsDocument& document, const QString& text)
{
    HostsFilter filter(document, text);
    while (!filter.step(1 << 20)) {
    }
    return filter.rows();
}
