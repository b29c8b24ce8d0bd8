#include "core/hosts/HostsDocument.h"

#include <algorithm>

#include "core/hosts/HostsMerge.h"
#include "platform/Platform.h"

namespace {

template <typename Char> bool isBlank(Char c)
{
    return c == Char(' ') || c == Char('\t');
}

// The spans of the first two words, after leading blanks. Works on bytes and on text alike:
// spaces and tabs have the same single unit in every encoding a hosts file uses.
template <typename View> struct TwoWords {
    bool disabled = false;
    int words = 0; // 0, 1 or 2 (2 = at least two)
    qsizetype w0 = 0, w0End = 0, w1 = 0, w1End = 0;

    explicit TwoWords(View line)
    {
        using Char = std::decay_t<decltype(line[0])>;
        const qsizetype n = line.size();
        qsizetype p = 0;
        while (p < n && isBlank<Char>(line[p]))
            ++p;
        if (p == n)
            return;
        disabled = line[p] == Char('#');
        w0 = p;
        while (p < n && !isBlank<Char>(line[p]))
            ++p;
        w0End = p;
        words = 1;
        if (p == n)
            return;
        while (p < n && isBlank<Char>(line[p]))
            ++p;
        w1 = p;
        while (p < n && !isBlank<Char>(line[p]))
            ++p;
        w1End = p;
        words = 2; // blanks at the end give an empty second word
    }
};

} // namespace

HostsValues parseHostsLine(QStringView line)
{
    const TwoWords<QStringView> w(line);
    HostsValues v;
    v.disabled = w.disabled;
    if (w.words == 2) {
        v.ip = line.mid(w.w0, w.w0End - w.w0).toString();
        v.ip.remove(QLatin1Char('#'));
        v.host = line.mid(w.w1, w.w1End - w.w1).toString();
    }
    return v;
}

namespace {

// The names from line's offset from on: up to a "#" or the end, without blanks at the end.
QByteArrayView namesFrom(QByteArrayView line, qsizetype from)
{
    qsizetype end = line.indexOf('#', from);
    if (end < 0)
        end = line.size();
    while (end > from && isBlank(line[end - 1]))
        --end;
    return line.sliced(from, end - from);
}

} // namespace

bool lineMapping(QByteArrayView line, QByteArrayView* ip, QByteArrayView* names)
{
    const TwoWords<QByteArrayView> w(line);
    if (w.words < 2 || w.disabled || w.w1End == w.w1)
        return false;
    *ip = line.sliced(w.w0, w.w0End - w.w0);
    *names = namesFrom(line, w.w1);
    return !names->isEmpty();
}

QByteArrayView nextName(QByteArrayView names, qsizetype* pos)
{
    qsizetype p = *pos;
    while (p < names.size() && isBlank(names[p]))
        ++p;
    const qsizetype start = p;
    while (p < names.size() && !isBlank(names[p]))
        ++p;
    *pos = p;
    return names.sliced(start, p - start);
}

qsizetype restOfLineOffset(QByteArrayView line)
{
    const TwoWords<QByteArrayView> w(line);
    return w.words == 2 ? w.w1End : line.size();
}

HostsDocument::HostsDocument(const QByteArray& encoding, QObject* parent)
    : QAbstractListModel(parent), m_baseEncoding(encoding), m_codec(encoding), m_lineEnd(Platform::lineEnd())
{
}

void HostsDocument::clear()
{
    beginResetModel();
    forget();
    endResetModel();
}

void HostsDocument::forget()
{
    m_rows.clear();
    m_edits.clear();
    m_bytes.clear();
    m_bom = false;
    m_codec = TextCodec(m_baseEncoding);
    m_lineEnd = Platform::lineEnd();
}

void HostsDocument::load(const QByteArray& bytes)
{
    beginResetModel();
    forget();
    m_bytes = bytes;
    qsizetype pos = 0;
    if (m_bytes.startsWith("\xEF\xBB\xBF")) {
        m_bom = true;
        m_codec = TextCodec("UTF-8");
        pos = 3;
    }
    const qsizetype n = m_bytes.size();
    bool lineEndKnown = false;
    m_rows.reserve(static_cast<size_t>(n / 32 + 1)); // a guess: most lines are longer
    Platform::adviseLargeBuffer(m_rows.data(), static_cast<qsizetype>(m_rows.capacity() * sizeof(Row)));
    while (pos < n) {
        const HostsMerge::LineSpan line = HostsMerge::lineAt(m_bytes, pos);
        Row row;
        row.fromFile = true;
        row.start = pos;
        row.length = line.length;
        const qsizetype endAt = pos + line.length;
        // A CR alone at the very end of the file is a CR LF cut short; the file's own line end
        // is the first complete one.
        if (line.endLength == 2 || (line.endLength == 1 && m_bytes.at(endAt) == '\r'))
            row.end = CrLf;
        else if (line.endLength == 1)
            row.end = Lf;
        if (!lineEndKnown && line.endLength > 0 && m_bytes.at(endAt + line.endLength - 1) == '\n') {
            m_lineEnd = lineEndBytes(row.end);
            lineEndKnown = true;
        }
        m_rows.push_back(row);
        pos = endAt + line.endLength;
    }
    endResetModel();
}

