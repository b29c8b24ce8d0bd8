#pragma once

#include "platform/TextCodec.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>
#include <vector>

// What a line of the hosts file shows in its row.
struct HostsValues {
    bool disabled = false;
    QString ip;
    QString host;

    bool operator==(const HostsValues& o) const
    {
        return disabled == o.disabled && ip == o.ip && host == o.host;
    }
};

// The row values of one line (without its line end). Spaces and tabs at the start are skipped;
// the row is disabled if the line then starts with "#"; runs of spaces and tabs separate
// words; with at least two words the first, with every "#" removed, is the IP and the second
// the host name. A single word or none leaves both empty.
HostsValues parseHostsLine(QStringView line);

// Where the rest of a line begins that a row does not show: the byte offset just after its
// second word, or the line's length if it has fewer than two words.
qsizetype restOfLineOffset(QByteArrayView line);

// A row that a save changes: edited, ticked, marked deleted or added.
struct RowChange {
    int row = 0;             // 0-based, as the window numbers it before the save
    HostsValues before;      // as read; empty for an added row
    bool wasMapping = false; // the line as read mapped a host (active, with a host)
    HostsValues after;
    bool deleted = false;
};

// The address and names of a line without its line end as the resolver reads it: *names runs
// from the second word up to a "#" or the end of the line, without the blanks at its end; every
// word of it is a name the line maps. False for a line that maps nothing (disabled, fewer than
// two words, no name before a "#").
bool lineMapping(QByteArrayView line, QByteArrayView* ip, QByteArrayView* names);

// The next name of names (lineMapping's) from *pos on, which it moves past it; empty after the
// last.
QByteArrayView nextName(QByteArrayView names, qsizetype* pos);

// The hosts file as rows: one row per line, in file order, plus rows the user added. Each row
// read from the file remembers the exact bytes of its line, so that rows the user did not
// change are written back unchanged. As a list model it tells its views of every change: a
// reading resets it, an added row is inserted, an edit changes its row's data.
class HostsDocument : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { DisabledRole = Qt::UserRole + 1, IpRole, HostRole, DeletedRole };

    explicit HostsDocument(const QByteArray& encoding = QByteArray(), QObject* parent = nullptr);

    // Replaces all rows by the lines of the file's bytes. LF and CR LF end a line, and so does a
    // CR that ends the file; a last line without a line end is a row too; a UTF-8 byte-order
    // mark makes the file UTF-8 and is not part of the first row.
    void load(const QByteArray& bytes);
    void clear();
    // A copy of the rows as they are now, which a save reads beside the window while the user
    // edits on. It has no views.
    std::unique_ptr<HostsDocument> snapshot() const;

    int rowCount() const { return static_cast<int>(m_rows.size()); }
    void addRow(); // an empty row, not from the file

    // Row values by 0-based index.
    HostsValues values(int row) const;
    bool isDeleted(int row) const { return m_rows[row].deleted; }
    void setValues(int row, const HostsValues& values);
    void setDeleted(int row, bool deleted);
    // Ticks or unticks "禁用" of the given rows as if each box were clicked: a row already so is
    // left alone. The views are told once. Rows out of range are ignored.
    void setDisabled(const std::vector<int>& rows, bool disabled);

    // The bytes of a row's line as read, without its line end; empty for a row the user added.
    // A view into fileBytes(), so that a search over the file can tell its rows apart.
    QByteArrayView lineBytes(int row) const
    {
        const Row& r = m_rows[static_cast<size_t>(row)];
        return r.fromFile ? raw(r) : QByteArrayView();
    }
    // Whether the row's values were set since it was read or added: then they, not its line,
    // are what it shows.
    bool isEdited(int row) const { return m_rows[static_cast<size_t>(row)].edited; }
    QList<int> editedRows() const { return m_edits.keys(); }
    const TextCodec& codec() const { return m_codec; }

    int rowCount(const QModelIndex& parent) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The bytes of the file for the current rows: rows marked deleted are left out; a row whose
    // values are as read keeps its line's exact bytes; a line that shows empty IP and host boxes
    // (one word or none) and whose "禁用" box changed gains or loses one "#"; any other row
    // is written as "#" (when disabled), IP, one space, host, followed by the rest of its
    // original line, where an IP or host that the user did not change keeps its original
    // bytes; a row whose IP and host were both cleared is written as an added empty row. Each line ends as it
    // did in the file; new lines and a last line without an end get the file's line end. Returns false and
    // sets *error, naming the row and the character, if typed text has no form in the file's encoding.
    bool toBytes(QByteArray* out, QString* error) const;

    // The bytes to save when the file now holds current. If current is the file as last read,
    // those of toBytes(). Otherwise another program changed the file since: the user's changes
    // (rows edited, ticked, marked deleted, added) are applied to current line by line, and
    // lines that only the other program changed stay as it left them (HostsMerge). Returns false
    // and sets *error if a line the user changed was also changed or removed there, naming the
    // row and asking the user to read the file again, or if typed text cannot be encoded.
    bool mergeInto(const QByteArray& current, QByteArray* out, QString* error) const;

    // The rows that differ from the file as read, in row order.
    QList<RowChange> changes() const;

    // The address and names of a row as the resolver reads its line (lineMapping), in the file's
    // encoding. An edited row's typed text is encoded into *storage, its names followed by those
    // of the rest of its line, which a save keeps. False for a row that maps nothing: disabled,
    // marked deleted, or without a name.
    bool mapping(int row, QByteArrayView* ip, QByteArrayView* names, QByteArray* storage) const;

    // The file's bytes as last read, and where its first line starts (after a byte-order mark):
    // its rows are its lines from there, cut by HostsMerge::lineAt.
    const QByteArray& fileBytes() const { return m_bytes; }
    qsizetype firstLineOffset() const { return m_bom ? 3 : 0; }

    QByteArray encoding() const { return m_codec.encoding(); }

private:
    void forget(); // drops every row without telling the views: the caller does

    enum LineEnd : quint8 { NoEnd, Lf, CrLf };
    struct Row {
        qint64 start = 0;  // of the line's bytes in m_bytes
        qint64 length = 0; // a line may be longer than 2 GiB: it is written back whole
        LineEnd end = NoEnd;
        bool fromFile = false;
        bool edited = false; // values live in m_edits
        bool deleted = false;
    };

    QByteArrayView raw(const Row& row) const;
    // The bytes of row i without its line end; false and *error if typed text cannot be encoded.
    bool rowBytes(int i, QByteArray* out, QString* error) const;
    bool encodeTyped(int row, QStringView text, QByteArray* out, QString* error) const;
    QByteArray lineEndBytes(LineEnd end) const;

    QByteArray m_baseEncoding;
    TextCodec m_codec;
    QByteArray m_bytes; // the file as read
    bool m_bom = false;
    QByteArray m_lineEnd;
    std::vector<Row> m_rows;
    QHash<int, HostsValues> m_edits; // few rows are edited; most keep only their bytes
};
