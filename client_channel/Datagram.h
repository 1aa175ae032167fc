#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The fixed command record: the text in GBK, a zero byte, zeros up to 30 bytes.
constexpr int CommandDatagramSize = 30;
constexpr int CommandTextLimit = CommandDatagramSize - 1;

// nullopt when the text cannot travel whole: more than 29 GBK bytes, a zero character, text
// that is not valid Unicode, or a character GBK has no code for. Nothing is ever cut.
std::optional<QByteArray> CommandDatagram(const QString& text);

// The GBK bytes a command text takes, whatever its length; nullopt when it cannot be sent at
// all (a zero character, broken Unicode, a character GBK has no code for).
std::optional<qsizetype> CommandTextBytes(const QString& text);

// The words the client program understands.
namespace Command {
inline const QString Start = QStringLiteral("sj");   // 上机: unlock, a session begins
inline const QString End = QStringLiteral("xiaji");  // 下机: lock, the session ends
inline const QString BlackScreen = QStringLiteral("cscre");
inline const QString UnblackScreen = QStringLiteral("oscre");
inline const QString ShowDesktop = QStringLiteral("sdesk");
inline const QString HideDesktop = QStringLiteral("hdesk");
inline const QString OpenTray = QStringLiteral("ocdrom");
inline const QString CloseTray = QStringLiteral("ccdrom");
inline const QString LockMouse = QStringLiteral("cmouse");
inline const QString UnlockMouse = QStringLiteral("omouse");
// A message: one space, then the text, lines joined by CR LF.
QString Message(const QString& text);
}  // namespace Command
