#pragma once

#include <QStringView>

#include <optional>

// What ping says about a run in its closing lines. Four forms are understood:
//   iputils (Linux)   --- 127.0.0.1 ping statistics ---
//                     4 packets transmitted, 4 received, 0% packet loss, time 3060ms
//                     rtt min/avg/max/mdev = 0.031/0.048/0.062/0.011 ms
//   Windows, Chinese  127.0.0.1 的 Ping 统计信息:
//                         数据包: 已发送 = 4，已接收 = 4，丢失 = 0 (0% 丢失)，
//                     往返行程的估计时间(以毫秒为单位):
//                         最短 = 0ms，最长 = 0ms，平均 = 0ms
//   Windows, English  Ping statistics for 127.0.0.1:
//                         Packets: Sent = 4, Received = 4, Lost = 0 (0% loss),
//                     Approximate round trip times in milli-seconds:
//                         Minimum = 0ms, Maximum = 0ms, Average = 0ms
//   Wine's ping.exe   as Windows in English, without the colon after the address, without the
//                     comma after "(0% loss)", indented with a tab
struct PingSummary
{
    int sent = 0;
    int received = 0;
    double lossPercent = 0; // as ping worked it out
    bool hasTimes = false;  // ping writes no round-trip line when no reply came
    double minMs = 0;
    double avgMs = 0;
    double maxMs = 0;

    // The summary of the last statistics block in text (the tail of a result file, decoded),
    // or nothing when the last block has no complete packets line (ping was stopped while
    // writing it, or the file was cut) or when text holds no statistics block at all (a name
    // that did not resolve, a ping that printed nothing, a form not listed above). Only the last
    // block counts: an earlier, complete one belongs to another run. A round-trip line that is
    // missing or cut off leaves hasTimes false.
    static std::optional<PingSummary> parseLast(QStringView text);
};

// What one line of a run's output says about one request, in the forms above:
//   iputils      64 bytes from 127.0.0.1: icmp_seq=3 ttl=64 time=0.031 ms   a reply
//                no answer yet for icmp_seq=4                                lost (ping -O)
//                From 192.0.2.1 icmp_seq=5 Destination Host Unreachable      lost
//   Windows      来自 127.0.0.1 的回复: 字节=32 时间<1ms TTL=128              a reply
//                Reply from 127.0.0.1: bytes=32 time=12ms TTL=64             a reply
//                请求超时。 / Request timed out.                              lost
//                来自 x 的回复: 无法访问目标主机。 / Reply from x: Destination host unreachable.
//                一般故障。 / General failure. / PING: 传输失败。 / PING: transmit failed.
//   TCP targets  连接 127.0.0.1:7777: 时间=0.3ms / …: 拒绝 / …: 超时 / …: 失败 …
// Any other line (the header, the separator and start-time lines, a duplicate reply, the
// summary, a form not listed) says nothing: Kind::None.
struct PingReply
{
    enum class Kind { None, Reply, Lost };
    Kind kind = Kind::None;
    double ms = 0; // Reply: the round-trip time ("<1ms" gives 0)
    int seq = -1;  // iputils: the icmp_seq the line names; -1 where the form has none

    // line without its line end; blanks around it are allowed.
    static PingReply parse(QStringView line);
};
