#include <QTest>

#include "packages/Package.h"

// The catalogue, when a package may be sold, when it ends and what it gives back: no database.
namespace {

QDateTime At(const QString& text) {
    QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid()) qFatal("bad time %s", qPrintable(text));
    return t;
}

const QByteArray kCatalogue = R"({"packages": [
  {"name": "三小时", "zones": ["普通区"], "kind": "length", "minutes": 180, "price": "10",
   "sell_days": ["mon","tue","wed","thu","fri","sat","sun","holiday"], "sell_from": "00:00",
   "sell_to": "24:00", "at_end": "continue", "refund": "pro_rata"},
  {"name": "包夜", "zones": ["普通区", "包间"], "kind": "window", "from": "22:00", "to": "08:00",
   "price": "15", "sell_days": ["fri","sat"], "sell_from": "20:00", "sell_to": "04:00",
   "at_end": "lock", "refund": "none"},
  {"name": "到18点", "zones": ["普通区"], "kind": "until", "until": "18:00", "price": "12.5",
   "sell_days": ["mon","tue","wed","thu","fri","sat","sun"], "sell_from": "08:00",
   "sell_to": "17:00"}]})";

Catalogue Sample() {
    QString problem;
    const std::optional<Catalogue> c = CatalogueFromJson(kCatalogue, &problem);
    if (!c) qFatal("%s", qPrintable(problem));
    return *c;
}

}  // namespace

class PackageCoreTest : public QObject {
    Q_OBJECT

  private slots:
    void catalogueReadsAndWritesBack() {
        const Catalogue c = Sample();
        QCOMPARE(c.packages.size(), size_t(3));
        const Package& night = *c.Find(QStringLiteral("包夜"));
        QCOMPARE(night.kind, PackageKind::Window);
        QCOMPARE(night.from, 22 * 60);
        QCOMPARE(night.to, 8 * 60);
        QCOMPARE(night.price, qint64(1500));
        QCOMPARE(night.atEnd, PackageEnd::Lock);
        QCOMPARE(c.Find(QStringLiteral("到18点"))->price, qint64(1250));
        // Left out: continue at the end, no refund.
        QCOMPARE(c.Find(QStringLiteral("到18点"))->atEnd, PackageEnd::Continue);
        QCOMPARE(c.Find(QStringLiteral("到18点"))->refund, PackageRefund::None);
        QVERIFY(!CheckCatalogue(c, {QStringLiteral("普通区"), QStringLiteral("包间")}));

        QString problem;
        const std::optional<Catalogue> again = CatalogueFromJson(CatalogueToJson(c), &problem);
        QVERIFY2(again, qPrintable(problem));
        QCOMPARE(CatalogueToJson(*again), CatalogueToJson(c));
        QVERIFY(CatalogueToJson(c).contains("\"price\": \"12.5\""));
        const std::optional<Package> one = PackageFromJson(PackageToJson(night), &problem);
        QVERIFY(one);
        QCOMPARE(PackageToJson(*one), PackageToJson(night));
    }

    void badCataloguesSayWhy_data() {
        QTest::addColumn<QByteArray>("field");  // replaces 三小时's "price": "10"
        QTest::addColumn<QString>("why");
        QTest::newRow("zero price") << QByteArray(R"("price": "0")") << QStringLiteral("价格必须是大于0");
        QTest::newRow("negative") << QByteArray(R"("price": "-1")") << QStringLiteral("价格必须是大于0");
        QTest::newRow("three places") << QByteArray(R"("price": "2.555")") << QStringLiteral("最多两位小数");
        QTest::newRow("not finite") << QByteArray(R"("price": "inf")") << QStringLiteral("价格必须是大于0");
        QTest::newRow("a number, not a text") << QByteArray(R"("price": 10)") << QStringLiteral("价格必须是大于0");
        QTest::newRow("above the bound") << QByteArray(R"("price": "10000.01")") << QStringLiteral("不超过10000");
        QTest::newRow("zero minutes") << QByteArray(R"("price": "10", "minutes": 0)") << QStringLiteral("整分钟数");
        QTest::newRow("part minutes") << QByteArray(R"("price": "10", "minutes": 1.5)") << QStringLiteral("整分钟数");
        QTest::newRow("unknown kind") << QByteArray(R"("price": "10", "kind": "forever")") << QStringLiteral("种类“forever”");
        QTest::newRow("unknown day") << QByteArray(R"("price": "10", "sell_days": ["someday"])") << QStringLiteral("“someday”不认识");
        QTest::newRow("no day") << QByteArray(R"("price": "10", "sell_days": [])") << QStringLiteral("没有写出售的日子");
        QTest::newRow("bad hour") << QByteArray(R"("price": "10", "sell_to": "25:00")") << QStringLiteral("出售时间不对");
        QTest::newRow("no zone") << QByteArray(R"("price": "10", "zones": [])") << QStringLiteral("没有写区域");
        QTest::newRow("bad end") << QByteArray(R"("price": "10", "at_end": "explode")") << QStringLiteral("到期处理");
        QTest::newRow("bad refund") << QByteArray(R"("price": "10", "refund": "all")") << QStringLiteral("退款方式");
    }
    void badCataloguesSayWhy() {
        QFETCH(QByteArray, field);
        QFETCH(QString, why);
        // Later keys win in Qt's JSON reader, so the replacement goes after the original ones.
        QByteArray json = kCatalogue;
        json.replace(R"("at_end": "continue", "refund": "pro_rata"})",
                     R"("at_end": "continue", "refund": "pro_rata", )" + field + "}");
        QString problem;
        QVERIFY(!CatalogueFromJson(json, &problem));
        QVERIFY2(problem.startsWith(QStringLiteral("包时“三小时”：")), qPrintable(problem));
        QVERIFY2(problem.contains(why), qPrintable(problem));
    }

