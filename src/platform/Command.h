#pragma once

#include "platform/ProcessHandle.h"

#include <QString>
#include <QStringList>

// A program start as a value: the command line that Windows starts as it stands (and that the
// execution log shows), plus what the command means, so that a system without cmd, notepad or
// explorer can carry out the same thing without a shell.
struct Command
{
    enum class Kind {
        OpenFile,   // notepad.exe <path>: the desktop's text editor on a file
        OpenFolder, // explorer.exe <path>: the desktop's file browser on a folder
        AppendLine, // cmd /c echo <text>>>"<path>": one line appended to a file
        Ping,       // cmd /c ping <target> -n <count> >>"<path>": ping's output appended to a file
    };
    enum ShowMode { Hidden = 0, Normal = 1 };

    Kind kind = Kind::OpenFile;
    QString commandLine;
    int showMode = Normal;
    QString path;      // the file or folder the command works on
    QString text;      // AppendLine: the line as it lands in the file
    QStringList words; // Ping: the target's words, without blanks or tabs
    QString count;     // Ping: the count text without the blanks around it
};

struct StartResult
{
    bool ok = false;
    qint64 pid = 0;
    QString error; // the system's description when !ok
    // The started process, held so that its end can be watched. Only a ping's start gives one
    // (and a stand-in starter none): the other commands are never watched.
    ProcessHandle process;
    // A command that is waited for (a line appended through cmd on Windows) was still running
    // when the wait gave up; of a group's last command: an earlier one of its group was. What
    // follows it may then land in the file before its line.
    bool stillRunning = false;
};
