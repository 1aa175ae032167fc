#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTest>

#include "record_store/DataModule.h"
#include "record_store/Engine.h"
#include "support/StoreFixtures.h"

// The grid query as the model a view shows: Qt's own checker watches every signal and answer
// while the rows are opened, read again, patched in place and closed.
namespace {

// The machines shown, in order, and every cell as the database holds it now.
void shows(StoreEnv& env, const Query* grid, const QStringList& machines) {
    QCOMPARE(grid->rowCount(), int(machines.size()));
    for (int r = 0; r < grid->rowCount(); ++r) {
        QCOMPARE(grid->FieldText(r, QStringLiteral("username")), machines[r]);
        for (int c = 0; c < grid->columnCount(); ++c)
            QCOMPARE(grid->data(grid->index(r, c), Qt::DisplayRole).toString(),
                     env.field(machines[r], grid->ColumnName(c)));
    }
}

std::vector<QStringList> rowsOf(const Query* grid) {
    std::vector<QStringList> rows;
    for (int r = 0; r < grid->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < grid->columnCount(); ++c)
            row << grid->FieldText(r, grid->ColumnName(c));
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

class GridModelTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void theGridModelHoldsToQtsRulesThroughItsLife() {
        StoreEnv env;
        Query* grid = env.module->ADOQuery1;
        QAbstractItemModelTester tester(grid,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy changed(grid, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(grid, &QAbstractItemModel::modelReset);

        QVERIFY(grid->Open());
        QCOMPARE(grid->rowCount(), 0);
        QCOMPARE(grid->columnCount(), 9);
        // Untitled columns show their names (the server folds them to lower case).
        QCOMPARE(grid->headerData(8, Qt::Horizontal, Qt::DisplayRole).toString().toLower(),
                 QStringLiteral("cstate"));

        // Rows came: read again, the view starts over.
        env.addMachine(QStringLiteral("c"));
        env.addSession(QStringLiteral("b"), QStringLiteral("9:0:0"), QStringLiteral("2"));
        env.addMachine(QStringLiteral("a"));
        QVERIFY(grid->Reopen());
        shows(env, grid, {"a", "b", "c"});

        // Read again with nothing changed: not a signal.
        changed.clear();
        reset.clear();
        QVERIFY(grid->Reopen());
        QCOMPARE(changed.size(), 0);
        QCOMPARE(reset.size(), 0);

        // One cell changed in the database: one change signal, no reset.
        env.sql(QStringLiteral("update Tcount set Tsum='7' where username='b'"));
        QVERIFY(grid->Reopen());
        QCOMPARE(changed.size(), 1);
        QCOMPARE(reset.size(), 0);
        shows(env, grid, {"a", "b", "c"});

        // Patched in place as a pass does; cells outside the rows or columns are passed over.
        const int sum = grid->ColumnIndex(QStringLiteral("Tsum"));
        const int name = grid->ColumnIndex(QStringLiteral("username"));
        changed.clear();
        grid->SetCells({{0, sum, QStringLiteral("1")},
                        {2, sum, QStringLiteral("3")},
                        {3, sum, QStringLiteral("lost")},
                        {-1, sum, QStringLiteral("lost")},
                        {0, 9, QStringLiteral("lost")}});
        QCOMPARE(changed.size(), 1);
        QCOMPARE(grid->FieldText(0, QStringLiteral("Tsum")), QStringLiteral("1"));
        QCOMPARE(grid->FieldText(2, QStringLiteral("Tsum")), QStringLiteral("3"));
        // A patched name is found under its new name.
        QCOMPARE(grid->FindRow(QStringLiteral("username"), QStringLiteral("b")), 1);
        grid->SetCells({{1, name, QStringLiteral("bb")}});
        QCOMPARE(grid->FindRow(QStringLiteral("username"), QStringLiteral("bb")), 1);
        QCOMPARE(grid->FindRow(QStringLiteral("username"), QStringLiteral("b")), -1);

        // Rows read elsewhere put in place: the same number, then fewer.
        std::vector<QStringList> rows = rowsOf(grid);
        rows[1][sum] = QStringLiteral("8");
        reset.clear();
        grid->ApplyRows(rows);
        QCOMPARE(reset.size(), 0);
        QCOMPARE(grid->FieldText(1, QStringLiteral("Tsum")), QStringLiteral("8"));
        grid->ApplyRows({rows[2]});
        QCOMPARE(reset.size(), 1);
        QCOMPARE(grid->FieldText(0, QStringLiteral("username")), QStringLiteral("c"));

        // Closed, closed again, and the read again of a closed query opens it.
        grid->Close();
        QCOMPARE(grid->rowCount(), 0);
        grid->Close();
        QVERIFY(grid->Reopen());
        shows(env, grid, {"a", "b", "c"});

        // Another tool adds a column: the whole-row statement brings it, the view starts over.
        env.otherTool(QStringLiteral("alter table Tcount add column note text"));
        grid->SetSql(QString::fromLatin1(TDataModule1::WholeGridStatement));
        reset.clear();
        QVERIFY(grid->Reopen());
        QCOMPARE(grid->columnCount(), 10);
        QCOMPARE(reset.size(), 1);
        shows(env, grid, {"a", "b", "c"});
        grid->SetSql(QString::fromLatin1(TDataModule1::GridStatement));
        QVERIFY(grid->Reopen());
        QCOMPARE(grid->columnCount(), 9);

        // A statement that fails leaves the grid closed and empty.
        grid->SetSql(QStringLiteral("select * from Gone"));
        QVERIFY(!grid->Reopen());
        QVERIFY(!grid->Active());
        QCOMPARE(grid->rowCount(), 0);
    }

    // The rows a pass or a report walks, as the engine's fast path reads them: the same texts
    // as Qt's own path, a null as empty, values bound by position even beside a '?' in a
    // literal, and a failure told in the database's words.
    void walkedRowsAreTheTextsAsStored_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QStringList>("rows");  // each row's columns joined with '|'
        QTest::newRow("texts and a null")
            << QStringLiteral("select username, Tstart, gotime from Tcount order by username")
            << QStringList{}
            << QStringList{QStringLiteral("a'1|9:0:0|"), QStringLiteral("机器二|9:5:0|")};
        QTest::newRow("a bound value beside a '?' in a literal")
            << QStringLiteral("select username, '?' from Tcount where username=?")
            << QStringList{QStringLiteral("机器二")} << QStringList{QStringLiteral("机器二|?")};
        QTest::newRow("named values") << QStringLiteral(
                                             "select username from Tcount where Tstart=:start")
                                      << QStringList{QStringLiteral("9:0:0")}
                                      << QStringList{QStringLiteral("a'1")};
        QTest::newRow("no rows") << QStringLiteral("select username from Tcount where 1=0")
                                 << QStringList{} << QStringList{};
    }
    void walkedRowsAreTheTextsAsStored() {
        QFETCH(QString, sql);
        QFETCH(QStringList, values);
        QFETCH(QStringList, rows);
        StoreEnv env;
        env.addSession(QStringLiteral("a'1"), QStringLiteral("9:0:0"));
        env.addSession(QStringLiteral("机器二"), QStringLiteral("9:5:0"));
        env.sql(QStringLiteral("update Tcount set gotime=null"));
        QSqlDatabase db = QSqlDatabase::database(env.module->connectionName());
        QStringList read;
        QString error;
        QVERIFY2(env.module->engine().Walk(
                     db, sql, values,
                     [&](const QString* row, int columns) {
                         read << QStringList(row, row + columns).join(QLatin1Char('|'));
                     },
                     &error),
                 qPrintable(error));
        QCOMPARE(read, rows);
    }
    void aWalkThatFailsSaysWhy() {
        StoreEnv env;
        QSqlDatabase db = QSqlDatabase::database(env.module->connectionName());
        QString error;
        int rows = 0;
        QVERIFY(!env.module->engine().Walk(
            db, QStringLiteral("select nothere from Tcount where username=?"), {QStringLiteral("x")},
            [&](const QString*, int) { ++rows; }, &error));
        QCOMPARE(rows, 0);
        QVERIFY2(error.contains(QStringLiteral("nothere")), qPrintable(error));
        // The connection goes on working.
        QVERIFY(env.module->engine().Walk(db, QStringLiteral("select count(*) from Tcount"), {},
                                          [&](const QString* r, int) { rows = r[0].toInt(); },
                                          &error));
        QCOMPARE(rows, 0);
    }
};

int runGridModelTest(int argc, char** argv) {
    GridModelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_grid_model.moc"
