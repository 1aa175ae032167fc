#include "client_channel/Datagram.h"

#include <QStringEncoder>

namespace {

std::optional<QByteArray> Gbk(const QString& text) {
    // A lone surrogate is not text: GBK's encoder would drop it without a word.
    if (text.contains(QChar(0)) || !text.isValidUtf16()) return std::nullopt;
    QStringEncoder gbk("GBK");
    QByteArray bytes = gbk.encode(text);
    if (!gbk.isValid() || gbk.hasError()) return std::nullopt;
    return bytes;
}

}  // namespace

std::optional<QByteArray> CommandDatagram(const QString& text) {
    std::optional<QByteArray> bytes = Gbk(text);
    if (!bytes || bytes->size() > CommandTextLimit) return std::nullopt;
    bytes->append(QByteArray(CommandDatagramSize - bytes->size(), '\0'));
    return bytes;
}

std::optional<qsizetype> CommandTextBytes(const QString& text) {
    const std::optional<QByteArray> bytes = Gbk(text);
    if (!bytes) return std::nullopt;
    return bytes->size();
}

QString Command::Message(const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return QLatin1Char(' ') + lines;
}
