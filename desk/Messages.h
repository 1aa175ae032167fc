#pragma once

#include <QString>

// The desk's texts, each written once; the database failures among them are shown by the
// operations of every room above.
namespace DeskText {
inline const QString DbRestart = QStringLiteral("数据库出错，请重新启动本软件!");
inline const QString DbRerun = QStringLiteral("数据库出错，请重新运行本软件!");
inline const QString DbFault = QStringLiteral("数据库运行有误，请关闭本软件重新运行!");
inline const QString DbContact = QStringLiteral("数据库出现错误，请与管理员联系");
inline const QString GridOpenFailed = QStringLiteral("打开数据库出错，请与管理员联系!");
inline const QString CannotSend = QStringLiteral("不能发送命令给该机，请检查该机是否联网!");
inline const QString HostUnreachable = QStringLiteral("发送命令不能到达对方，请检查网络！");
// A server database that does not answer: said once, and never as "close and restart".
inline const QString ServerLost = QStringLiteral(
    "与数据库服务器的连接断开了，正在自动重新连接。连接恢复之前不能做这项操作，请稍后再试。");
inline const QString ServerLostDuringCommand = QStringLiteral(
    "与数据库服务器的连接在这项操作中断开了，操作可能没有完成。正在自动重新连接；"
    "恢复后表格会自动更新，请在表格中查看结果，需要时再做一次。");
inline const QString ServerTooSlow = QStringLiteral(
    "数据库服务器没有及时完成这项操作（服务器忙，或另一台前台正在处理同一台机器），"
    "操作没有完成，请稍后再试。");
inline const QString CommandTooLong =
    QStringLiteral("命令未发送：命令文字最多29个字节（GBK编码），且不能含有无法编码的字符。");
}  // namespace DeskText
