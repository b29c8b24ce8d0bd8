// The platform layer on Linux and other Unix systems: no cmd, notepad or explorer, so the
// meaning of their command lines is carried out directly, without any shell.
#include "platform/Platform.h"

#include "platform/TextCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <langinfo.h>
#include <locale.h>

namespace Platform {

QString executableDir()
{
    // /proc/self/exe names the executable even before a QCoreApplication exists.
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    if (!exe.isEmpty())
        return QFileInfo(exe).absolutePath();
    return QCoreApplication::applicationDirPath();
}

QChar separator()
{
    return QLatin1Char('/');
}

QString hostsPath()
{
    return QStringLiteral("/etc/hosts");
}

QByteArray ansiEncoding()
{
    static const QByteArray name = [] {
        setlocale(LC_CTYPE, "");
        QByteArray codeset = nl_langinfo(CODESET);
        // A plain C or POSIX locale says ASCII; its files are UTF-8 in practice, as Qt assumes.
        if (codeset.isEmpty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII" || codeset == "US-ASCII")
            codeset = "UTF-8";
        return codeset;
    }();
    return name;
}

QByteArray lineEnd()
{
    return QByteArrayLiteral("\n");
}

QString resolveFileName(const QString& dir, const QString& name)
{
    const QString exact = dir + name;
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList entries = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return dir + entry;
    }
    return exact;
}

bool createDirectory(const QString& path)
{
    return QDir().mkdir(path);
}

namespace {

StartResult startDetached(QProcess& process)
{
    StartResult result;
    if (QStandardPaths::findExecutable(process.program()).isEmpty()
        && !QFileInfo(process.program()).isExecutable()) {
        result.error = QStringLiteral("%1: program not found").arg(process.program());
        return result;
    }
    process.setStandardInputFile(QProcess::nullDevice());
    result.ok = process.startDetached(&result.pid);
    if (!result.ok)
        result.error = process.errorString();
    return result;
}

StartResult openWithDesktop(const QString& path)
{
    QProcess process;
    process.setProgram(QStringLiteral("xdg-open"));
    process.setArguments({path});
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return startDetached(process);
}

// echo text>>"path": append one line to the file, as cmd would, but without a process.
StartResult appendLine(const QString& path, const QString& text)
{
    StartResult result;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        result.error = file.errorString();
        return result;
    }
    const QByteArray line = TextCodec().encode(text) + lineEnd();
    result.ok = file.write(line) == line.size();
    if (!result.ok)
        result.error = file.errorString();
    return result;
}

StartResult ping(const Command& cmd)
{
    QProcess process;
    process.setProgram(QStringLiteral("ping"));
    process.setArguments(QStringList{QStringLiteral("-c"), cmd.count} + cmd.words);
    // ping opens the result file for appending, as cmd's >> does; a file it cannot open
    // makes the start fail.
    QFile probe(cmd.path);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
        StartResult result;
        result.error = QDir::toNativeSeparators(cmd.path) + QStringLiteral(": ") + probe.errorString();
        return result;
    }
    probe.close();
    process.setStandardOutputFile(cmd.path, QIODevice::Append);
    process.setStandardErrorFile(cmd.path, QIODevice::Append);
    return startDetached(process);
}

} // namespace

StartResult start(const Command& cmd)
{
    switch (cmd.kind) {
    case Command::Kind::OpenFile:
    case Command::Kind::OpenFolder:
        return openWithDesktop(cmd.path);
    case Command::Kind::AppendLine:
        return appendLine(cmd.path, cmd.text);
    case Command::Kind::Ping:
        return ping(cmd);
    }
    return {};
}

} // namespace Platform
