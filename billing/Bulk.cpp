#include "billing/Bulk.h"

#include <QStringList>
#include <vector>

#include "billing/AfterFailedCommit.h"
#include "billing/Checkout.h"
#include "billing/SessionStart.h"
#include "client_channel/Datagram.h"
#include "client_channel/NMUDP.h"
#include "desk/Desk.h"
#include "desk/Messages.h"
#include "ledger/Journal.h"

namespace {

const QString kUnreachable = QStringLiteral("无法连接客户机");
const QString kNotRecorded = QStringLiteral("数据库无法写入");

// One machine's command, as the single command sends it but without its boxes: the lock and
// the write before the datagram leaves, the commit right after. Empty when done, else why not.
// Left: the datagram went out (the commit may still have failed).
QString SendRecorded(Desk& desk, const QString& machine, const QString& word,
                     const std::function<bool()>& write, Transaction& transaction,
                     bool* left = nullptr) {
    const std::optional<QByteArray> datagram = CommandDatagram(word);
    desk.NMUDP1->RemoteHost = machine;
    if (left) *left = false;
    try {
        desk.NMUDP1->SendDatagram(*datagram, CommandDatagramSize, [&] {
            if (transaction.BeginWrite() && write()) return true;
            transaction.Rollback();
            return false;
        });
    } catch (const SendVetoed&) {
        return kNotRecorded;
    } catch (const EndpointError&) {
        return kUnreachable;
    }
    if (left) *left = true;
    return transaction.Commit() ? QString() : kNotRecorded;
}

// The machines in one state, as the table holds them now.
std::optional<std::vector<QStringList>> Machines(Desk& desk, bool inSession) {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(inSession
                  ? QStringLiteral("select * from Tcount where Cstate<>'无' order by username")
                  : QStringLiteral("select * from Tcount where Cstate='无' order by username"));
    if (!q->Open()) {
        desk.prompts.message(DeskText::DbRestart);
        return std::nullopt;
    }
    std::vector<QStringList> rows;
    for (q->First(); !q->Eof(); q->Next()) {
        QStringList row;
        for (const char* c : {"username", "Tstart", "Tnow", "Stime", "Tmoney", "Tother", "Tsum",
                              "gotime", "Cstate"})
            row << q->FieldText(QString::fromLatin1(c));
        rows.push_back(row);
    }
    q->Close();
    return rows;
}

// Invalid-host boxes are the single command's; a bulk run collects its failures instead.
class QuietLookups {
  public:
    explicit QuietLookups(TNMUDP* udp) : m_udp(udp), m_saved(udp->OnInvalidHost) {
        udp->OnInvalidHost = {};
    }
    ~QuietLookups() { m_udp->OnInvalidHost = m_saved; }

  private:
    TNMUDP* m_udp;
    std::function<void(bool&)> m_saved;
};

QString Summary(const QString& what, int done, const QStringList& failures) {
    QString text = QStringLiteral("%1完成：成功 %2 台").arg(what).arg(done);
    if (failures.isEmpty()) return text + QStringLiteral("。");
    return text + QStringLiteral("；未成功 %1 台：\n").arg(failures.size()) +
           failures.join(QLatin1Char('\n'));
}

}  // namespace

void StartAll(Desk& desk) {
    const auto idle = Machines(desk, false);
    if (!idle) return;
    if (idle->empty()) {
        desk.prompts.message(QStringLiteral("没有空闲的机器。"));
        return;
    }
    if (!desk.prompts.confirm(
            QStringLiteral("确定要让 %1 台空闲的机器全部上机吗？").arg(idle->size())))
        return;
    int done = 0;
    QStringList failures;
    {
        QuietLookups quiet(desk.NMUDP1);
        for (const QStringList& row : *idle) {
            const QString machine = row[0];
            Transaction transaction(desk.DataModule1);
            QString refusal;
            bool left = false;
            QString why = SendRecorded(
                desk, machine, Command::Start,
                [&] { return LockIdleAndWriteStart(desk, machine, &refusal); }, transaction,
                &left);
            if (!refusal.isEmpty()) why = QStringLiteral("已在别处上机");
            // "sj" left but the commit failed: locked again unless the start stands after all.
            if (left && !why.isEmpty()) {
                switch (LockAgainUnlessStarted(desk, machine)) {
                    case Relock::Started:
                        why.clear();
                        break;
                    case Relock::NotLocked:
                        why += QStringLiteral("，也没能重新锁上，请马上去查看");
                        break;
                    case Relock::Locked:
                    case Relock::LockedUnsure:
                        why += QStringLiteral("，已重新锁上");
                        break;
                }
            }
            if (why.isEmpty())
                ++done;
            else
                failures << QStringLiteral("%1：%2，没有上机").arg(machine, why);
        }
    }
    desk.RefreshSessionGrid();
    desk.prompts.message(Summary(QStringLiteral("全部上机"), done, failures));
}

void CheckOutAll(Desk& desk) {
    const auto busy = Machines(desk, true);
    if (!busy) return;
    if (busy->empty()) {
        desk.prompts.message(QStringLiteral("没有上机中的机器。"));
        return;
    }
    qint64 due = 0;
    for (const QStringList& row : *busy) due += ParseCents(row[6]).value_or(0);
    if (!desk.prompts.confirm(QStringLiteral("确定要让 %1 台机器全部下机吗？共需费用合计 %2 元。")
                                  .arg(busy->size())
                                  .arg(CentsText(due))))
        return;
    int done = 0;
    qint64 collected = 0;
    QStringList failures;
    {
        QuietLookups quiet(desk.NMUDP1);
        for (const QStringList& row : *busy) {
            const QString machine = row[0];
            Transaction transaction(desk.DataModule1);
            // The bill listed before the confirmation is the one settled, and only while the
            // row still is that bill.
            const ShownBill listed{row[0], row[1], row[2], row[3], row[4],
                                   row[5], row[6], row[7], row[8]};
            ShownBill current;
            RowDecision decided = RowDecision::Failed;
            bool left = false;
            QString why = SendRecorded(
                desk, machine, Command::End,
                [&] {
                    decided = LockAndSettle(desk, listed, desk.DataModule1.ADOQuery2,
                                            QStringLiteral("全部下机"), &current);
                    return decided == RowDecision::Reset;
                },
                transaction, &left);
            if (decided == RowDecision::Idle) why = QStringLiteral("已不在上机");
            if (decided == RowDecision::Changed) why = QStringLiteral("账单已变，请单独结账");
            // "xiaji" left but the commit failed: the client is locked, the session billed.
            if (left && !why.isEmpty()) {
                if (CheckoutRecorded(desk, machine) == Recorded::Yes)
                    why.clear();
                else
                    why += QStringLiteral("：客户机已锁上，但仍在计费");
            }
            if (why.isEmpty()) {
                ++done;
                collected += ParseCents(row[6]).value_or(0);
            } else {
                failures << QStringLiteral("%1：%2，没有下机").arg(machine, why);
            }
        }
    }
    desk.RefreshSessionGrid();
    desk.prompts.message(Summary(QStringLiteral("全部下机"), done, failures) +
                         QStringLiteral("\n收款合计 %1 元。").arg(CentsText(collected)));
}
