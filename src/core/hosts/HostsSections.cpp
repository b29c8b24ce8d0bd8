#include "core/hosts/HostsSections.h"

#include "core/hosts/HostsDocument.h"

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

bool isEntry(const HostsValues& values)
{
    return !values.host.isEmpty() && looksLikeAddress(values.ip);
}

std::vector<int> sectionRows(const HostsDocument& document, int row)
{
    std::vector<int> rows;
    if (row < 0 || row >= document.rowCount())
        return rows;
    const HostsValues head = document.values(row);
    if (!head.disabled || isEntry(head))
        return rows;
    for (int r = row + 1; r < document.rowCount() && isEntry(document.values(r)); ++r)
        rows.push_back(r);
    return rows;
}

} // namespace HostsSections
