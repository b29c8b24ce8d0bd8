#pragma once

#include <QString>

// What a writer of the hosts file that runs with the administrator's rights on a user's behalf
// needs from the system: tarvix-hosts-helper on Linux, Tarvix.exe in its writer mode on Windows.
namespace HelperProcess {

// Leaves nothing of the caller's setting that could steer a program running as root: the
// environment is emptied (pkexec clears it too, but the helper may be started otherwise), new
// files get mode 0644, a file size limit cannot cut the write short, and the signals that a
// terminal or a closed pipe send cannot stop it halfway through a write.
void harden();

// The largest file this process may write, as its file size limit (ulimit -f) allows after
// harden(); -1 when there is no limit. A root without the right to lift a caller's limit
// (CAP_SYS_RESOURCE) keeps it.
qint64 fileSizeLimit();

// Whether a program running as root may write path on a user's behalf. path must be missing
// or a regular file, and not a symbolic link: a link would let the write land on whatever the
// link names. Its folder must be a real folder owned by root that no one else can write, so
// that nobody can put a link or another file in its place between this check and the write.
// On Windows, where the system folder's access list does that, path and its folder must not
// be links (reparse points) and path must not be a folder. Returns false and sets *error to
// the reason otherwise.
bool isSafeTarget(const QString& path, QString* error);

} // namespace HelperProcess
