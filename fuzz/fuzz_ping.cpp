// The queue split and the command lines of a batch: no started command line may carry a
// character that the batch refuses, nor a path separator from a target.
#include "core/ping/PingBatch.h"
#include "core/ping/PingCommands.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
}

bool hasUnsafe(const QString& s)
{
    for (QChar c : s) {
        if (QStringLiteral("&|<>^\"%\\/").contains(c) || (c.category() == QChar::Other_Control && c != QLatin1Char('\t')))
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString all = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // Up to the first NUL is the count text, the rest the queue.
    const qsizetype nul = all.indexOf(QChar(0));
    const QString count = nul < 0 ? QStringLiteral("4") : all.left(nul);
    const QString queue = nul < 0 ? all : all.mid(nul + 1);

    const QString folder = QStringLiteral("C:\\Tools\\2026-12-07\\");
    const QList<PingBatch::Target> plan = PingBatch::plan(queue, count, [&] { return folder; }, QTime(9, 5, 3));
    for (const PingBatch::Target& t : plan) {
        if (!t.skipped.isEmpty()) {
            require(t.commands.isEmpty() && PingBatch::plannedEntry(t).startsWith(QStringLiteral("跳过:")));
            continue;
        }
        require(!hasUnsafe(t.target) && !hasUnsafe(count));
        require(t.commands.size() == 3);
        const QString file = PingCommands::resultFile(folder, t.target);
        const QString suffix = QStringLiteral(">>\"") + file + QLatin1Char('"');
        for (const Command& cmd : {t.commands[0], t.commands[2]}) {
            require(cmd.commandLine.endsWith(suffix));
            // Between "cmd /c " and the quoted result file nothing is acted on by cmd.
            const QString head = QStringLiteral("cmd /c ");
            require(cmd.commandLine.startsWith(head));
            require(!hasUnsafe(cmd.commandLine.mid(head.size(), cmd.commandLine.size() - head.size() - suffix.size())));
        }
        require(file.startsWith(folder) && !file.mid(folder.size()).contains(QLatin1Char('\\')));
    }
    return 0;
}
