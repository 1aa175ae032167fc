#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "billing/BillingPass.h"
#include "billing/SessionStart.h"
#include "console/TForm1.h"
#include "console/TPlanEditor.h"
#include "console/Tadduser.h"
#include "console/Tinformation.h"
#include "ledger/Journal.h"
#include "plans/Plans.h"
#include "support/LedgerFixtures.h"
#include "widgets/Themed.h"

// The price plan's windows: the zone in the panel, the editor's check, 试算, 明细.
namespace {

const QString kTwoZones = QStringLiteral(
    R"({"zones": [{"name": "普通区", "rates": [{"days": ["mon","tue","wed","thu","fri","sat","sun"], "from": "00:00", "to": "24:00", "hourly": "3"}]},
                  {"name": "电竞区", "rates": [{"days": ["mon","tue","wed","thu","fri","sat","sun"], "from": "00:00", "to": "24:00", "hourly": "6"}]}],
       "holidays": [], "machines": {"pc07": "电竞区"}})");

void savePlan(Env& env, const QString& json = kTwoZones) {
    PlanProblem problem;
    const std::optional<Plan> plan = PlanFromJson(json.toUtf8(), &problem);
    QString why;
    QVERIFY(plan && SavePlan(*env.desk, *plan, {}, &why));
}

}  // namespace

class PlanWindowTest : public QObject {
    Q_OBJECT

  private slots:
    // The zone beside 当前机器 is what the plan's watch read beside the window at the last tick.
    void zoneShownOnlyUnderAPlan() {
        Env env;
        env.addMachine(QStringLiteral("pc07"));
        TForm1 form(*env.desk);
        env.prompts.take();
        env.desk->RefreshSessionGrid();
        const auto tick = [&] {
            QTRY_VERIFY(!env.desk->planWatchRunning);  // the one at the start is in
            form.Timer2Timer();
            QTRY_VERIFY(!env.desk->billingPassRunning && !env.desk->planWatchRunning);
        };
        tick();
        QCOMPARE(form.Label4->text(), QString());  // as it always was without a plan
        savePlan(env);
        tick();
        QCOMPARE(form.Label4->text(), QStringLiteral("电竞区"));
        QString why;
        QVERIFY(PlanOff(*env.desk, {}, &why));
        tick();
        QCOMPARE(form.Label4->text(), QString());
    }

    void machineListChoosesAZone() {
        Env env;
        env.addMachine(QStringLiteral("pc01"));
        {
            Tadduser plain(*env.desk, nullptr);
            QVERIFY(plain.ZoneCombo->isHidden());  // no plan: the dialog as it was
        }
        savePlan(env);
        Tadduser dialog(*env.desk, nullptr);
        dialog.show();
        QVERIFY(dialog.ZoneCombo->isVisible());
        QCOMPARE(dialog.ZoneCombo->count(), 2);
        dialog.FlatListBox1->setSelected(1, true);
        QCOMPARE(dialog.ZoneCombo->currentText(), QStringLiteral("普通区"));
        dialog.ZoneCombo->setCurrentIndex(1);
        emit dialog.ZoneCombo->activated(1);
        QCOMPARE(MachineZoneNow(*env.desk, QStringLiteral("pc01")), QStringLiteral("电竞区"));
        QCOMPARE(JournalRowsOf(env, JournalKind::PlanChange), 2);  // the plan and the machine's zone
    }

