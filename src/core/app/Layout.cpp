#include "core/app/Layout.h"

#include "core/app/Controls.h"

#include <QHash>
#include <QtGlobal>

#include <cmath>
#include <cstring>

namespace Layout {

int toPixels(int twips)
{
    return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

int toTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

namespace {

// clang-format off
const Control kControls[] = {
    // name        kind             container  caption                 left  top   width height tab
    {"Frame1",     Kind::Frame,     nullptr,   "",                     120,  480,  6375, 4935,  0},
    {"Check1(0)",  Kind::CheckBox,  "Frame1",  "禁用",                 120,  840,  855,  255,   1},
    {"Text1(0)",   Kind::TextBox,   "Frame1",  "",                     1080, 840,  2415, 270,   2},
    {"Combo1(0)",  Kind::ComboBox,  "Frame1",  "",                     3600, 840,  1935, 300,   3},
    {"Check2(0)",  Kind::CheckBox,  "Frame1",  "删",                   5640, 840,  615,  300,   4},
    {"CmdIP",      Kind::Button,    "Frame1",  "常用IP",               5040, 240,  975,  375,   5},
    {"CmdAdd",     Kind::Button,    "Frame1",  "增加条目",             1560, 240,  1095, 375,   6},
    {"CmdSave",    Kind::Button,    "Frame1",  "保存文件",             2760, 240,  1095, 375,   7},
    {"CmdRead",    Kind::Button,    "Frame1",  "读取HOST文件",         120,  240,  1335, 375,   8},
    {"CmdExit",    Kind::Button,    nullptr,   "退出",                 5400, 5640, 1215, 375,   9},
    {"TabStrip1",  Kind::TabStrip,  nullptr,   "",                     0,    120,  6615, 5415,  10},
    {"Command1",   Kind::Button,    "Frame1",  "HOST文件",             3960, 240,  975,  375,   11},
    {"Frame2",     Kind::Frame,     nullptr,   "",                     120,  1680, 6375, 3615,  12},
    {"Command2",   Kind::Button,    "Frame2",  "批量PING以下域名或IP", 120,  240,  2175, 375,   13},
    {"TextIP",     Kind::TextBox,   "Frame2",  "",                     120,  960,  2175, 2175,  14},
    {"Command3",   Kind::Button,    "Frame2",  "保存任务",             2400, 240,  1095, 375,   15},
    {"TextN",      Kind::TextBox,   "Frame2",  "50",                   5160, 360,  375,  270,   16},
    {"Label1",     Kind::Label,     "Frame2",  "次",                   5640, 360,  375,  255,   17},
    {"Command4",   Kind::Button,    "Frame2",  "打开结果目录",         3600, 240,  1335, 375,   18},
    {"ListLog",    Kind::ListBox,   "Frame2",  "",                     2400, 960,  3855, 2190,  19},
    {"Label2",     Kind::Label,     "Frame2",  "任务队列",             120,  720,  855,  255,   20},
    {"Label3",     Kind::Label,     "Frame2",  "执行日志",             2400, 720,  1095, 255,   21},
    {"Label4",     Kind::Label,     nullptr,   "",                     120,  5760, 3690, 300,   22},
    // The find box and its count, hidden until asked for, at the foot of the HOST page: the
    // rows give up their height while it shows, and it covers no other control (Label4 below
    // the page stays readable).
    {"TextFind",   Kind::TextBox,   "Frame1",  "",                     120,  4560, 2895, 315,   23},
    {"LabelFind",  Kind::Label,     "Frame1",  "",                     3120, 4590, 2160, 255,   24},
};
// clang-format on

} // namespace

const Control* controls(int* count)
{
    *count = static_cast<int>(sizeof(kControls) / sizeof(kControls[0]));
    return kControls;
}

const Control& control(const char* name)
{
    for (const Control& c : kControls) {
        if (std::strcmp(c.name, name) == 0)
            return c;
    }
    qFatal("no control %s in the layout", name);
}

int rowTop(int row)
{
    return kRowTop0 + kRowPitch * row;
}

Fit refit(int rows, int maxWindowHeight)
{
    const int frameTop = control(::Control::HostsPage).top;
    const int textIpTop = control(::Control::Queue).top;
    Fit fit{};
    fit.frameHeight = 850 + kRowPitch * rows;
    fit.capped = false;
    if (maxWindowHeight > 0 && fit.frameHeight + frameTop + 1150 > maxWindowHeight) {
        // Never smaller than the frame for one row, whatever the screen.
        fit.frameHeight = qMax(maxWindowHeight - frameTop - 1150, 850 + kRowPitch);
        fit.capped = true;
    }
    fit.tabStripHeight = fit.frameHeight + 500;
    fit.windowHeight = fit.frameHeight + frameTop + 1150;
    fit.exitTop = fit.frameHeight + frameTop + 200;
    fit.textIpHeight = fit.frameHeight - textIpTop - 100;
    fit.listLogHeight = fit.textIpHeight + 10;
    return fit;
}

QString spokenName(const Control& c)
{
    static const QHash<QByteArray, QString> names{
        {"Frame1", QStringLiteral("HOST编辑")}, {"Frame2", QStringLiteral("批量PING")},
        {"TabStrip1", QStringLiteral("页面")},  {"Text1(0)", QStringLiteral("主机名")},
        {"Combo1(0)", QStringLiteral("IP")},    {"TextIP", QStringLiteral("任务队列")},
        {"TextN", QStringLiteral("PING次数")},  {"ListLog", QStringLiteral("执行日志")},
        {"TextFind", QStringLiteral("查找")},   {"LabelFind", QStringLiteral("找到的行数")},
    };
    return names.value(QByteArray(c.name), QString::fromUtf8(c.caption));
}

} // namespace Layout
