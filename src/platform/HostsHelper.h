#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// What the window and tarvix-hosts-helper agree on. The helper writes the system hosts file
// with the administrator's rights (started through pkexec); it takes no argument and reads
// from standard input one frame of two contents:
//
//     TARVIX-HOSTS 2 <base size> <result size>\n<exactly base size bytes><exactly result size bytes>
//
// and nothing after it, sizes in decimal. The base is the file as the window read it for this
// save, the result what the window wants it to hold: the helper applies the changes from base
// to result to the file as it is when it writes (another program may have changed it while
// the password dialog was open), or refuses as a conflict. The frame tells complete contents
// from cut-off ones (a window that died while sending), and an empty content (a legal save when
// every row was deleted) from no input at all, which is refused. frame() and readFrame() are
// the one place that makes and reads it, for every platform's writer.
namespace HostsHelper {

// The helper's file name, in CMAKE_INSTALL_LIBEXECDIR/tarvix/ when installed and beside the
// program in the build tree.
inline constexpr char kProgramName[] = "tarvix-hosts-helper";

// The largest content (base or result) the helper accepts: 256 MiB.
inline constexpr qint64 kMaxContent = qint64(256) * 1024 * 1024;

// The helper's exit status. These numbers are stable: the window tells the outcomes apart by
// them. pkexec itself ends with 126 when the password dialog was dismissed and with 127 when
// the user was not authorised or the helper could not be started; the helper never uses them.
enum Status : int {
    Written = 0,      // the hosts file holds the new content
    WriteFailed = 1,  // the system refused the write; the file keeps its old content
    Usage = 2,        // an argument was given; nothing was read or written
    BadInput = 3,     // standard input was not one complete frame (empty, cut off, garbage)
    TooLarge = 4,     // the content is larger than kMaxContent
    UnsafeTarget = 5, // the hosts file is a link or not a regular file, or its folder is not root's
    ReadFailed = 6,   // standard input could not be read
    Conflict = 7,     // another program changed a line the result changes too, or emptied the file
    Recovered = 8,    // a cut-off save was put right first; nothing else was written
};

// The whole frame for base and result.
QByteArray frame(const QByteArray& base, const QByteArray& result);

// Reads one frame from in, never more than the header, kMaxContent bytes for each content and
// one byte to see that nothing follows. Returns Written with the contents in *base and
// *result, or the status that refuses the input, with the reason in *error.
Status readFrame(QIODevice* in, QByteArray* base, QByteArray* result, QString* error);

} // namespace HostsHelper
