#pragma once

#include <QString>

namespace AppPath {

// The application directory from the executable's directory as the system reports it: one
// separator is appended and every pair of separators is replaced by one, from left to right,
// so a root such as "C:\" does not gain a second one. A leading pair, the start of a network
// path ("\\server\share"), is kept. An empty directory gives just the separator.
QString fromReportedDir(const QString& dir, QChar separator);

} // namespace AppPath
