#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class Desk;

// The fixed command record: the text in GBK, a zero byte, zeros up to 30 bytes.
constexpr int CommandDatagramSize = 30;
constexpr int CommandTextLimit = CommandDatagramSize - 1;

// nullopt when the text cannot travel whole: more than 29 GBK bytes, a zero character, or a
// character GBK has no code for. Nothing is ever cut or replaced.
std::optional<QByteArray> CommandDatagram(const QString& text);

// Sends text to SelectedMachine; true when the datagram was handed to the network.
bool SendCommand(Desk& desk, const QString& text);

// The endpoint's OnInvalidHost: tells the operator; leaves handled false.
void NMUDP1InvalidHost(Desk& desk, bool& handled);
