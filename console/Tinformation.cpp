#include "console/Tinformation.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "billing/Checkout.h"
#include "desk/Desk.h"
#include "packages/Packages.h"
#include "plans/Plans.h"
#include "widgets/Themed.h"

namespace {

struct BillField {
    QLineEdit* Tinformation::*field;
    const char* name;
    const char* label;
    const char* column;
};

const BillField kFields[] = {
    {&Tinformation::la_computername, "la_computername", "计算机名：", "username"},
    {&Tinformation::la_startime, "la_startime", "上机时间：", "Tstart"},
    {&Tinformation::la_nowtime, "la_nowtime", "现在时间：", "Tnow"},
    {&Tinformation::la_totaltime, "la_totaltime", "共用时间：", "Stime"},
    {&Tinformation::la_timemoney, "la_timemoney", "上网费用：", "Tmoney"},
    {&Tinformation::la_othermoney, "la_othermoney", "附加费：", "Tother"},
    {&Tinformation::la_allmoney, "la_allmoney", "共需费用：", "Tsum"},
    {&Tinformation::la_tishitime, "la_tishitime", "提示时间：", "gotime"},
    {&Tinformation::la_onStatus, "la_onStatus", "上机状态：", "Cstate"},
};

}  // namespace

Tinformation::Tinformation(Desk& deskRef, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::Dialog), desk(deskRef) {
    setObjectName(QStringLiteral("information"));
    setWindowTitle(QStringLiteral("下机"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 12));
    setFixedSize(430, 250);

    auto* group = new QGroupBox(QStringLiteral("用户信息"), this);
    group->setGeometry(8, 8, 414, 196);
    for (int i = 0; i < 9; ++i) {
        const bool left = i < 6;
        const int x = left ? 8 : 216;
        const int y = 24 + (left ? i : i - 6) * 28;
        auto* label = new QLabel(QString::fromUtf8(kFields[i].label), group);
        label->setGeometry(x, y + 3, 70, 16);
        auto* edit = new QLineEdit(group);
        edit->setObjectName(QString::fromLatin1(kFields[i].name));
        edit->setReadOnly(true);
        edit->setFocusPolicy(Qt::ClickFocus);  // Tab goes between the buttons, not the bill
        edit->setFrame(false);
        edit->setGeometry(x + 72, y, 110, 21);
        this->*kFields[i].field = edit;
        NameField(label, edit);
    }
    XP_Button1 =
        new FlatButton(QStringLiteral("结账下机"), "XP_Button1", QRect(56, 214, 80, 26), this);
    XP_Button2 =
        new FlatButton(QStringLiteral("转  账"), "XP_Button2", QRect(176, 214, 80, 26), this);
    XP_Button3 =
        new FlatButton(QStringLiteral("返  回"), "XP_Button3", QRect(296, 214, 80, 26), this);
    // In the free place under the right column: the bill explained, for the customer who asks.
    DetailButton = new FlatButton(QStringLiteral("明细"), "DetailButton", QRect(288, 136, 60, 22), group);
    PackageLine = new QLabel(group);
    PackageLine->setObjectName(QStringLiteral("PackageLine"));
    PackageLine->setGeometry(216, 160, 194, 32);
    PackageLine->setWordWrap(true);
    connect(DetailButton, &QPushButton::clicked, this, desk.Guarded([this] { DetailClick(); }));
    connect(XP_Button1, &QPushButton::clicked, this, desk.Guarded([this] { XP_Button1Click(); }));
    connect(XP_Button3, &QPushButton::clicked, this, [this] { XP_Button3Click(); });
    DialogKeys(this, XP_Button1);
}

void Tinformation::ShowRow(int gridRow) {
    const Query* grid = desk.DataModule1.ADOQuery1;
    for (const BillField& f : kFields)
        (this->*f.field)->setText(grid->FieldText(gridRow, QString::fromLatin1(f.column)));
    ShowPackage();
    show();
    raise();
    activateWindow();
    XP_Button1->setFocus();  // Return checks out, Tab reaches 转  账 and 返  回
}

QString Tinformation::ShownMachine() const { return la_computername->text(); }

void Tinformation::XP_Button1Click() {
    // The bill on screen decides the machine: another command may have moved SelectedMachine
    // while the dialog was open, and resetting that one would erase a stranger's session.
    const ShownBill bill{la_computername->text(), la_startime->text(),  la_nowtime->text(),
                         la_totaltime->text(),    la_timemoney->text(), la_othermoney->text(),
                         la_allmoney->text(),     la_tishitime->text(), la_onStatus->text()};
    // A row that is no longer this bill shows its own here, to be confirmed with a second press.
    const auto refill = [this](const ShownBill& row) {
        const QString texts[] = {row.machine, row.start, row.now,      row.used, row.fee,
                                 row.other,   row.total, row.reminder, row.state};
        for (int i = 0; i < 9; ++i) (this->*kFields[i].field)->setText(texts[i]);
        ShowPackage();
    };
    switch (CheckOut(desk, bill, refill)) {
        case CheckoutOutcome::Done:
        case CheckoutOutcome::Idle:  // nothing left to settle here
            hide();
            break;
        case CheckoutOutcome::NotDone:
        case CheckoutOutcome::BillChanged:
            break;
    }
}

void Tinformation::XP_Button3Click() { hide(); }

void Tinformation::ShowPackage() {
    bool failed = false;
    const std::optional<PackageBill> bill =
        PackageAtCheckout(desk, la_computername->text(), &failed);
    QString text;
    if (bill) {
        const std::vector<Desk::SettledLine> lines = PackageLines(*bill);
        text = QStringLiteral("%1预付 %2 元，还应付 %3 元").arg(lines[0].label, lines[0].amount, la_allmoney->text());
        if (bill->refund > 0) text += QStringLiteral("，退还 %1 元").arg(lines[1].amount.mid(1));
    }
    PackageLine->setText(text);
}

void Tinformation::DetailClick() {
    desk.prompts.message(BillBreakdown(desk, la_computername->text(), la_startime->text(),
                                       la_totaltime->text(), la_timemoney->text(),
                                       la_othermoney->text(), la_allmoney->text(),
                                       la_onStatus->text())
                                 .join(QLatin1Char('\n')) +
                             (PackageLine->text().isEmpty() ? QString()
                                                           : QLatin1Char('\n') + PackageLine->text()));
}

void OpenCheckout(Desk& desk, Tinformation& dialog) {
    if (const std::optional<int> row = CheckoutRow(desk)) dialog.ShowRow(*row);
}
