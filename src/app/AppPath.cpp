#include "app/AppPath.h"

#include "app/AppPathRule.h"

namespace AppPath {

QString fromReportedDir(const QString& dir, QChar separator)
{
    return AppPathRule::apply(dir, separator);
}

} // namespace AppPath
