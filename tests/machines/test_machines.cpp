#include <QTest>
#include <algorithm>

#include "desk/Messages.h"
#include "machines/Machines.h"
#include "support/Fixtures.h"

// The machine list as plain functions on a desk: names in every script are one machine, and
// every failure says so.
namespace {

QString box(const QString& text) { return QStringLiteral("message|") + text; }

}  // namespace

class MachinesTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void addMachineRefusesEveryCaseOfAName_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("duplicate");
        QTest::newRow("same text") << QStringLiteral("pc1") << QStringLiteral("pc1") << true;
        QTest::newRow("ASCII case") << QStringLiteral("PC1") << QStringLiteral("pc1") << true;
        QTest::newRow("umlaut") << QStringLiteral("Ä-pc") << QStringLiteral("ä-pc") << true;
        QTest::newRow("sharp s") << QStringLiteral("STRASSE") << QStringLiteral("Straße") << true;
        QTest::newRow("final sigma")
            << QStringLiteral("σίσυφος") << QStringLiteral("ΣΊΣΥΦΟΣ") << true;
        QTest::newRow("blanks are part of the name")
            << QStringLiteral("pc1") << QStringLiteral(" pc1") << false;
        QTest::newRow("accent is not case")
            << QStringLiteral("é-pc") << QStringLiteral("e-pc") << false;
    }
    void addMachineRefusesEveryCaseOfAName() {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(bool, duplicate);
        Env env;
        QCOMPARE(AddMachine(*env.desk, stored), AddOutcome::Added);
        QCOMPARE(env.prompts.take(), QStringList());  // a successful add says nothing
        QCOMPARE(AddMachine(*env.desk, typed),
                 duplicate ? AddOutcome::Duplicate : AddOutcome::Added);
        QCOMPARE(env.prompts.take(),
                 duplicate ? QStringList{box(MachineText::DuplicateName)} : QStringList());
        QCOMPARE(env.count(), duplicate ? 1 : 2);
        QCOMPARE(env.field(stored, QStringLiteral("username")), stored);
    }

    void namesComeBackExactlyInEveryScript() {
        Env env;
        const QStringList stored{QStringLiteral("pc1"),   QStringLiteral("网吧一号"),
                                 QStringLiteral("é-pc"),  QStringLiteral("pc😀2"),
                                 QStringLiteral("a网b"),  QStringLiteral(" pc3 "),
                                 QStringLiteral("x\ty")};
        for (const QString& name : stored) env.addMachine(name);
        env.sql(QStringLiteral("insert into Tcount (username) values ('')"));
        QStringList expected = stored;
        expected << QString();

        // Read into a buffer that held a longer list: nothing of it may be left.
        PackedTexts names;
        for (int i = 0; i < 50; ++i) names.append(QStringLiteral("old name %1").arg(i));
        QVERIFY(AllMachineNamesInto(*env.desk, &names));
        QCOMPARE(names.size(), qsizetype(expected.size()));
        QStringList read;
        for (qsizetype i = 0; i < names.size(); ++i) read << names.at(i).toString();
        QCOMPARE(read.join(QString()), names.text);
        std::optional<QStringList> listed = AllMachineNames(*env.desk);
        QVERIFY(listed);
        QCOMPARE(*listed, read);  // both ways read the same, in the same order
        std::sort(read.begin(), read.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(read, expected);
    }

    void machineListOperationsReportFailures() {
        Env env;
        env.addMachine(QStringLiteral("b"));
        env.addMachine(QStringLiteral("A"));
        env.addMachine(QStringLiteral("c"), QStringLiteral("正常"));
        QCOMPARE(AllMachineNames(*env.desk), (QStringList{"A", "b", "c"}));
        QCOMPARE(MachineNamesByState(*env.desk, 1), QStringList{"c"});
        QCOMPARE(MachineNamesByState(*env.desk, 2), (QStringList{"b", "A"}));
        QVERIFY(DeleteMachine(*env.desk, QStringLiteral("c")));  // whatever its state
        QCOMPARE(env.count(), 2);

        env.sql(QStringLiteral("alter table Tcount rename to Gone"));
        QCOMPARE(AllMachineNames(*env.desk), std::nullopt);
        QCOMPARE(MachineNamesByState(*env.desk, 1), std::nullopt);
        QCOMPARE(AddMachine(*env.desk, QStringLiteral("d")), AddOutcome::Failed);
        QVERIFY(!DeleteMachine(*env.desk, QStringLiteral("b")));
        QCOMPARE(env.prompts.take(), (QStringList{box(DeskText::DbFault), box(DeskText::DbRestart),
                                                  box(DeskText::DbFault), box(DeskText::DbFault)}));
    }
};

QTEST_GUILESS_MAIN(MachinesTest)

#include "test_machines.moc"
