#include "console/TShift.h"

#include <QAbstractButton>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "desk/Desk.h"
#include "ledger/Shifts.h"
#include "widgets/Themed.h"

TShift::TShift(Desk& deskRef, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::Dialog), desk(deskRef) {
    setObjectName(QStringLiteral("shift"));
    setWindowTitle(QStringLiteral("交班"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 12));
    auto* layout = new QVBoxLayout(this);
    CurrentLabel = new QLabel(this);
    CurrentLabel->setWordWrap(true);
    layout->addWidget(CurrentLabel);

    OpenBox = new QGroupBox(QStringLiteral("开班"), this);
    auto* open = new QFormLayout(OpenBox);
    OperatorEdit = new QLineEdit(OpenBox);
    FloatEdit = new QLineEdit(OpenBox);
    FloatEdit->setPlaceholderText(QStringLiteral("钱箱里的现金，例如 200"));
    // Wide enough for the whole hint, not "钱箱里的现金，例如 2…".
    FloatEdit->setMinimumWidth(
        FloatEdit->fontMetrics().horizontalAdvance(FloatEdit->placeholderText()) + 24);
    open->addRow(QStringLiteral("值班员(&N)："), OperatorEdit);
    open->addRow(QStringLiteral("备用金(&F)："), FloatEdit);
    OpenButton = new FlatButton(QStringLiteral("开  班"), OpenBox);
    open->addRow(OpenButton);
    layout->addWidget(OpenBox);

    CloseBox = new QGroupBox(QStringLiteral("交班（先清点现金）"), this);
    auto* close = new QFormLayout(CloseBox);
    CountedEdit = new QLineEdit(CloseBox);
    close->addRow(QStringLiteral("清点现金(&C)："), CountedEdit);
    CountButton = new FlatButton(QStringLiteral("清点完毕"), CloseBox);
    close->addRow(CountButton);
    ExpectedLabel = new QLabel(CloseBox);
    DifferenceLabel = new QLabel(CloseBox);
    close->addRow(QStringLiteral("应有现金："), ExpectedLabel);
    close->addRow(QStringLiteral("差额："), DifferenceLabel);
    NoteEdit = new QLineEdit(CloseBox);
    close->addRow(QStringLiteral("备注(&R)："), NoteEdit);
    CloseButton = new FlatButton(QStringLiteral("确认交班"), CloseBox);
    close->addRow(CloseButton);
    layout->addWidget(CloseBox);

    connect(OpenButton, &QPushButton::clicked, this, desk.Guarded([this] { OpenClick(); }));
    connect(CountButton, &QPushButton::clicked, this, desk.Guarded([this] { CountClick(); }));
    connect(CloseButton, &QPushButton::clicked, this, desk.Guarded([this] { CloseClick(); }));
    // Return takes the step the shift is at: 开班, then 清点完毕, then 确认交班.
    DialogKeys(this, [this]() -> QAbstractButton* {
        if (OpenBox->isEnabled()) return OpenButton;
        return CloseButton->isEnabled() ? CloseButton : CountButton;
    });
    desk.Guard([this] { Refresh(); });
}

void TShift::Refresh() {
    // Signed in, the shift is the operator's own: no name to type, nobody else's to write.
    if (!desk.accountId.isEmpty()) {
        OperatorEdit->setText(desk.operatorName);
        OperatorEdit->setReadOnly(true);
    }
    const std::optional<Shift> open = OpenShiftOf(desk);
    if (open)
        CurrentLabel->setText(
            QStringLiteral("本机（%1）当前班次：值班员 %2，%3 开班，备用金 %4 元。")
                .arg(desk.deskName, open->operatorName, open->openedAt,
                     CentsText(open->floatCents)));
    else
        CurrentLabel->setText(
            QStringLiteral("本机（%1）现在没有开着的班次。请输入值班员的名字和钱箱里的备用金开班。")
                .arg(desk.deskName));
    OpenBox->setEnabled(!open);
    CloseBox->setEnabled(open.has_value());
    ShowCount(open ? ShiftCountOf(desk) : std::nullopt);
    // The focus goes to the step's first field, never stays on a button that has just been
    // disabled (typing and Escape would then go nowhere).
    (open ? CountedEdit : OperatorEdit)->setFocus();
}

void TShift::ShowCount(const std::optional<ShiftCount>& count) {
    // The first count stands once it is made: it stays shown, and pressing again is a recount.
    ExpectedLabel->setText(count ? CentsText(count->expectedCents) + QStringLiteral(" 元")
                                 : QString());
    DifferenceLabel->setText(count ? CentsText(count->differenceCents) + QStringLiteral(" 元")
                                   : QString());
    CountButton->setText(count ? QStringLiteral("复  点") : QStringLiteral("清点完毕"));
    CloseButton->setEnabled(count.has_value());
}

void TShift::OpenClick() {
    if (!OpenShift(desk, OperatorEdit->text(), FloatEdit->text())) return;
    OperatorEdit->clear();
    FloatEdit->clear();
    Refresh();
}

void TShift::CountClick() {
    const std::optional<ShiftCount> count = CountShift(desk, CountedEdit->text());
    if (!count) return;
    ShowCount(count);
    if (count->differenceCents != 0)
        NoteEdit->setFocus();
    else
        CloseButton->setFocus();
}

void TShift::CloseClick() {
    if (!CloseShift(desk, NoteEdit->text())) return;
    CountedEdit->clear();
    NoteEdit->clear();
    Refresh();  // the next operator opens the next shift
    emit closed();
}
