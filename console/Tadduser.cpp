#include "console/Tadduser.h"

#include <QCloseEvent>
#include <QCollator>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <algorithm>
#include <vector>

#include "accounts/Accounts.h"
#include "desk/Desk.h"
#include "machines/Machines.h"
#include "plans/Plans.h"
#include "widgets/Themed.h"

MachineListBox::MachineListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    // One line of text each: the view need not measure thousands of entries to lay them out.
    setUniformItemSizes(true);
}

namespace {

const QCollator& ListCollator() {
    static const QCollator collator = [] {
        QCollator c;  // the system locale's order
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator;
}

// Sorted without regard to case, but only an identical text is dropped: every row of the
// table must show, or it could never be deleted here. byLocale: the collator's verdict.
int Order(int byLocale, const QString& a, const QString& b) {
    if (byLocale != 0) return byLocale;
    const int byCase = a.compare(b, Qt::CaseInsensitive);
    return byCase != 0 ? byCase : a.compare(b);
}

}  // namespace

void MachineListBox::Fill(const QString& header, const QStringList& entries) {
    // Sorted once and put in at one go: not a look-up and an insert per name, which at
    // thousands of machines is what the operator waited for.
    QStringList sorted = entries;
    const QCollator& collator = ListCollator();
    const auto before = [&](const QString& a, const QString& b) {
        return Order(collator.compare(a, b), a, b) < 0;
    };
    // The table's own order is most often already the list's (names like pc001): then one
    // look at each neighbour is all the sorting there is.
    if (!std::is_sorted(sorted.begin(), sorted.end(), before))
        std::sort(sorted.begin(), sorted.end(), before);
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    sorted.prepend(header);
    setUpdatesEnabled(false);
    clear();
    addItems(sorted);
    clearSelection();
    setUpdatesEnabled(true);
}

void MachineListBox::keyPressEvent(QKeyEvent* event) {
    QScrollBar* bar = verticalScrollBar();
    switch (event->key()) {
        case Qt::Key_Up:
            bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
            break;
        case Qt::Key_Down:
            bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            break;
        case Qt::Key_PageUp:
            bar->triggerAction(QAbstractSlider::SliderPageStepSub);
            break;
        case Qt::Key_PageDown:
            bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
            break;
        case Qt::Key_Home:
            bar->triggerAction(QAbstractSlider::SliderToMinimum);
            break;
        case Qt::Key_End:
            bar->triggerAction(QAbstractSlider::SliderToMaximum);
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

Tadduser::Tadduser(Desk& deskRef, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::Dialog), desk(deskRef) {
    setObjectName(QStringLiteral("adduser"));
    setWindowTitle(QStringLiteral("添加/删除机器"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 11));
    move(204, 127);
    setFixedSize(OuterSize);  // the client area until the frame is known

    auto* box = new QGroupBox(QStringLiteral("操作"), this);
    m_box = box;
    box->setObjectName(QStringLiteral("FlatGroupBox1"));
    box->setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 13));
    box->setGeometry(rect());

    FlatListBox1 = new MachineListBox(box);
    FlatListBox1->setObjectName(QStringLiteral("FlatListBox1"));
    FlatListBox1->setFont(font());
    FlatListBox1->setGeometry(8, 27, 161, 213);

    auto* addBox = new QGroupBox(QStringLiteral("添加"), box);
    addBox->setObjectName(QStringLiteral("FlatGroupBox2"));
    addBox->setGeometry(200, 16, 137, 153);
    auto* prompt = new QLabel(QStringLiteral("请输入机器名："), addBox);
    prompt->setFont(font());
    prompt->move(16, 32);
    Edit1 = new QLineEdit(addBox);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setFont(font());
    Edit1->setFrame(false);
    Edit1->setGeometry(16, 56, 81, 21);
    FlatButton1 =
        new FlatButton(QStringLiteral("添 加"), "FlatButton1", QRect(40, 104, 49, 25), addBox);

    FlatButton2 =
        new FlatButton(QStringLiteral("删 除"), "FlatButton2", QRect(200, 200, 49, 25), box);
    FlatButton2->setToolTip(QStringLiteral("选中左边的计算机名，单击删除，即可删除。"));
    FlatButton3 =
        new FlatButton(QStringLiteral("退 出"), "FlatButton3", QRect(272, 200, 49, 25), box);

    // Under a price plan: the zone of the machine chosen in the list (new machines are in the
    // default zone until one is chosen here). Without a plan the dialog is as it always was.
    ZoneCombo = new QComboBox(box);
    ZoneCombo->setObjectName(QStringLiteral("ZoneCombo"));
    ZoneCombo->setFont(font());
    ZoneCombo->setGeometry(200, 172, 137, 22);
    ZoneCombo->setToolTip(QStringLiteral("选中左边的计算机名，再选它所在的区域。"));
    ZoneCombo->setAccessibleName(QStringLiteral("区域"));
    connect(FlatListBox1, &QListWidget::itemSelectionChanged, this,
            desk.Guarded([this] { ShowSelectedZone(); }));
    connect(ZoneCombo, &QComboBox::activated, this, desk.Guarded([this] { ZoneChosen(); }));

    NameField(prompt, Edit1);
    FlatListBox1->setAccessibleName(QStringLiteral("已有的计算机名"));
    DialogKeys(this);
    // Return in the name field adds the machine.
    connect(Edit1, &QLineEdit::returnPressed, FlatButton1, &QPushButton::click);
    connect(FlatButton1, &QPushButton::clicked, this, desk.Guarded([this] { FlatButton1Click(); }));
    connect(FlatButton2, &QPushButton::clicked, this, desk.Guarded([this] { FlatButton2Click(); }));
    connect(FlatButton3, &QPushButton::clicked, this, desk.Guarded([this] { FlatButton3Click(); }));

    // FormCreate
    Edit1->clear();
    desk.Guard([this] { LoadMachineList(); });
    Edit1->setFocus();  // the operator types the name at once
}

QString Tadduser::SelectedEntry() const {
    for (int i = 1; i < FlatListBox1->count(); ++i)
        if (FlatListBox1->item(i)->isSelected()) return FlatListBox1->item(i)->text();
    return {};
}

void Tadduser::ShowSelectedZone() {
    const QString machine = SelectedEntry();
    ZoneCombo->setEnabled(!machine.isEmpty());
    ZoneCombo->setCurrentIndex(ZoneCombo->findText(MachineZoneNow(desk, machine)));
}

void Tadduser::ZoneChosen() {
    const QString machine = SelectedEntry();
    if (machine.isEmpty()) return;
    // A machine's zone is its price: under sign-in, the owner's to change.
    const OwnerApproval approval(desk, QStringLiteral("更改机器“%1”的区域").arg(machine));
    if (!approval) {
        ShowSelectedZone();
        return;
    }
    QString problem;
    // The first zone is the default: choosing it leaves the machine unlisted.
    const QString zone = ZoneCombo->currentIndex() == 0 ? QString() : ZoneCombo->currentText();
    if (!SetMachineZone(desk, machine, zone, &problem)) desk.prompts.message(problem);
}

void Tadduser::LoadMachineList() {
    const QStringList zones = PlanZoneNames(desk);
    ZoneCombo->clear();
    ZoneCombo->addItems(zones);
    ZoneCombo->setVisible(!zones.isEmpty());
    ZoneCombo->setEnabled(false);
    const std::optional<QStringList> names = AllMachineNames(desk);
    if (!names) return;  // the list keeps its entries
    FlatListBox1->Fill(QString::fromUtf8(Header), *names);
    // The header names the list; it is not a machine to delete.
    FlatListBox1->item(0)->setFlags(Qt::ItemIsEnabled);
}

void Tadduser::FlatButton1Click() {
    if (Edit1->text().isEmpty()) {
        desk.prompts.message(QStringLiteral("请先输入计算机名!"));
        return;
    }
    const AddOutcome added = AddMachine(desk, Edit1->text());
    if (added == AddOutcome::Duplicate) Edit1->setFocus();
    LoadMachineList();
    // The name stays, selected, so the next one typed replaces it.
    if (added == AddOutcome::Added && Edit1->hasFocus()) Edit1->selectAll();
}

void Tadduser::FlatButton2Click() {
    QListWidgetItem* header = FlatListBox1->item(0);
    if (header && header->isSelected()) return;
    const int n = FlatListBox1->count() - 1;
    for (int i = 1; i <= n; ++i) {
        QListWidgetItem* entry = FlatListBox1->item(i);
        if (!entry || !entry->isSelected()) continue;
        const QString name = entry->text();
        if (!desk.prompts.confirm(QStringLiteral("你真的要删除吗?"))) continue;
        // A machine in session takes an unsettled bill with it: the owner's decision.
        bool running = false;
        if (SignInOn(desk)) {
            const std::optional<QStringList> inSession = MachineNamesByState(desk, 1);
            if (!inSession) continue;
            running = inSession->contains(name, Qt::CaseInsensitive);
        }
        const OwnerApproval approval(desk, QStringLiteral("删除上机中的机器 %1").arg(name),
                                     running);
        if (running && !approval) continue;
        DeleteMachine(desk, name);
        LoadMachineList();
    }
}

void Tadduser::FlatButton3Click() {
    desk.DataModule1.ADOQuery2->Close();
    close();
}

void Tadduser::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_sized) return;
    m_sized = true;
    FitOuterSize(this, OuterSize, true);
}

void Tadduser::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_box->setGeometry(rect());  // the group box fills the dialog
}

void Tadduser::closeEvent(QCloseEvent* event) {
    // FormClose: the grid shows the list's changes only now.
    QWidget::closeEvent(event);
    desk.GuardAnyway([this] { desk.RefreshSessionGrid(); });
}
