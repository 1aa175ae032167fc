#pragma once

#include <QString>

// The operations' texts, each written once: a full-width "！" must not drift into an ASCII "!"
// in one copy.
namespace BillingText {
inline const QString PassFault = QStringLiteral("数据库运行出错，请关闭并重试一次!");
inline const QString PassUpdateFault = QStringLiteral("数据库运行出错，请关闭并重试一次！");
inline const QString OvernightUpdateFault = QStringLiteral("数据库出错，请关闭本软件重新运行！");
inline const QString AlreadyInSession = QStringLiteral("该机已处于上机状态!");
inline const QString NotCheckedOut = QStringLiteral("该客户机并未下机，请前往查看.");
inline const QString NotInSession =
    QStringLiteral("您所选择你机器不处于上机状态，不能添加附加费，请重新选择!");
inline const QString MidnightQuestion =
    QStringLiteral("该用户上机已超过了一天或现在是晚上12点以后了，是否该设为上通宵了呢？");
inline const QString ChargeTooLarge =
    QStringLiteral("金额太大，附加费或共需费用已超出可以计算的范围，未添加。");
inline const QString PriceRefused =
    QStringLiteral("价格必须是大于0、不超过10000元的金额，最多两位小数，例如 2 或 2.5，未保存。");
// A typed extra charge: at most 100,000 yuan either way, at most two decimals.
inline constexpr qint64 MaxChargeCents = 100000 * 100;
inline QString ChargeDecimals(const QString& typed) {
    return QStringLiteral("附加费最多两位小数（例如 1.5），“%1”未添加。").arg(typed);
}
inline QString ChargeOutOfRange(const QString& typed) {
    return QStringLiteral("附加费每次最多加减 100000 元，“%1”未添加。").arg(typed);
}
inline const QString OvernightTooLarge =
    QStringLiteral("金额太大，附加费或共需费用已超出可以计算的范围，未转为通宵。");
}  // namespace BillingText
