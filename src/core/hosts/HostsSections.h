#pragma once

#include <QStringView>

#include <vector>

class HostsDocument;
struct HostsValues;

// Sections of a hosts file: a comment row followed by entry rows heads a section, the entry
// rows that follow it up to the first row that is not an entry (a blank line, a comment that
// is not itself an entry, the end of the file). A commented line is an entry only when
// enabling it maps what it says: a valid IPv4 or IPv6 address, then host names (ASCII letters,
// digits, "-", "_", ".") up to a "#"; "#127.0.0.1 is localhost, see below" is prose. Lists of blocked or
// redirected hosts are kept this way, one service to a block, and are switched on and off a block at a time.
namespace HostsSections {

// Whether text has the form of an IPv4 or IPv6 address: hexadecimal digits, dots and colons
// only, with at least one dot or colon. It does not check the numbers: the row shows what the
// file holds, and a section need only tell entries from words of a comment.
bool looksLikeAddress(QStringView text);

// An active entry shows an address in its IP box and a host name; a disabled one also has a
// valid address and host names only (see above), its line's rest included.
bool isEntry(const HostsDocument& document, int row);

// The 0-based rows of the section that row heads, in order, as the rows show now. Empty if row
// is out of range, is not a comment row (a disabled row that is not an entry), or is not
// followed by an entry row.
std::vector<int> sectionRows(const HostsDocument& document, int row);

} // namespace HostsSections
