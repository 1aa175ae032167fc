#include "client_channel/Commands.h"

#include <QStringEncoder>

#include "client_channel/NMUDP.h"
#include "console/Desk.h"

std::optional<QByteArray> CommandDatagram(const QString& text) {
    if (text.contains(QChar(0))) return std::nullopt;
    QStringEncoder gbk("GBK");
    QByteArray bytes = gbk.encode(text);
    if (!gbk.isValid() || gbk.hasError() || bytes.size() > CommandTextLimit) return std::nullopt;
    bytes.append(QByteArray(CommandDatagramSize - bytes.size(), '\0'));
    return bytes;
}

bool SendCommand(Desk& desk, const QString& text) {
    const std::optional<QByteArray> datagram = CommandDatagram(text);
    if (!datagram) {
        desk.prompts.message(QStringLiteral(
            "命令未发送：命令文字最多29个字节（GBK编码），且不能含有无法编码的字符。"));
        return false;
    }
    const QString machine = desk.SelectedMachine;  // a nested command may change it meanwhile
    desk.NMUDP1->RemoteHost = machine;
    try {
        desk.NMUDP1->SendDatagram(*datagram, CommandDatagramSize);
    } catch (const std::exception&) {
        desk.prompts.message(QStringLiteral("不能发送命令给该机，请检查该机是否联网!"));
        desk.RefreshSessionGrid();
        return false;
    }
    desk.prompts.message(machine);
    return true;
}

void NMUDP1InvalidHost(Desk& desk, bool& handled) {
    desk.prompts.message(QStringLiteral("发送命令不能到达对方，请检查网络！"));
    (void)handled;
}
