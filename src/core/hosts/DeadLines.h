#pragma once

#include "platform/Network.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <vector>

class HostsDocument;
class QThread;

// The active rows of a hosts document that the resolver never uses: an address that is not a
// valid IPv4 or IPv6 address, or, where the resolver answers with the first line that maps a
// name (Platform::HostsRule), a row each of whose names an earlier active row already maps for
// the same address family (a line maps every name on it, up to a "#"). Disabled and deleted
// rows count for nothing; a host mapped for IPv4 and for IPv6 is no duplicate. It follows the
// document's changes by itself: a reading indexes every row once, an edit moves one row in the
// index. A large file is indexed on a thread of its own, so that the window shows at once; until
// that is done, only invalid addresses are marked.
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

    // Waits for the index of a large file, which firstMapping and the marks of duplicates need.
    void waitUntilReady();
    bool isReady() const { return m_ready; }
    // Indexes the current reading and every later one: a small file as soon as the events
    // waiting now are handled, a large one on its thread from then on.
    void start();

    // Why row (0-based) is never used, for its tooltip; empty if it may be used, or if row is
    // out of range.
    QString reason(int row) const;

    // The first active row (0-based) that maps host for family (4 or 6), or -1.
    int firstMapping(QByteArrayView host, int family) const;
    // Every active row that maps host for family, in row order.
    std::vector<int> mappings(QByteArrayView host, int family) const;

    // How the resolver answers for a name that several rows map, read from the system once per
    // reading of the file by whoever reads it; the first row wins until set.
    void setRule(const Platform::HostsRule& rule);
    const Platform::HostsRule& rule() const { return m_rule; }

signals:
    // The marks of rows may have changed (after a reading or an edit).
    void changed();

private:
    struct Entry {
        quint32 key;
        qint32 row;
        bool operator<(const Entry& o) const { return key != o.key ? key < o.key : row < o.row; }
    };
    void rebuild();
    void stopIndexing();
    // The index of a reading, made on any thread from the file's bytes alone.
    static void indexLines(const QByteArray& bytes, qsizetype from, int rows, const std::atomic<bool>& cancel,
                           std::vector<Entry>* index);
    void takeIndex(int generation);
    void update(int first, int last);
    void insertRows(int first, int last);
    bool sameHost(int row, QByteArrayView host, int family) const;

    const HostsDocument* m_document;
    std::vector<Entry> m_index; // every name of every row of the reading, by key then row
    std::vector<Entry> m_added; // keys that edits gave rows since, by key then row
    Platform::HostsRule m_rule;
    bool m_started = true;
    bool m_ready = true;
    std::vector<int> m_dirty; // rows changed while the index was made
    int m_generation = 0;
    QThread* m_indexer = nullptr;
    std::atomic<bool> m_cancel{false};
    std::vector<Entry> m_newIndex; // written by the indexer, read after it ended
};
