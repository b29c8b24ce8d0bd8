#include "core/hosts/DeadLines.h"

#include "core/hosts/HostsDocument.h"
#include "core/hosts/HostsMerge.h"
#include "platform/Network.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

// A host name compares without regard to ASCII case, as resolvers compare it. A 32-bit key per
// row keeps the index at 8 bytes a row; rows whose keys collide are told apart by their text.
quint32 hostKey(QByteArrayView host, int family)
{
    quint32 h = 2166136261u ^ quint32(family);
    for (const char c : host) {
        h ^= quint8(c >= 'A' && c <= 'Z' ? c + 32 : c);
        h *= 16777619u;
    }
    return h == 0 ? 1 : h;
}

bool sameText(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool hasName(QByteArrayView names, QByteArrayView host)
{
    qsizetype pos = 0;
    for (QByteArrayView name = nextName(names, &pos); !name.isEmpty(); name = nextName(names, &pos)) {
        if (sameText(name, host))
            return true;
    }
    return false;
}

// Below this many rows the index is made at once: it takes a few milliseconds.
const int kIndexAside = 50000;

} // namespace

DeadLines::~DeadLines()
{
    stopIndexing();
}

void DeadLines::stopIndexing()
{
    if (!m_indexer)
        return;
    m_cancel = true;
    m_indexer->setPriority(QThread::NormalPriority); // to see the flag at once on a busy machine
    m_indexer->wait();
    delete m_indexer;
    m_indexer = nullptr;
    m_cancel = false;
}

void DeadLines::indexLines(const QByteArray& bytes, qsizetype from, int rows, const std::atomic<bool>& cancel,
                           std::vector<Entry>* index)
{
    index->clear();
    index->reserve(size_t(rows));
    qsizetype pos = from;
    for (int row = 0; row < rows && pos < bytes.size(); ++row) {
        if ((row & 0xffff) == 0 && cancel)
            return;
        const HostsMerge::LineSpan line = HostsMerge::lineAt(bytes, pos);
        QByteArrayView ip, names;
        if (lineMapping(QByteArrayView(bytes).sliced(pos, line.length), &ip, &names)) {
            const int family = Platform::addressFamily(ip);
            qsizetype at = 0;
            for (QByteArrayView name = nextName(names, &at); family != 0 && !name.isEmpty();
                 name = nextName(names, &at))
                index->push_back({hostKey(name, family), row}); // every name of the line
        }
        pos += line.length + line.endLength;
    }
    // The entries are in row order: a stable sort by key, 16 bits at a time, leaves each key's
    // rows in order. Two passes over the entries, with a look at cancel between them, where a
    // comparison sort of a million entries would take several times as long.
    std::vector<Entry> other(index->size());
    for (const int shift : {0, 16}) {
        if (cancel)
            return;
        std::vector<size_t> start(65537, 0);
        for (const Entry& e : *index)
            ++start[((e.key >> shift) & 0xffff) + 1];
        for (size_t i = 1; i < start.size(); ++i)
            start[i] += start[i - 1];
        for (const Entry& e : *index)
            other[start[(e.key >> shift) & 0xffff]++] = e;
        index->swap(other);
    }
}

DeadLines::DeadLines(const HostsDocument* document, QObject* parent)
    : DeadLines(document, Indexing::OnReading, parent)
{
}

DeadLines::DeadLines(const HostsDocument* document, Indexing indexing, QObject* parent)
    : QObject(parent), m_document(document), m_started(indexing == Indexing::OnReading)
{
    connect(document, &QAbstractItemModel::modelReset, this, &DeadLines::rebuild);
    connect(document, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { insertRows(first, last); });
    connect(document, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& a, const QModelIndex& b) { update(a.row(), b.row()); });
    rebuild();
}

void DeadLines::setRule(const Platform::HostsRule& rule)
{
    if (rule.everyLine == m_rule.everyLine)
        return;
    m_rule = rule;
    emit changed();
}

void DeadLines::rebuild()
{
    // A reading has only rows from the file, none edited: the index comes from the bytes.
    stopIndexing();
    ++m_generation;
    m_dirty.clear();
    m_index = std::vector<Entry>(); // its memory too
    m_added.clear();
    if (!m_started) {
        m_ready = false;
        emit changed(); // invalid addresses are marked meanwhile
        return;
    }
    const int rows = m_document->rowCount();
    const QByteArray bytes = m_document->fileBytes(); // shared, not copied
    const qsizetype from = m_document->firstLineOffset();
    if (rows < kIndexAside) {
        indexLines(bytes, from, rows, m_cancel, &m_index);
        m_ready = true;
        emit changed();
        return;
    }
    m_ready = false;
    const int generation = m_generation;
    m_indexer = QThread::create([this, bytes, from, rows, generation] {
        indexLines(bytes, from, rows, m_cancel, &m_newIndex);
        if (!m_cancel)
            QMetaObject::invokeMethod(
                this, [this, generation] { takeIndex(generation); }, Qt::QueuedConnection);
    });
    // The window comes first: the index is made when the processor has nothing else to do
    // (SCHED_IDLE on Linux).
    m_indexer->start(QThread::IdlePriority);
    emit changed(); // invalid addresses are marked meanwhile
}

