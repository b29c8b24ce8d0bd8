#pragma once

// The step of recovery that both systems share once they have found a file that another program
// changed after a save was cut off (KeptCopy::Found::ChangedSince). Only TextFile's recovery on
// each system includes it.

#include "platform/TextFile.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace KeptCopyStep {

// The file at path keeps its content; old (the content from before the cut-off save) goes to
// keepOld, and then dropKept removes the kept copy at kept. Returns Kept with *message saying
// where the old content went; Failed with the copy left and the reason in *message if there is
// no keepOld, it fails, or the copy cannot be removed.
TextFile::Recovery keepChanged(const QString& path, const QString& kept, const QByteArray& old,
                               const TextFile::KeepOld& keepOld,
                               const std::function<bool(QString* why)>& dropKept, QString* message);

} // namespace KeptCopyStep
