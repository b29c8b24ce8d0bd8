#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

// A three-way merge of hosts files, line by line: the user's changes to the file as it was last
// read, applied to the file as another program has left it since (VPN clients, container tools
// and WSL add and remove lines while the window is open).
namespace HostsMerge {

// Where the line that starts at pos in a hosts file's bytes ends: LF and CR LF end a line, and
// so does a CR that ends the bytes (a CR LF cut short); a last line without a line end is a line
// too. Its text is the `length` bytes from pos, its line end the `endLength` bytes after them.
// The one rule by which both HostsDocument and the merge cut a file into lines.
struct LineSpan {
    qsizetype length;
    qsizetype endLength;
};
inline LineSpan lineAt(QByteArrayView bytes, qsizetype pos)
{
    const qsizetype lf = bytes.indexOf('\n', pos);
    qsizetype end = lf < 0 ? bytes.size() : lf;
    const qsizetype next = lf < 0 ? bytes.size() : lf + 1;
    if (end > pos && bytes.at(end - 1) == '\r')
        --end;
    return {end - pos, next - end};
}

// One line of a hosts file: its bytes and its line end (empty for a last line without one).
struct Line {
    QByteArrayView text;
    QByteArrayView end;
};

// The lines of bytes as HostsDocument reads them: LF and CR LF end a line, and so does a CR that
// ends the file; a last line without a line end is a line too. A UTF-8 byte-order mark at the
// start is not part of the first line: *bom tells whether there was one.
std::vector<Line> split(QByteArrayView bytes, bool* bom);

// What the user did to one line of the file as last read.
struct Change {
    enum Kind : quint8 { Kept, Changed, Deleted };
    Kind kind = Kept;
    QByteArray text; // Changed: the line's new bytes, without its line end
};

// For each line of a, the index of the line of b that it is the same line as, or -1 where b has
// removed or changed it: the longest common sequence of equal lines (equal bytes, line ends
// aside), which keeps the order. Lines that a and b share at their start and end are matched
// directly; in between, a difference of more than maxEdits lines counts as all of it changed.
std::vector<qsizetype> match(const std::vector<Line>& a, const std::vector<Line>& b, int maxEdits = 1000);

// Applies changes (one per line of base) and added lines (after the last line) to current.
// Lines that the user kept are written as current has them; a line the user changed or deleted
// that current still has unchanged is changed or left out; lines that only current has stay
// where it has them, and the added lines come at the end. Every line ends with a line end: its
// own, or lineEnd where it has none. Returns false and sets *conflict to the index of the first
// base line that the user changed or deleted and current changed or removed (both removing it
// is no conflict), or to -1 if current is empty and base is not (a program that rewrites the
// file truncates it first: its lines are not gone); *out is then undefined.
bool merge(const std::vector<Line>& base, const std::vector<Change>& changes,
           const std::vector<QByteArray>& added, const std::vector<Line>& current, QByteArrayView lineEnd,
           QByteArray* out, qsizetype* conflict);

// The same merge for a result given as bytes: the changes from base to result (lines changed in
// place or deleted, lines added at the end) applied to current, as merge() does; current as it
// is if it equals base, a UTF-8 byte-order mark where current has one. Returns false and sets
// *conflict as merge() does, or to the base line before which result inserted lines elsewhere
// than at the end, when current differs from base.
bool mergeResult(QByteArrayView base, QByteArrayView result, QByteArrayView current, QByteArray* out,
                 qsizetype* conflict);

} // namespace HostsMerge
