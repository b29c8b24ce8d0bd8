#pragma once

#include "platform/Platform.h"

#include <QDir>
#include <QString>

// What a test expects where the systems differ: the separator and the form of paths that the
// program shows, and whether the real cmd, ping and file system of Windows are in play.
inline bool onWindows()
{
    return Platform::fileNames() == Platform::FileNames::Windows;
}

// dir as the program names a folder: in the system's own separators, ending in one.
inline QString shownDir(const QString& dir)
{
    return QDir::toNativeSeparators(dir) + Platform::separator();
}
