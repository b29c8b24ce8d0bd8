#pragma once

#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <vector>

class HostsDocument;
class QThread;

// The active rows of a hosts document that the resolver never uses: an address that is not a
// valid IPv4 or IPv6 address, or a host that an earlier active row already maps for the same
// address family (the resolver takes the first). Disabled and deleted rows count for nothing;
// a host mapped for IPv4 and for IPv6 is no duplicate. It follows the document's changes by
// itself: a reading indexes every row once, an edit adds the row's mapping beside the index. A
// large file is indexed on a thread of its own, so that the window shows at once; until that is
// done, only invalid addresses are marked.
class DeadLines : public QObject
{
    Q_OBJECT

public:
    // When a reading is indexed: as it comes, or only once start() has been called (a window
    // starts it once it shows, so that the index takes nothing from its first paint).
    enum class Indexing { OnReading, WhenStarted };

    explicit DeadLines(const HostsDocument* document, QObject* parent = nullptr);
    DeadLines(const HostsDocument* document, Indexing indexing, QObject* parent = nullptr);
    ~DeadLines() override;

    // Indexes the current reading and every later one: a small file as soon as the events
    // waiting now are handled, a large one on its thread from then on.
    void start();

    // Makes the index now, or waits for the one being made: firstMapping and the marks of
    // duplicates need it.
    void waitUntilReady();
    bool isReady() const { return m_ready; }

    // Why row (0-based) is never used, for its tooltip; empty if it may be used, or if row is
    // out of range.
    QString reason(int row) const;

    // The first active row (0-based) that maps host for family (4 or 6), or -1.
    int firstMapping(QByteArrayView host, int family) const;

signals:
    // The marks of rows may have changed (after a reading or an edit).
    void changed();

private:
    // One host name that a row maps, by a 32-bit hash of the name and its address family: a
    // row's names are told apart from others' of the same key by the document's text.
    struct Entry {
        quint32 key;
        qint32 row;
        bool operator<(const Entry& o) const { return key != o.key ? key < o.key : row < o.row; }
    };
    void rebuild();
    void stopIndexing();
    // The index of a reading, made on any thread from the file's bytes alone; false if cancel
    // was seen.
    static bool indexLines(const QByteArray& bytes, qsizetype from, int rows, const std::atomic<bool>& cancel,
                           std::vector<Entry>* index);
    void takeIndex(int generation);
    void setReady(std::vector<Entry> index);
    void update(int first, int last);
    bool sameHost(int row, QByteArrayView host, int family) const;

    const HostsDocument* m_document;
    bool m_started = true;
    // The names every row of the reading mapped, by key then row; a row edited since may map
    // others now (firstMapping looks at the document).
    std::vector<Entry> m_index;
    std::vector<Entry> m_added; // names that edits gave rows since, by key then row
    bool m_ready = true;
    std::vector<int> m_dirty; // rows changed before the index was there
    int m_generation = 0;
    QThread* m_indexer = nullptr;
    std::atomic<bool> m_cancel{false};
    std::vector<Entry> m_newIndex; // written by the indexer, read after it ended
};
