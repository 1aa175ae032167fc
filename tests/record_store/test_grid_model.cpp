#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include "record_store/DataModule.h"
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
};

int runGridModelTest(int argc, char** argv) {
    GridModelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_grid_model.moc"