void HostsDocument::addRow()
{
    beginInsertRows(QModelIndex(), rowCount(), rowCount());
    m_rows.push_back(Row());
    endInsertRows();
}

QByteArrayView HostsDocument::raw(const Row& row) const
{
    return QByteArrayView(m_bytes).sliced(row.start, row.length);
}

QByteArray HostsDocument::lineEndBytes(LineEnd end) const
{
    switch (end) {
    case Lf:
        return QByteArrayLiteral("\n");
    case CrLf:
        return QByteArrayLiteral("\r\n");
    case NoEnd:
        break;
    }
    return m_lineEnd;
}

HostsValues HostsDocument::values(int row) const
{
    const Row& r = m_rows[row];
    if (r.edited)
        return m_edits.value(row);
    if (!r.fromFile)
        return HostsValues();
    return parseHostsLine(m_codec.decode(raw(r)));
}

QList<RowChange> HostsDocument::changes() const
{
    QList<RowChange> out;
    for (int i = 0; i < rowCount(); ++i) {
        const Row& r = m_rows[size_t(i)];
        if (!r.edited && !r.deleted && r.fromFile)
            continue;
        RowChange c;
        c.row = i;
        if (r.fromFile) {
            c.before = parseHostsLine(m_codec.decode(raw(r)));
            c.wasMapping = !c.before.disabled && !c.before.host.isEmpty();
        }
        c.after = values(i);
        c.deleted = r.deleted;
        if (c.deleted || !(c.after == c.before))
            out << c;
    }
    return out;
}

bool HostsDocument::mapping(int row, QByteArrayView* ip, QByteArrayView* names, QByteArray* storage) const
{
    const Row& r = m_rows[size_t(row)];
    if (r.deleted)
        return false;
    if (!r.edited) {
        if (!r.fromFile)
            return false;
        return lineMapping(raw(r), ip, names);
    }
    const HostsValues v = m_edits.value(row);
    if (v.disabled || v.host.isEmpty())
        return false;
    QByteArray ipBytes, hostBytes;
    if (!m_codec.encode(v.ip, &ipBytes) || !m_codec.encode(v.host, &hostBytes))
        return false; // cannot be saved as it stands
    // A save writes the typed host followed by the rest of the line: its names count too, up to
    // a "#" in either.
    QByteArray line = hostBytes;
    if (r.fromFile && !hostBytes.contains('#')) {
        const QByteArrayView original = raw(r);
        line += ' ' + namesFrom(original, restOfLineOffset(original)).toByteArray();
    }
    const QByteArrayView typed = namesFrom(line, 0);
    if (typed.isEmpty())
        return false;
    *storage = ipBytes + typed.toByteArray();
    *ip = QByteArrayView(*storage).first(ipBytes.size());
    *names = QByteArrayView(*storage).sliced(ipBytes.size());
    return true;
}

void HostsDocument::setValues(int row, const HostsValues& values)
{
    m_rows[row].edited = true;
    m_edits.insert(row, values);
    emit dataChanged(index(row), index(row), {DisabledRole, IpRole, HostRole});
}

void HostsDocument::setDisabled(const std::vector<int>& rows, bool disabled)
{
    int first = rowCount(), last = -1;
    for (const int row : rows) {
        if (row < 0 || row >= rowCount())
            continue;
        HostsValues v = values(row);
        if (v.disabled == disabled)
            continue;
        v.disabled = disabled;
        m_rows[static_cast<size_t>(row)].edited = true;
        m_edits.insert(row, v);
        first = qMin(first, row);
        last = qMax(last, row);
    }
    if (last >= 0)
        emit dataChanged(index(first), index(last), {DisabledRole});
}

void HostsDocument::setDeleted(int row, bool deleted)
{
    m_rows[row].deleted = deleted;
    emit dataChanged(index(row), index(row), {DeletedRole});
}

int HostsDocument::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rowCount();
}

QVariant HostsDocument::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const int row = index.row();
    switch (role) {
    case DisabledRole:
        return values(row).disabled;
    case IpRole:
        return values(row).ip;
    case Qt::DisplayRole:
    case HostRole:
        return values(row).host;
    case DeletedRole:
        return isDeleted(row);
    default:
        return QVariant();
    }
}

