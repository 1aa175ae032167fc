#include "billing/Prices.h"

#include "billing/Messages.h"
#include "desk/Desk.h"
#include "desk/Messages.h"
#include "ledger/Journal.h"
#include "plans/Plans.h"

namespace {

// A price as the console writes it, or nullopt for anything but an amount above zero, at most
// 10,000 yuan, with at most two decimals.
std::optional<QString> PriceText(const QString& text) {
    const TypedAmount price = ReadTypedAmount(text, 10000 * 100);
    if (price.check != TypedAmount::Ok || price.cents <= 0) return std::nullopt;
    return DecimalText(ParseDecimal(text));
}

}  // namespace

std::optional<Prices> ReadTariff(Desk& desk) {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tmoney"));
    if (!q->Open()) return std::nullopt;
    q->First();
    Prices prices{q->FieldText(QStringLiteral("OneTime")), q->FieldText(QStringLiteral("Tnight"))};
    q->Close();
    return prices;
}

std::optional<Prices> ReadPrices(Desk& desk) {
    const std::optional<Prices> prices = ReadTariff(desk);
    if (!prices) desk.prompts.message(DeskText::DbRestart);
    return prices;
}

bool SetPrices(Desk& desk, const QString& hourlyText, const QString& overnightText) {
    const std::optional<QString> hourly = PriceText(hourlyText);
    const std::optional<QString> overnight = PriceText(overnightText);
    if (!hourly || !overnight) {
        desk.prompts.message(BillingText::PriceRefused);
        return false;
    }
    const std::optional<Prices> old = ReadPrices(desk);
    if (!old) return false;

    Transaction transaction(desk.DataModule1);
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select count(*) as n from Tmoney"));
    bool ok = transaction.BeginWrite() && q->Open();
    const bool empty = ok && q->FieldText(QStringLiteral("n")).toInt() == 0;
    q->Close();
    // Only the first row is ever read; a table with several rows gets them all, so whichever
    // row an engine returns first holds the new prices.
    q->SetSql(empty ? QStringLiteral("insert into Tmoney (OneTime, Tnight) values (:a, :b)")
                    : QStringLiteral("update Tmoney set OneTime=:a, Tnight=:b"));
    q->SetParam(QStringLiteral("a"), *hourly);
    q->SetParam(QStringLiteral("b"), *overnight);
    JournalEntry change;
    change.kind = JournalKind::PriceChange;
    change.note = QStringLiteral("上网单价 %1 → %2 元/小时，通宵价 %3 → %4 元")
                      .arg(old->hourly, *hourly, old->overnight, *overnight);
    ok = ok && q->ExecSQL() && AppendJournal(desk, change) &&
         NoteTariff(desk, *hourly, *overnight) && transaction.Commit();
    if (!ok) {
        transaction.Rollback();
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    return true;
}

int SessionsRepricedBy(Desk& desk, const QString& hourlyText) {
    const std::optional<QString> hourly = PriceText(hourlyText);
    if (!hourly) return 0;
    const std::optional<Prices> now = ReadTariff(desk);
    if (now && now->hourly.trimmed() == *hourly) return 0;
    Query* q = desk.DataModule1.ADOQuery2;
    q->SetSql(QStringLiteral("select count(*) as n from Tcount where Cstate='正常'"));
    const int running = q->Open() ? q->FieldText(QStringLiteral("n")).toInt() : 0;
    q->Close();
    return running;
}
