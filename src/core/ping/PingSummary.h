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