void DeadLines::start()
{
    if (m_started)
        return;
    m_started = true;
    // After the events waiting now: those of a window that is being shown come first.
    const int generation = m_generation;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation == m_generation && !m_ready && !m_indexer)
            rebuild();
    });
}

void DeadLines::takeIndex(int generation)
{
    if (generation != m_generation || m_ready)
        return;
    if (m_indexer) {
        m_indexer->wait();
        delete m_indexer;
        m_indexer = nullptr;
    }
    m_index = std::move(m_newIndex);
    m_ready = true;
    const std::vector<int> dirty = std::move(m_dirty);
    m_dirty.clear();
    for (const int row : dirty)
        update(row, row);
    emit changed();
}

void DeadLines::waitUntilReady()
{
    if (m_ready)
        return;
    if (!m_indexer) // not started yet: made here
        indexLines(m_document->fileBytes(), m_document->firstLineOffset(), m_document->rowCount(), m_cancel,
                   &m_newIndex);
    else
        m_indexer->setPriority(QThread::NormalPriority); // someone waits for it now
    takeIndex(m_generation);
}

void DeadLines::insertRows(int first, int last)
{
    // Rows are only ever added at the end, empty: they map nothing yet.
    Q_UNUSED(first);
    Q_UNUSED(last);
    emit changed();
}

void DeadLines::update(int first, int last)
{
    if (!m_ready) {
        for (int row = first; row <= last; ++row)
            m_dirty.push_back(row);
        emit changed();
        return;
    }
    // The index of the reading stays as it is: a key of a name that the index lacks for the
    // row goes into a small sorted list beside it. An edit thus moves no memory of the whole
    // file; an entry whose row no longer maps its name is passed over by firstMapping.
    for (int row = first; row <= last; ++row) {
        QByteArrayView ip, names;
        QByteArray storage;
        if (!m_document->mapping(row, &ip, &names, &storage))
            continue;
        const int family = Platform::addressFamily(ip);
        qsizetype at = 0;
        for (QByteArrayView name = nextName(names, &at); family != 0 && !name.isEmpty();
             name = nextName(names, &at)) {
            const Entry entry{hostKey(name, family), row};
            if (std::binary_search(m_index.begin(), m_index.end(), entry) ||
                std::binary_search(m_added.begin(), m_added.end(), entry))
                continue;
            m_added.insert(std::lower_bound(m_added.begin(), m_added.end(), entry), entry);
        }
    }
    emit changed();
}

bool DeadLines::sameHost(int row, QByteArrayView host, int family) const
{
    QByteArrayView ip, names;
    QByteArray storage;
    return m_document->mapping(row, &ip, &names, &storage) && Platform::addressFamily(ip) == family &&
           hasName(names, host);
}

int DeadLines::firstMapping(QByteArrayView host, int family) const
{
    if (!m_ready)
        return -1;
    const quint32 key = hostKey(host, family);
    int first = -1;
    // Within a key the entries are in row order: the first that still holds is each list's.
    for (const std::vector<Entry>* list : {&m_index, &m_added}) {
        for (auto it = std::lower_bound(list->begin(), list->end(), Entry{key, -1});
             it != list->end() && it->key == key && (first < 0 || it->row < first); ++it) {
            if (sameHost(it->row, host, family)) {
                first = it->row;
                break;
            }
        }
    }
    return first;
}

std::vector<int> DeadLines::mappings(QByteArrayView host, int family) const
{
    std::vector<int> rows;
    if (!m_ready)
        return rows;
    const quint32 key = hostKey(host, family);
    for (const std::vector<Entry>* list : {&m_index, &m_added}) {
        for (auto it = std::lower_bound(list->begin(), list->end(), Entry{key, -1});
             it != list->end() && it->key == key; ++it) {
            if (sameHost(it->row, host, family))
                rows.push_back(it->row);
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

QString DeadLines::reason(int row) const
{
    if (row < 0 || row >= m_document->rowCount())
        return QString();
    QByteArrayView ip, names;
    QByteArray storage;
    if (!m_document->mapping(row, &ip, &names, &storage))
        return QString();
    const int family = Platform::addressFamily(ip);
    if (family == 0)
        return QStringLiteral("不起作用: “%1”不是有效的 IPv4/IPv6 地址").arg(m_document->values(row).ip);
    if (!m_ready || m_rule.everyLine)
        return QString(); // the resolver answers with every line's address
    // The row is never used when an earlier row maps each of its names: the one named is its
    // first name's.
    int shown = -1;
    QByteArrayView shownName;
    qsizetype at = 0;
    for (QByteArrayView name = nextName(names, &at); !name.isEmpty(); name = nextName(names, &at)) {
        const int first = firstMapping(name, family);
        if (first < 0 || first >= row)
            return QString();
        if (shown < 0) {
            shown = first;
            shownName = name;
        }
    }
    if (shown < 0)
        return QString();
    return QStringLiteral("不起作用: 第 %1 行已把 %2 指向 %3，系统用前面的这一行")
        .arg(shown + 1)
        .arg(m_document->codec().decode(shownName), m_document->values(shown).ip);
}
