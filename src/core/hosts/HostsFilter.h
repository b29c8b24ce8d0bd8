#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <vector>

class HostsDocument;

// Finds the rows of a HostsDocument that contain a text, ignoring case: a row the user has not
// touched matches if its line as read does, a row the user edited or added if its IP or host
// does. The search runs in steps, so that a window can take input between them; the document
// must not be reset while it runs (its rows may be edited: those are looked at in the last step).
class HostsFilter
{
public:
    // An empty text matches every row. within, if given, are the rows found for a part of the
    // text in the same document, with no reset in between: only they and the rows edited since
    // are looked at (typing on narrows the search).
    HostsFilter(const HostsDocument& document, const QString& text, const std::vector<int>* within = nullptr);

    // Looks at the next rows, about budgetBytes of the file's bytes, and returns whether every
    // row has been looked at. Calls after that do nothing.
    bool step(qsizetype budgetBytes);
    bool isDone() const { return m_done; }

    // The 0-based matching rows in ascending order, once step() has returned true.
    const std::vector<int>& rows() const { return m_rows; }

    // All steps at once.
    static std::vector<int> matchingRows(const HostsDocument& document, const QString& text);

private:
    bool rowMatches(int row) const; // by its line as read, decoded
    void finish();
    // The next place at or after from where the needle's bytes stand, ignoring the case of
    // ASCII letters; end if none.
    const char* findBytes(const char* from, const char* end) const;

    const HostsDocument& m_document;
    QString m_text;
    QByteArray m_needle; // the text (or a part) in the file's encoding, ASCII letters in lower case
    std::array<qsizetype, 256> m_skip{};
    // Whether a byte match is a match: false where the file's encoding lets ASCII bytes stand
    // inside other characters, or where the text has letters whose cases differ in bytes.
    bool m_bytesExact = false;
    bool m_searchBytes = true; // false: every line is decoded and compared as text
    int m_next = 0; // the next row to look at
    bool m_narrowed = false;
    std::vector<int> m_within;
    size_t m_nextCandidate = 0; // in m_within
    int m_fileRows = 0;
    bool m_done = false;
    std::vector<int> m_rows;
};
