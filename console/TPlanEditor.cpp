#include "console/TPlanEditor.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "billing/Prices.h"
#include "console/TSettings.h"
#include "desk/Desk.h"
#include "plans/Plans.h"
#include "widgets/Themed.h"

namespace {

// A first plan to start from: the tariff's rate all day in one zone, its overnight 20:00–04:00
// ending at 08:00.
QString StarterPlan(const QString& hourly, const QString& night) {
    return QStringLiteral(
               "{\"zones\": [\n"
               "  {\"name\": \"普通区\",\n"
               "   \"rates\": [{\"days\": [\"mon\",\"tue\",\"wed\",\"thu\",\"fri\",\"sat\",\"sun\"], "
               "\"from\": \"00:00\", \"to\": \"24:00\", \"hourly\": \"%1\"}],\n"
               "   \"overnight\": {\"price\": \"%2\", \"sell_from\": \"20:00\", \"sell_to\": "
               "\"04:00\", \"ends\": \"08:00\"}}],\n"
               " \"holidays\": [],\n"
               " \"machines\": {}}\n")
        .arg(hourly, night);
}

}  // namespace

TPlanEditor::TPlanEditor(Desk& deskRef, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::Dialog), desk(deskRef) {
    setObjectName(QStringLiteral("planEditor"));
    setWindowTitle(QStringLiteral("价格方案"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 12));
    resize(860, 620);
    auto* layout = new QVBoxLayout(this);

    StateLabel = new QLabel(this);
    StateLabel->setWordWrap(true);
    layout->addWidget(StateLabel);

    auto* planBox = new QGroupBox(QStringLiteral("方案（区域、各时段价格、节假日、通宵、机器所在区域）"), this);
    auto* planLayout = new QVBoxLayout(planBox);
    PlanText = new QPlainTextEdit(planBox);
    PlanText->setObjectName(QStringLiteral("PlanText"));
    PlanText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    PlanText->setLineWrapMode(QPlainTextEdit::NoWrap);
    planLayout->addWidget(PlanText);
    auto* hint = new QLabel(
        QStringLiteral("每个区域的每一种日子（mon…sun、holiday）都要从 00:00 到 24:00 "
                       "不重不漏地写上价格；夜里跨零点的时段写成两条。没写 holiday 的区域，"
                       "节假日按周日的价格。没列出的机器在第一个区域。"),
        planBox);
    hint->setWordWrap(true);
    planLayout->addWidget(hint);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("生效时间(&F)："), planBox));
    FromEdit = new QLineEdit(planBox);
    FromEdit->setObjectName(QStringLiteral("FromEdit"));
    FromEdit->setToolTip(QStringLiteral("格式 2027-01-01 08:00；之前开始的整点时段仍按原价"));
    row->addWidget(FromEdit);
    CheckButton = new FlatButton(QStringLiteral("检查"), planBox);
    SaveButton = new FlatButton(QStringLiteral("保存方案"), planBox);
    OffButton = new FlatButton(QStringLiteral("停用方案"), planBox);
    for (QPushButton* b : {CheckButton, SaveButton, OffButton}) {
        b->setMinimumWidth(80);
        row->addWidget(b);
    }
    planLayout->addLayout(row);
    layout->addWidget(planBox, 3);

    auto* previewBox = new QGroupBox(QStringLiteral("试算"), this);
    auto* previewLayout = new QVBoxLayout(previewBox);
    auto* fields = new QHBoxLayout;
    PreviewZone = new QComboBox(previewBox);
    PreviewZone->setObjectName(QStringLiteral("PreviewZone"));
    PreviewStart = new QLineEdit(previewBox);
    PreviewStart->setObjectName(QStringLiteral("PreviewStart"));
    PreviewEnd = new QLineEdit(previewBox);
    PreviewEnd->setObjectName(QStringLiteral("PreviewEnd"));
    PreviewButton = new FlatButton(QStringLiteral("试算"), previewBox);
    PreviewButton->setMinimumWidth(80);
    fields->addWidget(new QLabel(QStringLiteral("区域："), previewBox));
    fields->addWidget(PreviewZone, 1);
    fields->addWidget(new QLabel(QStringLiteral("从："), previewBox));
    fields->addWidget(PreviewStart, 2);
    fields->addWidget(new QLabel(QStringLiteral("到："), previewBox));
    fields->addWidget(PreviewEnd, 2);
    fields->addWidget(PreviewButton);
    previewLayout->addLayout(fields);
    PreviewResult = new QPlainTextEdit(previewBox);
    PreviewResult->setObjectName(QStringLiteral("PreviewResult"));
    PreviewResult->setReadOnly(true);
    previewLayout->addWidget(PreviewResult);
    layout->addWidget(previewBox, 2);

    connect(CheckButton, &QPushButton::clicked, this, desk.Guarded([this] { CheckClick(); }));
    connect(SaveButton, &QPushButton::clicked, this,
            WithApprover(desk, approverId, [this] { SaveClick(); }));
    connect(OffButton, &QPushButton::clicked, this,
            WithApprover(desk, approverId, [this] { OffClick(); }));
    connect(PreviewButton, &QPushButton::clicked, this, desk.Guarded([this] { PreviewClick(); }));
    DialogKeys(this);
    desk.Guard([this] { LoadPlan(); });
}

