#pragma once

#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <vector>

class HostsDocument;

// The active rows of a hosts document that the resolver never uses: an address that is not a
// valid IPv4 or IPv6 address, or a host that an earlier active row already maps for the same
// address family (the resolver takes the first). Disabled and deleted rows count for nothing;
// a host mapped for IPv4 and for IPv6 is no duplicate. It follows the document's changes by
// itself: a reading indexes every row once, an edit moves one row in the index.
class DeadLines : public QObject
{
    Q_OBJECT

public:
    explicit DeadLines(const HostsDocument* document, QObject* parent = nullptr);

    // Why row (0-based) is never used, for its tooltip; empty if it may be used, or if row is
    // out of range.
    QString reason(int row) const;

    // The first active row (0-based) that maps host for family (4 or 6), or -1.
    int firstMapping(QByteArrayView host, int family) const;

signals:
    // The marks of rows may have changed (after a reading or an edit).
    void changed();

private:
    struct Entry
    {
        quint32 key;
        qint32 row;
        bool operator<(const Entry& o) const { return key != o.key ? key < o.key : row < o.row; }
    };
    void rebuild();
    void update(int first, int last);
    void insertRows(int first, int last);
    // The key of a row's mapping with a valid address; 0 for none.
    quint32 keyOf(int row, int* family = nullptr) const;
    bool sameHost(int row, QByteArrayView host, int family) const;

    const HostsDocument* m_document;
    std::vector<Entry> m_index;   // every active row with a valid address, by key then row
    std::vector<quint32> m_keyOf; // each row's key in m_index, 0 for none
};
