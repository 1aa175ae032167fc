#include "desk/SendCommand.h"

#include "client_channel/Datagram.h"
#include "client_channel/NMUDP.h"
#include "desk/Desk.h"
#include "desk/Messages.h"

bool SendCommand(Desk& desk, const QString& text) {
    return SendRecordedCommand(desk, text, {}, {}) == SendOutcome::Sent;
}

SendOutcome SendRecordedCommand(Desk& desk, const QString& text,
                                const std::function<bool()>& prepare,
                                const std::function<void()>& record) {
    const std::optional<QByteArray> datagram = CommandDatagram(text);
    if (!datagram) {
        desk.prompts.message(DeskText::CommandTooLong);
        return SendOutcome::Failed;
    }
    const QString machine = desk.SelectedMachine;  // a nested command may change it meanwhile
    desk.NMUDP1->RemoteHost = machine;
    try {
        desk.NMUDP1->SendDatagram(*datagram, CommandDatagramSize, prepare);
    } catch (const SendVetoed&) {
        return SendOutcome::NotLocked;
    } catch (const EndpointError&) {
        desk.prompts.message(DeskText::CannotSend);
        desk.RefreshSessionGrid();
        return SendOutcome::Failed;
    }
    if (record) record();
    desk.prompts.message(machine);
    return SendOutcome::Sent;
}

bool SendQuietly(Desk& desk, const QString& machine, const QString& text) {
    const std::optional<QByteArray> datagram = CommandDatagram(text);
    if (!datagram) return false;
    desk.NMUDP1->RemoteHost = machine;
    try {
        desk.NMUDP1->SendDatagram(*datagram, CommandDatagramSize);
    } catch (const EndpointError&) {
        return false;
    }
    return true;
}
