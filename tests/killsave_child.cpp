// A program that saves a file and nothing else, for tst_killsave to kill.
//   killsave_child save PATH CONTENT-FILE          saves as the program does (TextFile::save)
//   killsave_child stop-at N PATH CONTENT-FILE     the same, killing itself before call N
//   killsave_child stop-at CALL PATH CONTENT-FILE  ... before the first call named CALL
// It writes "saving" to standard output right before the save starts.
#include "TestFileSystem.h"
#include "TestFiles.h"
#include "platform/SafeSave.h"
#include "platform/TextFile.h"

#include <cstdio>

#include <signal.h>

int main(int argc, char* argv[])
{
    if (argc < 4)
        return 2;
    const QByteArray mode = argv[1];
    const QString path = QString::fromLocal8Bit(argv[argc - 2]);
    const QByteArray bytes = readBytes(QString::fromLocal8Bit(argv[argc - 1]));
    QString error;
    bool ok = false;
    std::fputs("saving\n", stdout);
    std::fflush(stdout);
    if (mode == "save") {
        ok = TextFile::save(path, bytes, &error);
    } else if (mode == "stop-at" && argc == 5) {
        const QString at = QString::fromLocal8Bit(argv[2]);
        bool isNumber = false;
        const int n = at.toInt(&isNumber);
        int count = 0;
        TestFileSystem fs;
        fs.fail(QStringLiteral("rename"), QStringLiteral(".hosts.tarvix-new.* > hosts"), EBUSY); // in place
        fs.beforeCall = [&](const QString& call) {
            if (isNumber ? count++ == n : call == at)
                raise(SIGKILL);
        };
        ok = SafeSave(fs).save(path, bytes, &error);
    } else {
        return 2;
    }
    std::fputs(ok ? "saved\n" : qPrintable(error + QLatin1Char('\n')), stdout);
    return ok ? 0 : 1;
}
