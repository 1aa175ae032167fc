#include "console/Tsend.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QShowEvent>

#include "client_channel/Datagram.h"
#include "console/FillMachineCombo.h"
#include "desk/Desk.h"
#include "desk/SendCommand.h"
#include "widgets/Themed.h"

Tsend::Tsend(Desk& deskRef, QWidget* owner) : QWidget(owner, Qt::Window), desk(deskRef) {
    setObjectName(QStringLiteral("send"));
    setWindowTitle(QStringLiteral("信使服务"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 11));
    move(218, 99);
    resize(OuterSize);  // the client area until the frame is known

    auto* machineLabel = new QLabel(QStringLiteral("机器号："), this);
    machineLabel->move(8, 8);
    FlatComboBox1 = new QComboBox(this);
    FlatComboBox1->setObjectName(QStringLiteral("FlatComboBox1"));
    FlatComboBox1->setEditable(false);
    FlatComboBox1->setGeometry(49, 20, 112, 19);
    auto* messageLabel = new QLabel(QStringLiteral("信息："), this);
    messageLabel->move(16, 40);
    FlatMemo1 = new QPlainTextEdit(this);
    FlatMemo1->setObjectName(QStringLiteral("FlatMemo1"));
    FlatMemo1->setGeometry(8, 56, 193, 113);
    FlatMemo1->setFont(ThemedFont(QStringLiteral("SimSun"), 13));
    QPalette memoPalette = FlatMemo1->palette();
    memoPalette.setColor(QPalette::Text, Qt::red);
    FlatMemo1->setPalette(memoPalette);
    XP_Button1 =
        new FlatButton(QStringLiteral("发   送"), "XP_Button1", QRect(24, 184, 75, 24), this);
    XP_Button2 =
        new FlatButton(QStringLiteral("返   回"), "XP_Button2", QRect(112, 184, 75, 24), this);
    // A long text is seen before it is sent, not refused after.
    ByteCounter = new QLabel(this);
    ByteCounter->setObjectName(QStringLiteral("ByteCounter"));
    ByteCounter->setGeometry(96, 40, 105, 14);
    ByteCounter->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(FlatMemo1, &QPlainTextEdit::textChanged, this, &Tsend::CountBytes);
    CountBytes();
    FlatMemo1->setTabChangesFocus(true);  // Tab goes on to 发   送, as in every other box
    NameField(machineLabel, FlatComboBox1);
    NameField(messageLabel, FlatMemo1);
    DialogKeys(this);  // Return in the message is a new line, not a send
    connect(XP_Button1, &QPushButton::clicked, this, desk.Guarded([this] { XP_Button1Click(); }));
    connect(XP_Button2, &QPushButton::clicked, this, [this] { XP_Button2Click(); });
}

void Tsend::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_sized) {
        m_sized = true;
        FitOuterSize(this, OuterSize, false);
    }
    // Restoring a minimised window is not a new showing.
    if (!event->spontaneous()) desk.Guard([this] { FormShow(); });
}

void Tsend::FormShow() {
    FlatComboBox1->clear();
    FillMachineCombo(desk, FlatComboBox1, 1);
    FlatComboBox1->setCurrentIndex(-1);  // nothing picked at first
}

QString Tsend::MessageCommand(const QString& memoText) { return Command::Message(memoText); }

std::optional<qsizetype> Tsend::MessageBytes(const QString& memoText) {
    const std::optional<qsizetype> bytes = CommandTextBytes(MessageCommand(memoText));
    if (!bytes) return std::nullopt;
    return *bytes - 1;  // the space before the text is the command's, not the operator's
}

void Tsend::CountBytes() {
    const std::optional<qsizetype> bytes = MessageBytes(FlatMemo1->toPlainText());
    const bool fits = bytes && *bytes <= MessageByteLimit;
    ByteCounter->setText(bytes ? QStringLiteral("%1/%2 字节").arg(*bytes).arg(MessageByteLimit)
                               : QStringLiteral("有无法发送的字符"));
    ByteCounter->setStyleSheet(fits ? QString() : QStringLiteral("color: red;"));
}

void Tsend::XP_Button1Click() {
    if (FlatComboBox1->currentText().isEmpty()) {
        desk.prompts.message(QStringLiteral("请选择好您要发送信息的机器号！"));
        return;
    }
    if (FlatMemo1->toPlainText().isEmpty()) {
        desk.prompts.message(QStringLiteral("请填入您的信息！"));
        FlatMemo1->setFocus();
        return;
    }
    const QString command = MessageCommand(FlatMemo1->toPlainText());
    if (!CommandDatagram(command)) {
        desk.prompts.message(
            QStringLiteral("信息太长或含有无法发送的字符，未发送！一条信息最多28个字节："
                           "14个汉字或28个字母（换行算2个字节）。"));
        FlatMemo1->setFocus();
        return;
    }
    desk.SelectedMachine = FlatComboBox1->currentText();
    SendCommand(desk, command);
}

void Tsend::XP_Button2Click() { close(); }
