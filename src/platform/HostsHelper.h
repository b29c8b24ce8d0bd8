#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// What the window and tarvix-hosts-helper agree on. The helper writes the system hosts file
// with the administrator's rights (started through pkexec); it takes no argument and reads the
// new content from standard input as one frame:
//
//     TARVIX-HOSTS 1 <size in decimal>\n<exactly size bytes>
//
// and nothing after it. The frame tells a complete content from a cut-off one (a window that
// died while sending), and an empty hosts file (size 0, a legal save when every row was
// deleted) from no input at all, which is refused.
namespace HostsHelper {

// The helper's file name, in CMAKE_INSTALL_LIBEXECDIR/tarvix/ when installed and beside the
// program in the build tree.
inline constexpr char kProgramName[] = "tarvix-hosts-helper";

// The largest content the helper accepts: 256 MiB.
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
};

// The header line that comes before a content of size bytes.
QByteArray header(qint64 size);

// The whole frame for content.
QByteArray frame(const QByteArray& content);

// Reads one frame from in, never more than the header, kMaxContent bytes and one byte to see
// that nothing follows. Returns Written with the content in *content, or the status that
// refuses the input, with the reason in *error.
Status readFrame(QIODevice* in, QByteArray* content, QString* error);

} // namespace HostsHelper
