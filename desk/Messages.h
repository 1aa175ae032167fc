#pragma once

#include <QString>

// The desk's texts, each written once.
namespace DeskText {
inline const QString GridOpenFailed = QStringLiteral("打开数据库出错，请与管理员联系!");
inline const QString CannotSend = QStringLiteral("不能发送命令给该机，请检查该机是否联网!");
inline const QString HostUnreachable = QStringLiteral("发送命令不能到达对方，请检查网络！");
inline const QString CommandTooLong =
    QStringLiteral("命令未发送：命令文字最多29个字节（GBK编码），且不能含有无法编码的字符。");
}  // namespace DeskText
