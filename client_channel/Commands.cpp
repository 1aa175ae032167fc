#include "client_channel/Commands.h"

#include <QStringEncoder>

#include "client_channel/NMUDP.h"
#include "console/Desk.h"

std::optional<QByteArray> CommandDatagram(const QString& text) {
    // A lone surrogate is not text: GBK's encoder would drop it without a word.
    if (text.contains(QChar(0)) || !text.isValidUtf16()) return std::nullopt;
    QStringEncoder gbk("GBK");
    QByteArray bytes = gbk.encode(text);
    if (!gbk.isValid() || gbk.hasError() || bytes.size() > CommandTextLimit) return std::nullopt;
    bytes.append(QByteArray(CommandDatagramSize - bytes.size(), '\0'));
    return bytes;
}

bool SendCommand(Desk& desk, const QString& text) {
    return SendRecordedCommand(desk, text, {}, {}) == SendOutcome::Sent;
}

SendOutcome SendRecordedCommand(Desk& desk, const QString& text,
                                const std::function<bool()>& prepare,
                                const std::function<void()>& record) {
    const std::optional<QByteArray> datagram = CommandDatagram(text);
    if (!datagram) {
        desk.prompts.message(QStringLiteral(
            "命令未发送：命令文字最多29个字节（GBK编码），且不能含有无法编码的字符。"));
        return SendOutcome::Failed;
    }
    const QString machine = desk.SelectedMachine;  // a nested command may change it meanwhile
    desk.NMUDP1->RemoteHost = machine;
    try {
        desk.NMUDP1->SendDatagram(*datagram, CommandDatagramSize, prepare);
    } catch (const SendVetoed&) {
        return SendOutcome::NotLocked;
    } catch (const std::exception&) {
        desk.prompts.message(QStringLiteral("不能发送命令给该机，请检查该机是否联网!"));
        desk.RefreshSessionGrid();
        return SendOutcome::Failed;
    }
    if (record) record();
    desk.prompts.message(machine);
    return SendOutcome::Sent;
}

void NMUDP1InvalidHost(Desk& desk, bool& handled) {
    desk.prompts.message(QStringLiteral("发送命令不能到达对方，请检查网络！"));
    (void)handled;
}
