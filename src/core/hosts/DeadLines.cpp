#include "core/hosts/DeadLines.h"

#include "core/hosts/HostsDocument.h"
#include "platform/Network.h"

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

} // namespace

DeadLines::DeadLines(const HostsDocument* document, QObject* parent) : QObject(parent), m_document(document)
{
    connect(document, &QAbstractItemModel::modelReset, this, &DeadLines::rebuild);
    connect(document, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { insertRows(first, last); });
    connect(document, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& a, const QModelIndex& b) { update(a.row(), b.row()); });
    rebuild();
}

quint32 DeadLines::keyOf(int row, int* family) const
{
    QByteArrayView ip, host;
    QByteArray storage;
    if (!m_document->mapping(row, &ip, &host, &storage))
        return 0;
    const int f = Platform::addressFamily(ip);
    if (family)
        *family = f;
    return f == 0 ? 0 : hostKey(host, f);
}

void DeadLines::rebuild()
{
    const int rows = m_document->rowCount();
    m_keyOf.assign(size_t(rows), 0);
    m_index.clear();
    for (int row = 0; row < rows; ++row) {
        const quint32 key = keyOf(row);
        m_keyOf[size_t(row)] = key;
        if (key != 0)
            m_index.push_back({key, row});
    }
    std::sort(m_index.begin(), m_index.end());
    m_index.shrink_to_fit();
    emit changed();
}

void DeadLines::insertRows(int first, int last)
{
    // Rows are only ever added at the end, empty.
    Q_UNUSED(first);
    m_keyOf.resize(size_t(last) + 1, 0);
    emit changed();
}

void DeadLines::update(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        const quint32 old = m_keyOf[size_t(row)];
        const quint32 key = keyOf(row);
        if (key == old)
            continue;
        if (old != 0) {
            const auto at = std::lower_bound(m_index.begin(), m_index.end(), Entry{old, row});
            if (at != m_index.end() && at->key == old && at->row == row)
                m_index.erase(at);
        }
        if (key != 0)
            m_index.insert(std::lower_bound(m_index.begin(), m_index.end(), Entry{key, row}), Entry{key, row});
        m_keyOf[size_t(row)] = key;
    }
    emit changed();
}

bool DeadLines::sameHost(int row, QByteArrayView host, int family) const
{
    QByteArrayView ip, h;
    QByteArray storage;
    return m_document->mapping(row, &ip, &h, &storage) && sameText(h, host)
           && Platform::addressFamily(ip) == family;
}

int DeadLines::firstMapping(QByteArrayView host, int family) const
{
    const quint32 key = hostKey(host, family);
    for (auto it = std::lower_bound(m_index.begin(), m_index.end(), Entry{key, -1});
         it != m_index.end() && it->key == key; ++it) {
        if (sameHost(it->row, host, family))
            return it->row;
    }
    return -1;
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
    const int first = firstMapping(host, family);
    if (first < 0 || first >= row)
        return QString();
    return QStringLiteral("不起作用: 第 %1 行已把 %2 指向 %3，系统用前面的这一行")
        .arg(first + 1)
        .arg(m_document->values(row).host, m_document->values(first).ip);
}
