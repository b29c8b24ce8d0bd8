#include "core/ping/PingCommands.h"

#include <algorithm>

namespace PingCommands {

namespace {

QString quoted(const QString& path)
{
    return QLatin1Char('"') + path + QLatin1Char('"');
}

QString shown(QChar c)
{
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
        return QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("\u201C") + c + QStringLiteral("\u201D");
}

} // namespace

QString dateText(const QDate& date)
{
    return date.toString(QStringLiteral("yyyy-MM-dd"));
}

QString cmdTimeText(const QTime& time)
{
    return QStringLiteral("%1:%2:%3.%4")
        .arg(time.hour(), 2, 10, QLatin1Char(' '))
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(time.second(), 2, 10, QLatin1Char('0'))
        .arg(time.msec() / 10, 2, 10, QLatin1Char('0'));
}

QString resultFolder(const QString& appPath, const QString& date, QChar separator)
{
    return appPath + date + separator;
}

QString resultFile(const QString& folder, const QString& target, Platform::FileNames names)
{
    QString name = target;
    if (names == Platform::FileNames::Windows)
        name.replace(QLatin1Char(':'), QLatin1Char('-'));
    return folder + name + QStringLiteral(".txt");
}

QString unsafeReason(const QString& target)
{
    static const QString cmdChars = QStringLiteral("&|<>^\"%");
    for (QChar c : target) {
        if (cmdChars.contains(c))
            return QStringLiteral("含有命令解释器会执行的字符 ") + shown(c);
        if (c == QLatin1Char('\\') || c == QLatin1Char('/'))
            return QStringLiteral("含有路径分隔符 ") + shown(c);
        if (c == QLatin1Char('*') || c == QLatin1Char('?'))
            return QStringLiteral("含有文件名不允许的字符 ") + shown(c);
        if ((c.category() == QChar::Other_Control) && c != QLatin1Char('\t'))
            return QStringLiteral("含有控制字符 ") + shown(c);
    }
    const QString word = target.trimmed();
    for (QChar c : word) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t'))
            return QStringLiteral("中间含有空白，只能是一个主机名或地址");
    }
    if (word.startsWith(QLatin1Char('-')))
        return QStringLiteral("以“-”开头，会被 ping 当作选项");
    return QString();
}

bool tcpTarget(const QString& target, QString* host, quint16* port, QString* problem)
{
    const QString word = target.trimmed();
    qsizetype colon = -1;
    if (word.startsWith(QLatin1Char('['))) {
        const qsizetype close = word.indexOf(QLatin1Char(']'));
        *host = word.mid(1, close - 1);
        colon = close + 1;
        if (close < 0 || colon >= word.size() || word.at(colon) != QLatin1Char(':')) {
            *problem = QStringLiteral("“[地址]”之后要有“:端口”");
            return true;
        }
    } else {
        if (word.count(QLatin1Char(':')) != 1)
            return false;
        colon = word.indexOf(QLatin1Char(':'));
        *host = word.left(colon);
    }
    bool ok = false;
    const QStringView portText = QStringView(word).mid(colon + 1);
    const uint number = portText.toUInt(&ok);
    const bool digits = !portText.isEmpty() && std::all_of(portText.begin(), portText.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    if (host->isEmpty())
        *problem = QStringLiteral("冒号前没有主机名或地址");
    else if (!digits || !ok || number < 1 || number > 65535)
        *problem = QStringLiteral("端口“%1”不是 1 到 65535 之间的数").arg(portText);
    else
        *port = quint16(number);
    return true;
}

Command separatorCommand(const QString& resultFile)
{
    Command cmd;
    cmd.kind = Command::Kind::AppendLine;
    cmd.text = QString(64, QLatin1Char('='));
    cmd.commandLine = QStringLiteral("cmd /c echo ") + cmd.text + QStringLiteral(">>") + quoted(resultFile);
    cmd.showMode = Command::Hidden;
    cmd.path = resultFile;
    return cmd;
}

Command startTimeCommand(const QString& resultFile, const QTime& now)
{
    Command cmd;
    cmd.kind = Command::Kind::AppendLine;
    cmd.commandLine = QStringLiteral("cmd /c echo 本次任务开始时间:%time%>>") + quoted(resultFile);
    cmd.text = QStringLiteral("本次任务开始时间:") + cmdTimeText(now);
    cmd.showMode = Command::Hidden;
    cmd.path = resultFile;
    return cmd;
}

Command pingCommand(const QString& target, const QString& count, const QString& resultFile)
{
    Command cmd;
    cmd.kind = Command::Kind::Ping;
    cmd.commandLine = QStringLiteral("cmd /c ping ") + target + QStringLiteral(" -n ") + count
                      + QStringLiteral(" >>") + quoted(resultFile);
    cmd.showMode = Command::Hidden;
    cmd.path = resultFile;
    // The line shows the target and count as they stand; ping gets them as their checks see
    // them, without the blanks and tabs around them that it would take for part of a name.
    cmd.words = target.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    cmd.count = count.trimmed();
    return cmd;
}

Command explorerCommand(const QString& folder)
{
    Command cmd;
    cmd.kind = Command::Kind::OpenFolder;
    cmd.commandLine = QStringLiteral("explorer.exe ") + folder;
    cmd.showMode = Command::Normal;
    cmd.path = folder;
    return cmd;
}

} // namespace PingCommands
