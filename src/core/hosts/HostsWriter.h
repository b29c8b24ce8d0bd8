#pragma once

#include "platform/HostsHelper.h"

#include <QString>

class QIODevice;

// The save of a writer that runs with the administrator's rights on the window's behalf:
// tarvix-hosts-helper (started by pkexec) and Tarvix.exe in its writer mode (started through
// the UAC prompt) both end here, so that they read one frame and save one way.
namespace HostsWriter {

// Reads one frame (HostsHelper::readFrame: the base the window read and its result) from in,
// merges the result onto path as it is now and saves it (HostsSaver::mergeAndSave). path is the
// system's hosts file that the caller names from its constant, never from its input: it must
// be a safe target (HelperProcess::isSafeTarget), the content within the file size limit.
// Returns Written, or the status that refuses (a conflict with another program's change
// included), with the reason in *error; nothing is written then.
HostsHelper::Status writeFromFrame(QIODevice* in, const QString& path, QString* error);

} // namespace HostsWriter