    void editorRefusesAGapAndAnOverlap_data() {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("box");
        QTest::newRow("gap") << QStringLiteral(
            R"({"zones": [{"name": "普通区", "rates": [{"days": ["mon","tue","wed","thu","fri","sat","sun"], "from": "00:00", "to": "08:00", "hourly": "2"},
                                                        {"days": ["mon","tue","wed","thu","fri","sat","sun"], "from": "09:00", "to": "24:00", "hourly": "3"}]}]})")
                             << "message|价格方案有问题，未保存：区域“普通区”，周一(mon)，08:00–09:00 没有价格（空档）";
        QTest::newRow("overlap") << QStringLiteral(
            R"({"zones": [{"name": "包间", "rates": [{"days": ["mon","tue","wed","thu","fri","sat","sun"], "from": "00:00", "to": "24:00", "hourly": "2"},
                                                      {"days": ["sun"], "from": "22:00", "to": "24:00", "hourly": "3"}]}]})")
                                 << "message|价格方案有问题，未保存：区域“包间”，周日(sun)，22:00–24:00 有2个价格（重叠）";
    }
    void editorRefusesAGapAndAnOverlap() {
        QFETCH(QString, json);
        QFETCH(QString, box);
        Env env;
        TPlanEditor editor(*env.desk, nullptr);
        env.prompts.take();
        editor.PlanText->setPlainText(json);
        editor.SaveButton->click();
        QCOMPARE(env.prompts.take(), QStringList{box});
        QCOMPARE(JournalRowsOf(env, JournalKind::PlanChange), 0);
        QVERIFY(!SavedPlan(*env.desk));
    }

    void editorSavesAndPreviews() {
        Env env;
        TPlanEditor editor(*env.desk, nullptr);
        QVERIFY(editor.PlanText->toPlainText().contains(QStringLiteral("普通区")));  // a start
        editor.PlanText->setPlainText(kTwoZones);
        editor.CheckButton->click();
        editor.SaveButton->click();
        QCOMPARE(env.prompts.take(), (QStringList{"message|价格方案没有问题，可以保存。",
                                                  "message|价格方案已保存，自 2026-12-09 10:00 起生效。"}));
        QCOMPARE(editor.PreviewZone->count(), 2);
        editor.PreviewZone->setCurrentIndex(1);
        editor.PreviewStart->setText(QStringLiteral("2026-12-09 10:00"));
        editor.PreviewEnd->setText(QStringLiteral("2026-12-09 12:25"));
        editor.PreviewButton->click();
        QCOMPARE(editor.PreviewResult->toPlainText(),
                 QStringLiteral("10:00–12:00  2小时 × 6元/小时 = 12元\n"
                                "12:00–12:25  不足1小时（25分钟），6元/小时，计 4元\n"
                                "共用时间 2时25分，上网费用 16元"));
        // The end before the start is said, not shown as a free session.
        editor.PreviewEnd->setText(QStringLiteral("2026-12-09 09:59"));
        editor.PreviewButton->click();
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|试算的下机时间不能早于上机时间。")});
        // Turning it off names the rate that stays: the plan's base rate, not the one before.
        env.prompts.answers = {true};
        editor.OffButton->click();
        QCOMPARE(env.prompts.take(),
                 (QStringList{"confirm|停用价格方案后，所有机器全天按上网单价（3元/小时，可在“设置”里修改）"
                              "计费。确定停用吗？",
                              "message|价格方案已停用。"}));
    }

    void detailExplainsTheBill() {
        Env env;
        env.addMachine(QStringLiteral("pc07"));
        env.resolver.table.insert(QStringLiteral("pc07"), 0x7F000001);
        savePlan(env);
        env.desk->SelectedMachine = QStringLiteral("pc07");
        StartSession(*env.desk);
        env.sql(QStringLiteral("update Tcount set Tother='1.5' where username='pc07'"));
        env.clock.time = QTime(11, 10);
        BillingPass(*env.desk);
        env.desk->RefreshSessionGrid();
        env.prompts.take();
        Tinformation dialog(*env.desk, nullptr);
        dialog.ShowRow(0);
        QVERIFY(dialog.DetailButton->isVisible());
        dialog.DetailButton->click();
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|机器 pc07，正常\n区域 电竞区\n"
                                            "10:00–11:00  1小时 × 6元/小时 = 6元\n"
                                            "11:00–11:10  不足1小时（10分钟），6元/小时，计 2元\n"
                                            "上网费用 8元\n附加费 1.5元\n共需费用 9.5元")});
    }
};

int runPlanWindowTest(int argc, char** argv) {
    PlanWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_plan_windows.moc"
