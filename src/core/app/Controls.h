#pragma once

// The layout names of the window's controls that code looks up, each under what the control is.
// The names are the controls' objectNames, as the layout table gives them.
namespace Control {

inline constexpr char TabStrip[] = "TabStrip1";
inline constexpr char HostsPage[] = "Frame1";
inline constexpr char PingPage[] = "Frame2";
inline constexpr char Exit[] = "CmdExit";
inline constexpr char ReadHosts[] = "CmdRead";
inline constexpr char AddRow[] = "CmdAdd";
inline constexpr char SaveHosts[] = "CmdSave";
inline constexpr char EditHosts[] = "Command1";
inline constexpr char EditCommonIps[] = "CmdIP";
inline constexpr char StartBatch[] = "Command2";
inline constexpr char SaveQueue[] = "Command3";
inline constexpr char OpenResultFolder[] = "Command4";
inline constexpr char Queue[] = "TextIP";
inline constexpr char Count[] = "TextN";
inline constexpr char Log[] = "ListLog";
inline constexpr char RightsNotice[] = "Label4";
inline constexpr char FindBox[] = "TextFind";
inline constexpr char FindCount[] = "LabelFind";
// The template row: hidden, the model of every entry row.
inline constexpr char TemplateDisable[] = "Check1(0)";
inline constexpr char TemplateHost[] = "Text1(0)";
inline constexpr char TemplateIp[] = "Combo1(0)";
inline constexpr char TemplateDelete[] = "Check2(0)";

} // namespace Control