    void checksBeforeSaving() {
        Catalogue c = Sample();
        c.packages.push_back(c.packages[0]);
        QCOMPARE(*CheckCatalogue(c), QStringLiteral("包时“三小时”：名称重复"));
        c = Sample();
        QVERIFY(CheckCatalogue(c, {QStringLiteral("普通区")})->contains(QStringLiteral("区域“包间”不在价格方案里")));
        // A night sold until 09:00 would cover a whole day when sold then.
        c = Sample();
        c.packages[1].sellTo = 9 * 60;
        QCOMPARE(*CheckCatalogue(c),
                 QStringLiteral("包时“包夜”：出售时间 20:00–09:00 超过了它的结束时间 08:00"));
        c = Sample();
        c.packages[2].sellFrom = 0;
        c.packages[2].sellTo = 1440;
        QVERIFY(CheckCatalogue(c)->contains(QStringLiteral("超过了它的结束时间 18:00")));
        // Up to the end itself is fine.
        c.packages[2].sellTo = 18 * 60;
        QVERIFY(!CheckCatalogue(c));
    }

    // What a catalogue saved must be read back by every sale: a package its reader refuses is
    // refused before it is saved.
    void checksWhatTheReaderChecks_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("why");
        QTest::newRow("a window of no time") << 1 << "包时“包夜”：时段不对（格式 22:00，from 与 to 不能相同）";
        QTest::newRow("eight days") << 0 << "包时“三小时”：时长必须是1到10080之间的整分钟数";
        QTest::newRow("selling hours of no time") << 0 << "包时“三小时”：出售时间不对（格式 20:00，到 24:00 为止，两者不能相同）";
        QTest::newRow("a zone without a name") << 0 << "包时“三小时”：区域名称不能为空";
    }
    void checksWhatTheReaderChecks() {
        QFETCH(int, index);
        QFETCH(QString, why);
        Catalogue c = Sample();
        Package& p = c.packages[size_t(index)];
        const QString row = QString::fromUtf8(QTest::currentDataTag());
        if (row == QStringLiteral("a window of no time")) p.from = p.to = p.sellTo;
        if (row == QStringLiteral("eight days")) p.minutes = 8 * 1440;
        if (row == QStringLiteral("selling hours of no time")) p.sellTo = p.sellFrom = 600;
        if (row == QStringLiteral("a zone without a name")) p.zones << QStringLiteral(" ");
        QCOMPARE(CheckCatalogue(c), std::optional<QString>(why));
    }

    void endsAcrossMidnight_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("ends");
        // A length counts from the very second: nothing lost at the start.
        QTest::newRow("length") << "三小时" << "2026-12-11 14:03:25" << "2026-12-11 17:03:25";
        QTest::newRow("length over midnight") << "三小时" << "2026-12-11 22:30:59" << "2026-12-12 01:30:59";
        QTest::newRow("length over the year") << "三小时" << "2026-12-31 23:00:00" << "2027-01-01 02:00:00";
        QTest::newRow("night before midnight") << "包夜" << "2026-12-11 21:15:10" << "2026-12-12 08:00:00";
        QTest::newRow("night after midnight") << "包夜" << "2026-12-12 02:00:00" << "2026-12-12 08:00:00";
        QTest::newRow("until, same day") << "到18点" << "2026-12-11 09:41:00" << "2026-12-11 18:00:00";
        QTest::newRow("until at the very minute") << "到18点" << "2026-12-11 18:00:00" << "2026-12-12 18:00:00";
        QTest::newRow("until just after") << "到18点" << "2026-12-11 18:00:01" << "2026-12-12 18:00:00";
    }
    void endsAcrossMidnight() {
        QFETCH(QString, name);
        QFETCH(QString, start);
        QFETCH(QString, ends);
        const Catalogue c = Sample();
        QCOMPARE(PackageEndsAt(*c.Find(name), At(start)), At(ends));
    }

    void whenItMayBeSold_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("at");
        QTest::addColumn<bool>("holds");
        QTest::addColumn<int>("why");  // -1: may be sold
        const int ok = -1, zone = int(NotSellable::WrongZone), hours = int(NotSellable::OutsideHours),
                  holds = int(NotSellable::AlreadyHolds);
        // 2026-12-11 is a Friday.
        QTest::newRow("night on friday evening") << "包夜" << "包间" << "2026-12-11 20:00:00" << false << ok;
        QTest::newRow("night, saturday 03:59 is friday's") << "包夜" << "普通区" << "2026-12-12 03:59:59" << false << ok;
        QTest::newRow("night at its close") << "包夜" << "普通区" << "2026-12-12 04:00:00" << false << hours;
        QTest::newRow("night before its hours") << "包夜" << "普通区" << "2026-12-11 19:59:59" << false << hours;
        QTest::newRow("night, friday 01:00 is thursday's") << "包夜" << "普通区" << "2026-12-11 01:00:00" << false << hours;
        QTest::newRow("night, sunday 01:00 is saturday's") << "包夜" << "普通区" << "2026-12-13 01:00:00" << false << ok;
        QTest::newRow("wrong zone") << "到18点" << "包间" << "2026-12-11 10:00:00" << false << zone;
        QTest::newRow("no zone at all") << "三小时" << "" << "2026-12-11 10:00:00" << false << zone;
        QTest::newRow("machine holds one") << "三小时" << "普通区" << "2026-12-11 10:00:00" << true << holds;
        QTest::newRow("until, not on a holiday") << "到18点" << "普通区" << "2026-12-25 10:00:00" << false << hours;
        QTest::newRow("length on a holiday") << "三小时" << "普通区" << "2026-12-25 23:59:59" << false << ok;
    }
    void whenItMayBeSold() {
        QFETCH(QString, name);
        QFETCH(QString, zone);
        QFETCH(QString, at);
        QFETCH(bool, holds);
        QFETCH(int, why);
        const Catalogue c = Sample();
        const QSet<qint64> holidays{QDate(2026, 12, 25).toJulianDay()};
        const std::optional<NotSellable> got = WhyNotSellable(*c.Find(name), zone, At(at), holidays, holds);
        QCOMPARE(got ? int(*got) : -1, why);
    }

    void theBoxSaysWhy() {
        const Catalogue c = Sample();
        const Package& night = *c.Find(QStringLiteral("包夜"));
        QCOMPARE(NotSellableText(night, NotSellable::WrongZone, QStringLiteral("VIP区")),
                 QStringLiteral("“包夜”不能卖给这台机器：它只用于普通区、包间，这台机器在VIP区。"));
        QCOMPARE(NotSellableText(night, NotSellable::OutsideHours, {}),
                 QStringLiteral("“包夜”现在不出售：它只在周五、周六 20:00–04:00出售。"));
        QVERIFY(NotSellableText(night, NotSellable::AlreadyHolds, {}).startsWith(QStringLiteral("这台机器已经有一个包时")));
    }

    void refundByWholeMinutes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("paid");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("checkout");
        QTest::addColumn<qint64>("refund");
        // 10 元 for 180 minutes: 120 unused give 6.66… → 6.6.
        QTest::newRow("two thirds unused") << "三小时" << qint64(1000) << "2026-12-11 14:00:00" << "2026-12-11 15:00:00" << qint64(660);
        // 59 seconds into a minute: that minute counts as used.
        QTest::newRow("part minute is used") << "三小时" << qint64(1000) << "2026-12-11 14:00:00" << "2026-12-11 14:00:59" << qint64(990);
        QTest::newRow("at once") << "三小时" << qint64(1000) << "2026-12-11 14:00:00" << "2026-12-11 14:00:00" << qint64(1000);
        QTest::newRow("last minute") << "三小时" << qint64(1000) << "2026-12-11 14:00:00" << "2026-12-11 16:59:00" << qint64(0);
        QTest::newRow("after the end") << "三小时" << qint64(1000) << "2026-12-11 14:00:00" << "2026-12-11 18:00:00" << qint64(0);
        QTest::newRow("no refund package") << "包夜" << qint64(1500) << "2026-12-11 22:00:00" << "2026-12-11 23:00:00" << qint64(0);
    }
    void refundByWholeMinutes() {
        QFETCH(QString, name);
        QFETCH(qint64, paid);
        QFETCH(QString, start);
        QFETCH(QString, checkout);
        QFETCH(qint64, refund);
        const Catalogue sample = Sample();  // the package lives as long as its catalogue
        const Package& p = *sample.Find(name);
        QCOMPARE(PackageRefundAt(p, paid, At(start), PackageEndsAt(p, At(start)), At(checkout)), refund);
    }
};

int runPackageCoreTest(int argc, char** argv) {
    PackageCoreTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_package_core.moc"
