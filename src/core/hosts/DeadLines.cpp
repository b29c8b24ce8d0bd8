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

quint32 lineKey(QByteArrayView ip, QByteArrayView host)
{
    const int f = Platform::addressFamily(ip);
    return f == 0 ? 0 : hostKey(host, f);
}

// Below this many rows the index is made at once: it takes a few milliseconds.
const int kIndexAside = 50000;

// Calls name(key, row) for each host name that a line of the reading maps with a valid address,
// in row order: the rows lines of bytes from offset from. Returns false if it saw cancel.
template <typename Name>
bool forEachName(const QByteArray& bytes, qsizetype from, int rows, const std::atomic<bool>& cancel,
                 const Name& name)
{
    qsizetype pos = from;
    for (int row = 0; row < rows && pos < bytes.size(); ++row) {
        if ((row & 0xffff) == 0 && cancel)
            return false;
        const HostsMerge::LineSpan line = HostsMerge::lineAt(bytes, pos);
        QByteArrayView ip, host;
        if (lineMapping(QByteArrayView(bytes).sliced(pos, line.length), &ip, &host)) {
            if (const quint32 key = lineKey(ip, host))
                name(key, row);
        }
        pos += line.length + line.endLength;
    }
    return true;
}

} // namespace

DeadLines::DeadLines(const HostsDocument* document, QObject* parent)
    : DeadLines(document, Indexing::OnReading, parent)
{
}

DeadLines::DeadLines(const HostsDocument* document, Indexing indexing, QObject* parent)
    : QObject(parent), m_document(document), m_started(indexing == Indexing::OnReading)
{
    connect(document, &QAbstractItemModel::modelReset, this, &DeadLines::rebuild);
    connect(document, &QAbstractItemModel::rowsInserted, this, &DeadLines::changed); // added rows are empty
    connect(document, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& a, const QModelIndex& b) { update(a.row(), b.row()); });
    rebuild();
}

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

bool DeadLines::indexLines(const QByteArray& bytes, qsizetype from, int rows, const std::atomic<bool>& cancel,
                           std::vector<Entry>* index)
{
    // Two passes over the lines, so that the index is the only array as large as the file's
    // names (a pass and a sort would need a second one): the first counts the names per upper
    // 16 bits of their keys, the second puts each name in its place, in row order. Then each
    // such run of a few names is sorted by key.
    std::vector<size_t> start(65537, 0);
    const bool counted =
        forEachName(bytes, from, rows, cancel, [&](quint32 key, int) { ++start[(key >> 16) + 1]; });
    if (!counted)
        return false;
    for (size_t i = 1; i < start.size(); ++i)
        start[i] += start[i - 1];
    index->assign(start.back(), Entry{0, 0});
    std::vector<size_t> next(start.begin(), start.end() - 1);
    const bool placed = forEachName(bytes, from, rows, cancel, [&](quint32 key, int row) {
        (*index)[next[key >> 16]++] = Entry{key, row};
    });
    if (!placed)
        return false;
    for (size_t b = 0; b + 1 < start.size(); ++b) {
        if ((b & 0xfff) == 0 && cancel)
            return false;
        std::sort(index->begin() + qsizetype(start[b]), index->begin() + qsizetype(start[b + 1]));
    }
    return true;
}

void DeadLines::rebuild()
{
    // A reading has only rows from the file, none edited: the index comes from the bytes.
    stopIndexing();
    ++m_generation;
    m_dirty.clear();
    m_index = std::vector<Entry>(); // its memory too
    m_added.clear();
    m_ready = false;
    if (!m_started) {
        emit changed(); // invalid addresses are marked meanwhile
        return;
    }
    const int rows = m_document->rowCount();
    const QByteArray bytes = m_document->fileBytes(); // shared, not copied
    const qsizetype from = m_document->firstLineOffset();
    if (rows < kIndexAside) {
        std::vector<Entry> index;
        indexLines(bytes, from, rows, m_cancel, &index);
        setReady(std::move(index));
        return;
    }
    const int generation = m_generation;
    m_indexer = QThread::create([this, bytes, from, rows, generation] {
        if (indexLines(bytes, from, rows, m_cancel, &m_newIndex))
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
    if (generation != m_generation || m_ready || !m_indexer)
        return;
    m_indexer->wait();
    delete m_indexer;
    m_indexer = nullptr;
    setReady(std::move(m_newIndex));
    m_newIndex = std::vector<Entry>();
}

void DeadLines::setReady(std::vector<Entry> index)
{
    m_index = std::move(index);
    m_ready = true;
    const std::vector<int> dirty = std::move(m_dirty);
    m_dirty.clear();
    for (const int row : dirty)
        update(row, row); // emits changed
    emit changed();
}

void DeadLines::waitUntilReady()
{
    if (m_ready)
        return;
    if (m_indexer) {
        m_indexer->setPriority(QThread::NormalPriority); // someone waits for it now
        takeIndex(m_generation);
        return;
    }
    // Not started yet: made here.
    std::vector<Entry> index;
    indexLines(m_document->fileBytes(), m_document->firstLineOffset(), m_document->rowCount(), m_cancel,
               &index);
    setReady(std::move(index));
}

void DeadLines::update(int first, int last)
{
    if (!m_ready) {
        for (int row = first; row <= last; ++row)
            m_dirty.push_back(row);
        emit changed();
        return;
    }
    // The index of the reading stays as it is: an edit only puts the row's names that the index
    // lacks into a small sorted list beside it. An edit thus moves no memory of the whole file;
    // an entry whose row maps another name now is passed over.
    for (int row = first; row <= last; ++row) {
        QByteArrayView ip, host;
        QByteArray storage;
        if (!m_document->mapping(row, &ip, &host, &storage))
            continue;
        const Entry entry{lineKey(ip, host), row};
        if (entry.key == 0 || std::binary_search(m_index.begin(), m_index.end(), entry) ||
            std::binary_search(m_added.begin(), m_added.end(), entry))
            continue;
        m_added.insert(std::lower_bound(m_added.begin(), m_added.end(), entry), entry);
    }
    emit changed();
}

bool DeadLines::sameHost(int row, QByteArrayView host, int family) const
{
    QByteArrayView ip, h;
    QByteArray storage;
    return m_document->mapping(row, &ip, &h, &storage) && sameText(h, host) &&
           Platform::addressFamily(ip) == family;
}

int DeadLines::firstMapping(QByteArrayView host, int family) const
{
    if (!m_ready)
        return -1;
    const quint32 key = hostKey(host, family);
    int first = -1;
    // Within a key the entries are in row order: the first whose row still maps the host is
    // each list's.
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

QString DeadLines::reason(int row) const
{
    if (row < 0 || row >= m_document->rowCount())
        return QString();
    QByteArrayView ip, host;
    QByteArray storage;
    if (!m_document->mapping(row, &ip, &host, &storage))
        return QString();
    const int family = Platform::addressFamily(ip);
    if (family == 0)
        return QStringLiteral("不起作用: “%1”不是有效的 IPv4/IPv6 地址").arg(m_document->values(row).ip);
    const int first = m_ready ? firstMapping(host, family) : -1;
    if (first < 0 || first >= row)
        return QString();
    return QStringLiteral("不起作用: 第 %1 行已把 %2 指向 %3，系统用前面的这一行")
        .arg(first + 1)
        .arg(m_document->values(row).host, m_document->values(first).ip);
}
