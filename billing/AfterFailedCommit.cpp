#include "billing/AfterFailedCommit.h"

#include <vector>

#include "client_channel/Datagram.h"
#include "desk/Desk.h"
#include "desk/SendCommand.h"

namespace {

Recorded RowIs(Desk& desk, const QString& machine,
               const std::function<bool(const QStringList& row)>& recorded) {
    std::vector<QStringList> rows;
    if (!desk.DataModule1.ReadAfresh(
            QStringLiteral("select Cstate from Tcount where username=?"), {machine},
            &rows))
        return Recorded::Unknown;
    return !rows.empty() && recorded(rows.front()) ? Recorded::Yes : Recorded::No;
}

}  // namespace

Recorded StartRecorded(Desk& desk, const QString& machine) {
    return RowIs(desk, machine,
                 [](const QStringList& row) { return row.value(0) == QStringLiteral("正常"); });
}

Recorded CheckoutRecorded(Desk& desk, const QString& machine) {
    return RowIs(desk, machine,
                 [](const QStringList& row) { return row.value(0) == QStringLiteral("无"); });
}

Relock LockAgainUnlessStarted(Desk& desk, const QString& machine) {
    const Recorded recorded = StartRecorded(desk, machine);
    if (recorded == Recorded::Yes) return Relock::Started;
    if (!SendQuietly(desk, machine, Command::End)) return Relock::NotLocked;
    return recorded == Recorded::No ? Relock::Locked : Relock::LockedUnsure;
}

QString RelockText(Relock relock, const QString& machine, const QString& why) {
    switch (relock) {
        case Relock::Started:
            return {};
        case Relock::Locked:
            return QStringLiteral(
                       "上机没有能记入数据库（%1），机器“%2”没有上机。已向它发送下机命令，把它重新"
                       "锁上。")
                .arg(why, machine);
        case Relock::LockedUnsure:
            return QStringLiteral(
                       "上机时数据库出错（%1），无法确认是否已经记下。为免白白上网，已向机器“%2”"
                       "发送下机命令把它锁上；请查看它的状态，需要时重新上机。")
                .arg(why, machine);
        case Relock::NotLocked:
            break;
    }
    return QStringLiteral(
               "上机没有能记入数据库（%1），机器“%2”没有上机，但下机命令也没有能发出：它现在"
               "可能没有锁上，请马上去查看。")
        .arg(why, machine);
}
