#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <QTimer>

#include "billing/SessionStart.h"
#include "console/TForm1.h"
#include "console/TPackageChoice.h"
#include "packages/Packages.h"
#include "plans/Plans.h"
#include "support/LedgerFixtures.h"

// 上机 with packages on sale: the choice, Return keeping the described start.
namespace {

const QByteArray kPlan = R"({"zones": [{"name": "普通区", "rates": [{"days": ["mon","tue","wed","thu","fri","sat","sun","holiday"], "from": "00:00", "to": "24:00", "hourly": "3"}]}], "holidays": [], "machines": {}})";

const QByteArray kCatalogue = R"({"packages": [
  {"name": "三小时", "zones": ["普通区"], "kind": "length", "minutes": 180, "price": "10",
   "sell_days": ["mon","tue","wed","thu","fri","sat","sun","holiday"], "sell_from": "00:00",
   "sell_to": "24:00"}]})";

void SellSomething(Env& env) {
    PlanProblem read;
    QString why;
    QVERIFY(SavePlan(*env.desk, *PlanFromJson(kPlan, &read), {}, &why));
    QVERIFY(SaveCatalogue(*env.desk, *CatalogueFromJson(kCatalogue, &why), {QStringLiteral("普通区")}, &why));
}

// Answers the choice when it opens: row, then Return.
void Answer(int row) {
    QTimer::singleShot(0, [row] {
        auto* choice = qobject_cast<TPackageChoice*>(QApplication::activeModalWidget());
        if (!choice) qFatal("no package choice open");
        if (row >= 0) choice->List->setCurrentRow(row);
        QTest::keyClick(choice, row == -2 ? Qt::Key_Escape : Qt::Key_Return);
    });
}

bool HoldsPackage(Env& env) {
    bool failed = false;
    return RunningPackage(*env.desk, QStringLiteral("127.0.0.1"), &failed).has_value();
}

}  // namespace

class PackageWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void withoutPackagesNothingNewIsShown() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        TForm1 form(*env.desk);
        env.prompts.take();
        env.desk->RefreshSessionGrid();
        StartCommand(*env.desk);
        QCOMPARE(env.prompts.take(),
                 (QStringList{QStringLiteral("message|上机"), QStringLiteral("message|127.0.0.1")}));
        QCOMPARE(env.field(QStringLiteral("127.0.0.1"), QStringLiteral("Cstate")), QStringLiteral("正常"));
    }

    void returnKeepsTheDescribedStart_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("sold");
        QTest::newRow("Return") << -1 << "正常" << false;
        QTest::newRow("a package") << 1 << "正常" << true;
        QTest::newRow("Escape") << -2 << "无" << false;
    }
    void returnKeepsTheDescribedStart() {
        QFETCH(int, row);
        QFETCH(QString, state);
        QFETCH(bool, sold);
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        TForm1 form(*env.desk);
        SellSomething(env);
        env.prompts.take();
        env.desk->RefreshSessionGrid();
        Answer(row);
        StartCommand(*env.desk);
        QCOMPARE(env.field(QStringLiteral("127.0.0.1"), QStringLiteral("Cstate")), state);
        QCOMPARE(HoldsPackage(env), sold);
        QCOMPARE(env.prompts.take().contains(QStringLiteral("message|上机")), row == -1);
    }
};

int runPackageWindowTest(int argc, char** argv) {
    PackageWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_package_window.moc"
