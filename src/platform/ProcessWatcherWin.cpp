// Windows: the process HANDLE kept from CreateProcessW is signalled when the process ends;
// QWinEventNotifier reports it on the event loop, and GetExitCodeProcess gives the exit code.
#include "platform/ProcessWatcher.h"

#include "platform/win32/WinApi.h"

#include <QWinEventNotifier>

QObject* ProcessWatcher::createNotifier(quint64 id, const ProcessHandle& process)
{
    auto* notifier = new QWinEventNotifier(reinterpret_cast<Qt::HANDLE>(process.native()), this);
    connect(notifier, &QWinEventNotifier::activated, this, [this, id] { ended(id); });
    return notifier;
}

void ProcessWatcher::stopNotifier(QObject* notifier)
{
    static_cast<QWinEventNotifier*>(notifier)->setEnabled(false);
}

ProcessEnd ProcessWatcher::collect(const ProcessHandle& process)
{
    ProcessEnd end;
    unsigned long code = 0;
    if (winapi::processExitCode(reinterpret_cast<void*>(process.native()), &code)) {
        end.kind = ProcessEnd::Kind::Exited;
        end.code = static_cast<int>(code);
    }
    return end;
}

bool ProcessWatcher::startPolling(quint64)
{
    return false; // every start on Windows gives a HANDLE: there is nothing to poll
}

void ProcessWatcher::pollEnds()
{
}
