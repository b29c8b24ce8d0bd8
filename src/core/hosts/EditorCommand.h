#pragma once

#include "platform/Command.h"

// "notepad.exe " + path, the path unquoted, shown as a normal window: the text editor on a file.
inline Command editorCommand(const QString& path)
{
    Command cmd;
    cmd.kind = Command::Kind::OpenFile;
    cmd.commandLine = QStringLiteral("notepad.exe ") + path;
    cmd.showMode = Command::Normal;
    cmd.path = path;
    return cmd;
}
