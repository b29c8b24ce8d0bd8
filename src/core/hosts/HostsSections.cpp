#include "core/hosts/HostsSections.h"

#include "core/hosts/HostsDocument.h"
#include "platform/Network.h"

namespace HostsSections {

bool looksLikeAddress(QStringView text)
{
    bool separator = false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'.' || u == u':')
            separator = true;
        else if (!((u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F')))
            return false;
    }
    return separator;
}

namespace {

bool isHostName(QStringView word)
{
    for (const QChar c : word) {
        const char16_t u = c.unicode();
        if (!((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'-' ||
              u == u'_' || u == u'.'))
            return false;
    }
    return !word.isEmpty();
}

} // namespace

bool isEntry(const HostsDocument& document, int row)
{
    const HostsValues values = document.values(row);
    if (values.host.isEmpty() || !looksLikeAddress(values.ip))
        return false;
    if (!values.disabled)
        return true;
    if (Platform::addressFamily(QStringView(values.ip)) == 0)
        return false;
    // The names that enabling the line would map: its host and the rest of its line, which a
    // save keeps, up to a "#".
    QString names = values.host;
    const QByteArrayView line = document.lineBytes(row);
    if (!line.isEmpty())
        names += QLatin1Char(' ') + document.codec().decode(line.sliced(restOfLineOffset(line)));
    const qsizetype comment = names.indexOf(QLatin1Char('#'));
    if (comment >= 0)
        names.truncate(comment);
    bool any = false;
    qsizetype p = 0;
    while (p < names.size()) {
        const auto blank = [&] { return names[p] == QLatin1Char(' ') || names[p] == QLatin1Char('\t'); };
        while (p < names.size() && blank())
            ++p;
        const qsizetype start = p;
        while (p < names.size() && !blank())
            ++p;
        if (p == start)
            break;
        if (!isHostName(QStringView(names).mid(start, p - start)))
            return false;
        any = true;
    }
    return any;
}

std::vector<int> sectionRows(const HostsDocument& document, int row)
{
    std::vector<int> rows;
    if (row < 0 || row >= document.rowCount())
        return rows;
    const HostsValues head = document.values(row);
    if (!head.disabled || isEntry(document, row))
        return rows;
    for (int r = row + 1; r < document.rowCount() && isEntry(document, r); ++r)
        rows.push_back(r);
    return rows;
}

} // namespace HostsSections