bool HostsDocument::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.row() >= rowCount())
        return false;
    const int row = index.row();
    if (role == DeletedRole) {
        setDeleted(row, value.toBool());
        return true;
    }
    HostsValues v = values(row);
    switch (role) {
    case DisabledRole:
        v.disabled = value.toBool();
        break;
    case IpRole:
        v.ip = value.toString();
        break;
    case HostRole:
        v.host = value.toString();
        break;
    default:
        return false;
    }
    setValues(row, v);
    return true;
}

Qt::ItemFlags HostsDocument::flags(const QModelIndex& index) const
{
    return QAbstractListModel::flags(index) | Qt::ItemIsEditable;
}

bool HostsDocument::encodeTyped(int row, QStringView text, QByteArray* out, QString* error) const
{
    if (m_codec.encode(text, out))
        return true;
    // Name the first character that has no form in the encoding, so that the user can find it.
    QString culprit = text.toString(); // if only the whole text fails
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QStringView c = text.mid(i, n);
        QByteArray ignored;
        if (!m_codec.encode(c, &ignored)) {
            const uint code = n == 2 ? QChar::surrogateToUcs4(c[0], c[1]) : c[0].unicode();
            culprit = QStringLiteral("U+%1 (%2)")
                          .arg(QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0')), c);
            break;
        }
        i += n - 1;
    }
    *error = QStringLiteral("第 %1 行含有 %2 编码无法表示的字符 %3")
                 .arg(row + 1)
                 .arg(QString::fromLatin1(m_codec.encoding()), culprit);
    return false;
}

bool HostsDocument::rowBytes(int i, QByteArray* out, QString* error) const
{
    const Row& r = m_rows[i];
    const QByteArrayView line = raw(r);
    const HostsValues v = values(i);
    const HostsValues read = r.fromFile ? parseHostsLine(m_codec.decode(line)) : HostsValues();
    if (r.fromFile && v == read) {
        *out = line.toByteArray(); // edited back to what it was
        return true;
    }
    const TwoWords<QByteArrayView> words(line);
    if (r.fromFile && read.ip.isEmpty() && read.host.isEmpty() && v.ip.isEmpty() && v.host.isEmpty()) {
        // A line that shows empty boxes (a single word, "#" alone, blanks) has nothing to write
        // back in them: only its "禁用" box changed, so the line keeps every byte and gains or
        // loses the "#" that makes it a comment. Only one "#" goes, so that a banner of many
        // keeps its text.
        QByteArray bytes = line.toByteArray();
        if (v.disabled)
            bytes.prepend('#');
        else
            bytes.remove(words.w0, 1); // the first character that is not blank: the "#"
        *out = bytes;
        return true;
    }
    if (r.fromFile && words.words == 2 && v.ip == read.ip && v.host == read.host) {
        // Only the "禁用" box changed: the line keeps its blanks and words, and its first word
        // gains a "#" or loses every "#" it has (the IP box shows it without them).
        QByteArray word = line.sliced(words.w0, words.w0End - words.w0).toByteArray();
        word.replace('#', QByteArray()); // "#" is this one byte in every encoding a hosts file uses
        if (v.disabled)
            word.prepend('#');
        *out = line.toByteArray().replace(words.w0, words.w0End - words.w0, word);
        return true;
    }
    // The address-and-name form. A word the user did not change keeps the bytes it was read
    // from, whatever the encoding made of them; only typed text is encoded.
    QByteArray ip;
    if (r.fromFile && words.words == 2 && v.ip == read.ip) {
        ip = line.sliced(words.w0, words.w0End - words.w0).toByteArray();
        ip.replace('#', QByteArray()); // "#" is this one byte in every encoding a hosts file uses
    } else if (!encodeTyped(i, v.ip, &ip, error)) {
        return false;
    }
    QByteArray host;
    if (r.fromFile && words.words == 2 && v.host == read.host)
        host = line.sliced(words.w1, words.w1End - words.w1).toByteArray();
    else if (!encodeTyped(i, v.host, &host, error))
        return false;
    QByteArray bytes;
    bytes.reserve(ip.size() + host.size() + line.size() + 2);
    if (v.disabled)
        bytes += '#';
    bytes += ip;
    bytes += ' ';
    bytes += host;
    // A row whose two boxes were both cleared is written as an added row left empty: the
    // further names of its line would otherwise stand first and read back as its address.
    if (r.fromFile && !(v.ip.isEmpty() && v.host.isEmpty()))
        bytes += line.sliced(restOfLineOffset(line));
    *out = bytes;
    return true;
}