void TPlanEditor::LoadPlan() {
    const QDateTime now = desk.clock.nowDateTime();
    FromEdit->setText(PlanDateTimeText(now));
    PreviewStart->setText(PlanDateTimeText(now.addSecs(-3600)));
    PreviewEnd->setText(PlanDateTimeText(now));
    const std::optional<Plan> plan = SavedPlan(desk);
    PreviewZone->clear();
    if (plan) {
        PlanText->setPlainText(QString::fromUtf8(PlanToJson(*plan)));
        for (const Zone& z : plan->zones) PreviewZone->addItem(z.name);
        StateLabel->setText(QStringLiteral("正在按价格方案计费。改动从“生效时间”起生效，"
                                           "之前开始的整点时段仍按原价。"));
        return;
    }
    const std::optional<Prices> prices = ReadPrices(desk);
    PlanText->setPlainText(StarterPlan(prices ? prices->hourly : QStringLiteral("2"),
                                       prices ? prices->overnight : QStringLiteral("10")));
    StateLabel->setText(QStringLiteral("现在没有价格方案：所有机器全天按设置里的上网单价计费。"
                                       "保存一个方案后按方案计费。"));
}

void TPlanEditor::CheckClick() {
    PlanProblem problem;
    const std::optional<Plan> plan = PlanFromJson(PlanText->toPlainText().toUtf8(), &problem);
    const std::optional<PlanProblem> wrong = plan ? CheckPlan(*plan) : problem;
    desk.prompts.message(wrong ? QStringLiteral("价格方案有问题：%1").arg(wrong->text)
                               : QStringLiteral("价格方案没有问题，可以保存。"));
}

void TPlanEditor::SaveClick() {
    PlanProblem problem;
    const std::optional<Plan> plan = PlanFromJson(PlanText->toPlainText().toUtf8(), &problem);
    const QDateTime from = ParsePlanDateTime(FromEdit->text());
    if (!plan) {
        desk.prompts.message(QStringLiteral("价格方案有问题，未保存：%1").arg(problem.text));
        return;
    }
    if (!from.isValid()) {
        desk.prompts.message(QStringLiteral("生效时间要写成 2027-01-01 08:00 这样，未保存。"));
        return;
    }
    QString why;
    if (!SavePlan(desk, *plan, from, &why)) {
        desk.prompts.message(QStringLiteral("价格方案有问题，未保存：%1").arg(why));
        return;
    }
    desk.prompts.message(QStringLiteral("价格方案已保存，自 %1 起生效。")
                             .arg(PlanDateTimeText(PlanEffectiveFrom(desk, from))));
    LoadPlan();
}

void TPlanEditor::OffClick() {
    const QDateTime from = ParsePlanDateTime(FromEdit->text());
    if (!from.isValid()) {
        desk.prompts.message(QStringLiteral("生效时间要写成 2027-01-01 08:00 这样。"));
        return;
    }
    // The rate left is the plan's base rate, not the one before the plan: say which it is.
    const std::optional<Prices> prices = ReadTariff(desk);
    const QString rate = prices && !prices->hourly.isEmpty()
                             ? QStringLiteral("（%1元/小时，可在“设置”里修改）").arg(prices->hourly)
                             : QString();
    if (!desk.prompts.confirm(
            QStringLiteral("停用价格方案后，所有机器全天按上网单价%1计费。确定停用吗？").arg(rate)))
        return;
    QString why;
    if (!PlanOff(desk, from, &why)) {
        desk.prompts.message(why);
        return;
    }
    desk.prompts.message(QStringLiteral("价格方案已停用。"));
    LoadPlan();
}

void TPlanEditor::PreviewClick() {
    const QDateTime start = ParsePlanDateTime(PreviewStart->text());
    const QDateTime end = ParsePlanDateTime(PreviewEnd->text());
    if (!start.isValid() || !end.isValid()) {
        desk.prompts.message(QStringLiteral("时间要写成 2027-01-01 08:00 这样。"));
        return;
    }
    // The other way round it would read as a session of no time at no fee.
    if (end < start) {
        desk.prompts.message(QStringLiteral("试算的下机时间不能早于上机时间。"));
        return;
    }
    const std::optional<PlanBill> bill = PreviewBill(desk, PreviewZone->currentText(), start, end);
    if (!bill) return;
    QStringList lines = SlotLines(*bill);
    lines << QStringLiteral("共用时间 %1时%2分，上网费用 %3元")
                 .arg(bill->hours)
                 .arg(bill->minutes)
                 .arg(FenText(bill->fee));
    PreviewResult->setPlainText(lines.join(QLatin1Char('\n')));
}
