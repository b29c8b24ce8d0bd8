#pragma once

#include "platform/Platform.h"

#include <QByteArray>
#include <QString>

class QWidget;

// Saving the system hosts file with the administrator's rights, where the window lacks them.
namespace ElevatedSave {

// Hands base (the file as the save read it) and bytes (the merged result) to the hosts helper
// through elevation (pkexec and the helper's path), which merges again against the file as it
// is when it writes. Elevation asks
// for the administrator's password in the desktop's own dialog, and waits up to timeoutMs for
// the outcome while window keeps painting but takes no input. Returns true when the helper
// wrote the file. Otherwise returns false and sets *error to what the user is told: the
// reason of the direct save (the text *error holds on entry) with a hint where pkexec or the
// helper is missing, or why the save through the helper did not happen (dialog cancelled, not
// authorised, the helper's own report). Unsupported elevation (Windows) leaves *error as it is.
bool run(QWidget* window, const Platform::Elevation& elevation, const QByteArray& base,
         const QByteArray& bytes, int timeoutMs, QString* error);

} // namespace ElevatedSave