std::unique_ptr<HostsDocument> HostsDocument::snapshot() const
{
    auto copy = std::make_unique<HostsDocument>(m_baseEncoding);
    copy->m_codec = m_codec;
    copy->m_bytes = m_bytes; // shared, not copied
    copy->m_bom = m_bom;
    copy->m_lineEnd = m_lineEnd;
    copy->m_rows = m_rows;
    copy->m_edits = m_edits;
    return copy;
}

bool HostsDocument::toBytes(QByteArray* out, QString* error) const
{
    QByteArray bytes;
    bytes.reserve(m_bytes.size() + 64 * m_edits.size() + 64);
    // Written once from start to end: in large pages where the system has them, one page fault
    // per 2 MiB rather than per 4 KiB.
    Platform::adviseLargeBuffer(bytes.data(), bytes.capacity());
    if (m_bom)
        bytes += "\xEF\xBB\xBF";
    QByteArray line;
    for (int i = 0; i < rowCount(); ++i) {
        const Row& r = m_rows[i];
        if (r.deleted)
            continue;
        if (r.fromFile && !r.edited) {
            bytes += raw(r); // most rows
        } else {
            if (!rowBytes(i, &line, error))
                return false;
            bytes += line;
        }
        bytes += lineEndBytes(r.end);
    }
    *out = bytes;
    return true;
}

bool HostsDocument::mergeInto(const QByteArray& current, QByteArray* out, QString* error) const
{
    if (current == m_bytes)
        return toBytes(out, error);

    // The file as last read is already cut into the rows read from it, which come first; the
    // merge compares line texts only.
    std::vector<HostsMerge::Line> base;
    base.reserve(m_rows.size());
    for (const Row& r : m_rows) {
        if (r.fromFile)
            base.push_back(HostsMerge::Line{raw(r), QByteArrayView()});
    }
    bool bom = false;
    const std::vector<HostsMerge::Line> now = HostsMerge::split(current, &bom);
    std::vector<HostsMerge::Change> changes(base.size());
    std::vector<QByteArray> added;
    // A byte-order mark added or dropped since the reading: another program re-encoded the file
    // (UTF-8 and the code page). Rows written in the encoding it had would not read back; only
    // ASCII, the same bytes in both, can go into it.
    const QByteArray baseEncoding = TextCodec(m_baseEncoding).encoding().toUpper().replace('-', "");
    const bool reencoded = bom != m_bom && baseEncoding != "UTF8";
    for (int i = 0; i < rowCount(); ++i) {
        const Row& r = m_rows[i];
        if (r.fromFile && r.deleted) {
            changes[size_t(i)].kind = HostsMerge::Change::Deleted;
        } else if (r.edited || !r.fromFile) {
            QByteArray line;
            if (r.deleted)
                continue; // an added row marked "删"
            if (!rowBytes(i, &line, error))
                return false;
            if (reencoded &&
                std::any_of(line.cbegin(), line.cend(), [](char c) { return uchar(c) >= 0x80; })) {
                *error =
                    QStringLiteral(
                        "第 %1 "
                        "行：HOST文件的编码在读取之后被其他程序改变了，这一行的文字无法按原来的编码写入。"
                        "文件没有保存。请重新读取HOST文件，再做修改。")
                        .arg(i + 1);
                return false;
            }
            if (!r.fromFile)
                added.push_back(line);
            else if (line != raw(r))
                changes[size_t(i)] = HostsMerge::Change{HostsMerge::Change::Changed, line};
        }
    }
    QByteArrayView lineEnd = m_lineEnd;
    for (const HostsMerge::Line& line : now) {
        if (!line.end.isEmpty()) {
            lineEnd = line.end;
            break;
        }
    }
    QByteArray merged;
    qsizetype conflict = -1;
    if (!HostsMerge::merge(base, changes, added, now, lineEnd, &merged, &conflict)) {
        if (conflict < 0) {
            *error = QStringLiteral("HOST文件在读取之后被其他程序清空了（也许正在被改写）。"
                                    "文件没有保存。请重新读取HOST文件，再做修改。");
            return false;
        }
        QString text = m_codec.decode(base[size_t(conflict)].text);
        if (text.size() > 60)
            text = text.left(57) + QStringLiteral("...");
        *error = QStringLiteral("第 %1 行（%2）在读取之后被其他程序修改或删除了，而你也修改了这一行。"
                                "文件没有保存。请重新读取HOST文件，再做修改。")
                     .arg(conflict + 1)
                     .arg(text);
        return false;
    }
    *out = bom ? QByteArray("\xEF\xBB\xBF") + merged : merged;
    return true;
}
