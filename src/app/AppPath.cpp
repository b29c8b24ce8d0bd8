#include "app/AppPath.h"

namespace AppPath {

QString fromReportedDir(const QString& dir, QChar separator)
{
    QString prefix;
    QString rest = dir;
    if (dir.size() > 2 && dir.at(0) == separator && dir.at(1) == separator) {
        // Collapsing the pair would turn \\server\share into \server\share, a folder on the
        // current drive.
        prefix = dir.left(2);
        rest = dir.mid(2);
    }
    rest += separator;

    QString out;
    out.reserve(prefix.size() + rest.size());
    out += prefix;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        out += rest.at(i);
        if (rest.at(i) == separator && i + 1 < rest.size() && rest.at(i + 1) == separator)
            ++i; // the pair becomes one; the search resumes after it
    }
    return out;
}

} // namespace AppPath
