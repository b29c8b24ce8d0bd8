#pragma once

#include "platform/Command.h"
#include "platform/Platform.h"

#include <QDate>
#include <QTime>

// The command lines of a batch ping and of the result folder, built as values: started
// elsewhere, logged as they stand.
namespace PingCommands {

// The date text that names the day's result folder: yyyy-MM-dd, always one valid folder name.
QString dateText(const QDate& date);

// The time as cmd expands %time%: hours padded with a blank, centiseconds (" 9:05:03.12").
QString cmdTimeText(const QTime& time);

// appPath + date + separator; appPath ends in its separator.
QString resultFolder(const QString& appPath, const QString& date, QChar separator);

// folder + the target's file name + ".txt". The file name is the target as it stands, blanks
// included; where file names cannot hold a colon (Windows), each ':' of an IPv6 address becomes
// '-', as in Windows' own ipv6-literal names ("::1" gives "--1.txt").
QString resultFile(const QString& folder, const QString& target,
                   Platform::FileNames names = Platform::FileNames::Posix);

// Why a target (or the count text) must not be started, or an empty string if it may. It is
// refused if it holds a character that cmd acts on (& | < > ^ " %), a path separator, a
// character no file name may hold (* ?) or a control character other than tab: it would run
// other commands or write outside the day's folder. It must also be one word: blanks inside
// it, or a '-' at its start, would hand ping options of their own. Blanks around it are
// allowed and kept.
QString unsafeReason(const QString& target);

// Whether the target is a TCP target: host:port, IPv4:port or [IPv6]:port (a target with
// more than one colon and no brackets is an IPv6 address for ping). For one, sets *host (without
// the brackets) and *port, or *problem when its port is not a number from 1 to 65535 or its
// host is empty.
bool tcpTarget(const QString& target, QString* host, quint16* port, QString* problem);

// cmd /c echo ========...>>"file"
Command separatorCommand(const QString& resultFile);
// cmd /c echo 本次任务开始时间:%time%>>"file"; the line is given the time now for systems
// without cmd.
Command startTimeCommand(const QString& resultFile, const QTime& now);
// cmd /c ping <target> -n <count> >>"file", target and count as they stand; the words and the
// count that a system without cmd hands to ping are trimmed of blanks and tabs.
Command pingCommand(const QString& target, const QString& count, const QString& resultFile);
// explorer.exe <folder>
Command explorerCommand(const QString& folder);

} // namespace PingCommands
