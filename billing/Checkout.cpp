#include "billing/Checkout.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "billing/SessionStart.h"
#include "client_channel/Commands.h"
#include "client_channel/NMUDP.h"
#include "console/Desk.h"
#include "widgets/Themed.h"

namespace {

struct FieldSpec {
    QLineEdit* Tinformation::*field;
    const char* name;
    const char* label;
    const char* column;
};

const FieldSpec kFields[] = {
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

const QString kNotCheckedOut = QStringLiteral("该客户机并未下机，请前往查看.");
const QString kDbContact = QStringLiteral("数据库出现错误，请与管理员联系");

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
        edit->setFrame(false);
        edit->setGeometry(x + 72, y, 110, 21);
        this->*kFields[i].field = edit;
    }
    XP_Button1 =
        new FlatButton(QStringLiteral("结账下机"), "XP_Button1", QRect(56, 214, 80, 26), this);
    XP_Button2 =
        new FlatButton(QStringLiteral("转  账"), "XP_Button2", QRect(176, 214, 80, 26), this);
    XP_Button3 =
        new FlatButton(QStringLiteral("返  回"), "XP_Button3", QRect(296, 214, 80, 26), this);
    connect(XP_Button1, &QPushButton::clicked, this, desk.Guarded([this] { XP_Button1Click(); }));
    connect(XP_Button3, &QPushButton::clicked, this, [this] { XP_Button3Click(); });
}

void Tinformation::ShowRow(int gridRow) {
    const Query* grid = desk.DataModule1.ADOQuery1;
    for (const FieldSpec& f : kFields)
        (this->*f.field)->setText(grid->FieldText(gridRow, QString::fromLatin1(f.column)));
    show();
    raise();
}

QString Tinformation::ShownMachine() const { return la_computername->text(); }

void OpenCheckout(Desk& desk, Tinformation& dialog) {
    // With the grid closed there is no row to bill: reopen it (it finds the chosen machine
    // again) and stop if that fails, since its box has already told the operator.
    if (!desk.DataModule1.ADOQuery1->Active()) {
        desk.RefreshSessionGrid();
        if (!desk.DataModule1.ADOQuery1->Active()) return;
    }
    const int gridRow = desk.CurrentRow();
    const QString name = desk.CurrentRowMachine();
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:SelectRow"));
    q->SetParam(QStringLiteral("SelectRow"), name);
    desk.SelectedMachine = name;
    if (!q->Open()) {
        desk.prompts.message(QStringLiteral("数据库出错，请重新启动本软件!"));
        return;
    }
    q->First();
    if (q->FieldText(QStringLiteral("Cstate")) == QStringLiteral("无")) {
        StartCommand(desk);
        desk.prompts.message(QStringLiteral("现在是要上机了"));
        return;
    }
    dialog.ShowRow(gridRow);
}

void Tinformation::XP_Button1Click() {
    // The bill on screen decides the machine: another command may have moved SelectedMachine
    // while the dialog was open, and resetting that one would erase a stranger's session.
    const QString machine = ShownMachine();
    desk.SelectedMachine = machine;
    desk.prompts.message(QStringLiteral("现在是要下机了"));
    const QByteArray datagram = *CommandDatagram(QStringLiteral("xiaji"));
    // The client locks only when its checkout can be recorded: after the look-up and before
    // "xiaji" leaves, the lock is taken and the row reset; the commit follows the send at once.
    // The state is the one the grid shows; a machine the grid does not show is reset anyway.
    Transaction transaction(desk.DataModule1);
    Query* grid = desk.DataModule1.ADOQuery1;
    const int row = grid->FindRow(QStringLiteral("username"), machine);
    const bool reset = grid->FieldText(row, QStringLiteral("Cstate")) != QStringLiteral("无");
    const auto lockAndReset = [&] {
        if (!transaction.BeginWrite()) return false;
        if (!reset) return true;
        grid->Close();
        grid->SetSql(QStringLiteral(
            "update Tcount set Tstart=:tt1,Tnow=:tt2,Stime=:tt3,Tmoney=:tt4,Tother=:tt5,"
            "Tsum=:tt6,gotime=:tt7,Cstate=:tt8 where username=:tt9"));
        for (const char* empty : {"tt1", "tt2", "tt3", "tt4", "tt5", "tt6", "tt7"})
            grid->SetParam(QString::fromLatin1(empty), QString());
        grid->SetParam(QStringLiteral("tt8"), QStringLiteral("无"));
        grid->SetParam(QStringLiteral("tt9"), machine);
        if (grid->ExecSQL()) return true;
        transaction.Rollback();
        return false;
    };
    try {
        desk.NMUDP1->RemoteHost = machine;
        desk.prompts.message(QStringLiteral(" 要下机的客户机名是:") + machine);
        desk.prompts.message(machine);
        desk.NMUDP1->RemoteHost = machine;  // a send during the boxes may have moved it
        desk.NMUDP1->SendDatagram(datagram, CommandDatagramSize, lockAndReset);
    } catch (const SendVetoed&) {
        desk.prompts.message(kDbContact);
        desk.prompts.message(kNotCheckedOut);
        return;
    } catch (const EndpointError&) {
        desk.prompts.message(QStringLiteral("无法与客户端连接!"));
        desk.prompts.message(kNotCheckedOut);
        return;
    }
    const bool resetWritten = transaction.Commit();
    bool reopened = true;
    if (reset && resetWritten) {
        grid->Close();
        grid->SetSql(QStringLiteral("select * from Tcount order by username"));
        reopened = grid->Open();
    }
    desk.prompts.message(QStringLiteral("发送信息完成，收到没有是客户端的事了."));
    if (!resetWritten) {
        desk.prompts.message(kDbContact);
        desk.prompts.message(kNotCheckedOut);
        return;
    }
    if (!reopened) {
        desk.prompts.message(kDbContact);
        return;
    }
    desk.prompts.message(QStringLiteral("下机到这已经全部完成了."));
    hide();
}

void Tinformation::XP_Button3Click() { hide(); }
