#include "console/TPackageEditor.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "console/TSettings.h"
#include "desk/Desk.h"
#include "desk/Messages.h"
#include "packages/Packages.h"
#include "plans/Plan.h"
#include "plans/Plans.h"
#include "record_store/Formats.h"
#include "widgets/Themed.h"

namespace {

const char* const kDayKeys[kSellDayTypes] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun", "holiday"};
const char16_t* const kDayNames[kSellDayTypes] = {u"周一", u"周二", u"周三", u"周四",
                                                  u"周五", u"周六", u"周日", u"节假日"};

const QString kRefused = QStringLiteral("包时套餐没有保存，什么也没有改：%1");

QString NoPlanText() {
    return PackageText::NoPlan + QStringLiteral("（先在“价格方案与试算…”里保存一个方案）");
}

QString Yuan(qint64 fen) {
    QString text = CentsText(fen);
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text;
}

QString KindName(PackageKind kind) {
    switch (kind) {
        case PackageKind::Length: return QStringLiteral("时长");
        case PackageKind::Window: return QStringLiteral("时段");
        case PackageKind::Until: return QStringLiteral("到点结束");
    }
    return {};
}

QLineEdit* TimeEdit(const QString& text, QWidget* parent) {
    auto* edit = new QLineEdit(text, parent);
    edit->setMaxLength(5);
    edit->setPlaceholderText(QStringLiteral("时:分"));
    edit->setFixedWidth(64);
    return edit;
}

}  // namespace

TPackageEditor* TPackageEditor::Open(Desk& desk, QWidget* owner, const QString& approverId) {
    TPackageEditor* editor = nullptr;
    desk.Guard([&] {
        // Packages belong to the plan's zones: without a plan none could ever be sold.
        if (PlanZoneNames(desk).isEmpty()) {
            desk.prompts.message(QStringLiteral("不能编辑包时套餐：%1。").arg(NoPlanText()));
            return;
        }
        if (!StoredCatalogue(desk)) {
            desk.prompts.message(QStringLiteral("包时套餐无法读取：%1").arg(DeskText::DbContact));
            return;
        }
        if (packageEditor) packageEditor->deleteLater();
        packageEditor = editor = new TPackageEditor(desk, owner);
        editor->approverId = approverId;
        editor->show();
    });
    return editor;
}

TPackageEditor::TPackageEditor(Desk& deskRef, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::Dialog), desk(deskRef) {
    setObjectName(QStringLiteral("packageEditor"));
    setWindowTitle(QStringLiteral("包时套餐"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 12));
    resize(760, 680);
    auto* layout = new QVBoxLayout(this);

    auto* hint = new QLabel(
        QStringLiteral("添加、修改、删除都立即保存，记入营业记录；已售出的包时照售出时的样子用到结束。"),
        this);
    hint->setWordWrap(true);
    layout->addWidget(hint);

    PackageTable = new QTableWidget(0, 5, this);
    PackageTable->setObjectName(QStringLiteral("PackageTable"));
    PackageTable->setHorizontalHeaderLabels({QStringLiteral("名称"), QStringLiteral("种类"),
                                             QStringLiteral("时长/时段"), QStringLiteral("价格（元）"),
                                             QStringLiteral("区域")});
    PackageTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    PackageTable->setSelectionMode(QAbstractItemView::SingleSelection);
    PackageTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    PackageTable->setTabKeyNavigation(false);
    PackageTable->verticalHeader()->hide();
    PackageTable->horizontalHeader()->setStretchLastSection(true);
    PackageTable->setAccessibleName(QStringLiteral("包时套餐"));
    layout->addWidget(PackageTable, 1);

    auto* box = new QGroupBox(QStringLiteral("包时"), this);
    auto* form = new QFormLayout(box);
    NameEdit = new QLineEdit(box);
    NameEdit->setObjectName(QStringLiteral("NameEdit"));
    NameEdit->setMaxLength(32);
    form->addRow(QStringLiteral("名称(&M)："), NameEdit);

    ZoneList = new QListWidget(box);
    ZoneList->setObjectName(QStringLiteral("ZoneList"));
    ZoneList->setMaximumHeight(72);
    // Only the tick chooses a zone: a highlighted row looked chosen when it was not.
    ZoneList->setSelectionMode(QAbstractItemView::NoSelection);
    ZoneList->setToolTip(QStringLiteral("在哪些区域的机器上可以卖（空格键勾选）"));
    form->addRow(QStringLiteral("区域(&Z)："), ZoneList);

    auto* kindRow = new QHBoxLayout;
    KindBox = new QComboBox(box);
    KindBox->setObjectName(QStringLiteral("KindBox"));
    KindBox->addItems({QStringLiteral("时长（如3小时）"), QStringLiteral("时段（如22:00–08:00）"),
                       QStringLiteral("到点结束（如到18:00）")});
    kindRow->addWidget(KindBox);
    KindPages = new QStackedWidget(box);
    auto* lengthPage = new QWidget(KindPages);
    auto* lengthRow = new QHBoxLayout(lengthPage);
    lengthRow->setContentsMargins(0, 0, 0, 0);
    HoursBox = new QSpinBox(lengthPage);
    HoursBox->setRange(0, 168);
    HoursBox->setSuffix(QStringLiteral(" 小时"));
    HoursBox->setAccessibleName(QStringLiteral("时长的小时"));
    MinutesBox = new QSpinBox(lengthPage);
    MinutesBox->setRange(0, 59);
    MinutesBox->setSuffix(QStringLiteral(" 分钟"));
    MinutesBox->setAccessibleName(QStringLiteral("时长的分钟"));
    lengthRow->addWidget(HoursBox);
    lengthRow->addWidget(MinutesBox);
    lengthRow->addWidget(new QLabel(QStringLiteral("从售出的那一秒算起"), lengthPage));
    lengthRow->addStretch();
    auto* windowPage = new QWidget(KindPages);
    auto* windowRow = new QHBoxLayout(windowPage);
    windowRow->setContentsMargins(0, 0, 0, 0);
    WindowFromEdit = TimeEdit(QStringLiteral("22:00"), windowPage);
    WindowFromEdit->setAccessibleName(QStringLiteral("时段开始"));
    WindowToEdit = TimeEdit(QStringLiteral("08:00"), windowPage);
    WindowToEdit->setAccessibleName(QStringLiteral("时段结束"));
    windowRow->addWidget(new QLabel(QStringLiteral("从"), windowPage));
    windowRow->addWidget(WindowFromEdit);
    windowRow->addWidget(new QLabel(QStringLiteral("到"), windowPage));
    windowRow->addWidget(WindowToEdit);
    windowRow->addWidget(new QLabel(QStringLiteral("（可跨零点）"), windowPage));
    windowRow->addStretch();
    auto* untilPage = new QWidget(KindPages);
    auto* untilRow = new QHBoxLayout(untilPage);
    untilRow->setContentsMargins(0, 0, 0, 0);
    UntilEdit = TimeEdit(QStringLiteral("18:00"), untilPage);
    UntilEdit->setAccessibleName(QStringLiteral("结束时间"));
    untilRow->addWidget(new QLabel(QStringLiteral("到"), untilPage));
    untilRow->addWidget(UntilEdit);
    untilRow->addWidget(new QLabel(QStringLiteral("结束（售出后的第一个）"), untilPage));
    untilRow->addStretch();
    KindPages->addWidget(lengthPage);
    KindPages->addWidget(windowPage);
    KindPages->addWidget(untilPage);
    kindRow->addWidget(KindPages, 1);
    form->addRow(QStringLiteral("种类(&K)："), kindRow);
    qobject_cast<QLabel*>(form->labelForField(kindRow))->setBuddy(KindBox);

    PriceEdit = new QLineEdit(box);
    PriceEdit->setObjectName(QStringLiteral("PriceEdit"));
    PriceEdit->setPlaceholderText(QStringLiteral("例如 10 或 12.5"));
    PriceEdit->setMaximumWidth(120);
    form->addRow(QStringLiteral("价格(&P)（元）："), PriceEdit);

    auto* daysRow = new QHBoxLayout;
    for (int k = 0; k < kSellDayTypes; ++k) {
        DayBoxes[size_t(k)] = new QCheckBox(QString::fromUtf16(kDayNames[k]), box);
        daysRow->addWidget(DayBoxes[size_t(k)]);
    }
    daysRow->addStretch();
    form->addRow(QStringLiteral("出售日子："), daysRow);

    auto* sellRow = new QHBoxLayout;
    SellFromEdit = TimeEdit(QStringLiteral("00:00"), box);
    SellFromEdit->setAccessibleName(QStringLiteral("出售时间从"));
    SellToEdit = TimeEdit(QStringLiteral("24:00"), box);
    SellToEdit->setAccessibleName(QStringLiteral("出售时间到"));
    sellRow->addWidget(SellFromEdit);
    sellRow->addWidget(new QLabel(QStringLiteral("到"), box));
    sellRow->addWidget(SellToEdit);
    auto* sellHint = new QLabel(
        QStringLiteral("（可跨零点，24:00 为一天结束；时段和到点的包时要在结束之前停售）"), box);
    sellHint->setWordWrap(true);
    sellRow->addWidget(sellHint, 1);
    form->addRow(QStringLiteral("出售时间(&S)："), sellRow);
    qobject_cast<QLabel*>(form->labelForField(sellRow))->setBuddy(SellFromEdit);

    auto* endRow = new QHBoxLayout;
    ContinueButton = new QRadioButton(QStringLiteral("继续按时计费(&C)"), box);
    LockButton = new QRadioButton(QStringLiteral("锁定客户机(&L)"), box);
    auto* endGroup = new QButtonGroup(box);
    endGroup->addButton(ContinueButton);
    endGroup->addButton(LockButton);
    endRow->addWidget(ContinueButton);
    endRow->addWidget(LockButton);
    endRow->addStretch();
    form->addRow(QStringLiteral("到期后："), endRow);

    auto* refundRow = new QHBoxLayout;
    NoRefundButton = new QRadioButton(QStringLiteral("不退(&O)"), box);
    ProRataButton = new QRadioButton(QStringLiteral("按分钟退(&R)"), box);
    ProRataButton->setToolTip(QStringLiteral("未用的整分钟按比例退还，舍到0.1元"));
    auto* refundGroup = new QButtonGroup(box);
    refundGroup->addButton(NoRefundButton);
    refundGroup->addButton(ProRataButton);
    refundRow->addWidget(NoRefundButton);
    refundRow->addWidget(ProRataButton);
    refundRow->addWidget(new QLabel(QStringLiteral("（未用的整分钟按比例，舍到0.1元）"), box));
    refundRow->addStretch();
    form->addRow(QStringLiteral("提前下机："), refundRow);
    layout->addWidget(box);

    auto* buttons = new QHBoxLayout;
    NewButton = new FlatButton(QStringLiteral("新建(&N)"), this);
    AddButton = new FlatButton(QStringLiteral("添加(&A)"), this);
    ModifyButton = new FlatButton(QStringLiteral("修改(&U)"), this);
    DeleteButton = new FlatButton(QStringLiteral("删除(&D)"), this);
    for (QPushButton* b : {NewButton, AddButton, ModifyButton, DeleteButton}) {
        b->setMinimumWidth(80);
        buttons->addWidget(b);
    }
    buttons->addStretch();
    layout->addLayout(buttons);

    // The form's order, top to bottom, then the buttons.
    QWidget* order[] = {PackageTable,  NameEdit,       ZoneList,     KindBox,      HoursBox,
                        MinutesBox,    WindowFromEdit, WindowToEdit, UntilEdit,    PriceEdit};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    QWidget* previous = PriceEdit;
    for (QCheckBox* day : DayBoxes) {
        setTabOrder(previous, day);
        previous = day;
    }
    for (QWidget* next : std::initializer_list<QWidget*>{
             SellFromEdit, SellToEdit, ContinueButton, LockButton, NoRefundButton, ProRataButton,
             NewButton, AddButton, ModifyButton, DeleteButton}) {
        setTabOrder(previous, next);
        previous = next;
    }

    connect(KindBox, &QComboBox::currentIndexChanged, this, [this](int kind) { KindChosen(kind); });
    connect(PackageTable, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (row >= 0 && size_t(row) < m_shown.packages.size()) ShowPackage(m_shown.packages[size_t(row)]);
        ShowDefault(row >= 0);
    });
    connect(NewButton, &QPushButton::clicked, this, desk.Guarded([this] { NewClick(); }));
    connect(AddButton, &QPushButton::clicked, this,
            WithApprover(desk, approverId, [this] { AddClick(); }));
    connect(ModifyButton, &QPushButton::clicked, this,
            WithApprover(desk, approverId, [this] { ModifyClick(); }));
    connect(DeleteButton, &QPushButton::clicked, this,
            WithApprover(desk, approverId, [this] { DeleteClick(); }));
    // Return saves the form: as a change of the package chosen in the list, else as a new one.
    DialogKeys(this, [this]() -> QAbstractButton* {
        return PackageTable->currentRow() >= 0 ? ModifyButton : AddButton;
    });
    desk.Guard([this] { LoadCatalogue(); });
}

void TPackageEditor::LoadCatalogue(const QString& select) {
    const std::optional<Catalogue> stored = StoredCatalogue(desk);
    if (!stored) desk.prompts.message(QStringLiteral("包时套餐无法读取：%1").arg(DeskText::DbContact));
    m_shown = stored.value_or(Catalogue{});
    int current = -1;
    {
        const QSignalBlocker quiet(PackageTable);
        PackageTable->clearContents();
        PackageTable->setRowCount(int(m_shown.packages.size()));
        for (size_t i = 0; i < m_shown.packages.size(); ++i) {
            const Package& p = m_shown.packages[i];
            const int row = int(i);
            PackageTable->setItem(row, 0, new QTableWidgetItem(p.name));
            PackageTable->setItem(row, 1, new QTableWidgetItem(KindName(p.kind)));
            PackageTable->setItem(row, 2, new QTableWidgetItem(PackageKindText(p)));
            auto* price = new QTableWidgetItem(Yuan(p.price));
            price->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            PackageTable->setItem(row, 3, price);
            PackageTable->setItem(row, 4, new QTableWidgetItem(p.zones.join(QStringLiteral("、"))));
            if (!select.isEmpty() && p.name == select) current = row;
        }
        PackageTable->resizeColumnsToContents();
        PackageTable->horizontalHeader()->setStretchLastSection(true);
        PackageTable->setCurrentCell(current, 0);
    }
    if (current >= 0) {
        ShowPackage(m_shown.packages[size_t(current)]);
        ShowDefault(true);
    } else {
        NewClick();
    }
}

void TPackageEditor::FillZones(const QStringList& checked) {
    ZoneList->clear();
    QStringList names = PlanZoneNames(desk);
    const int known = int(names.size());
    // A zone the plan no longer has stays visible, so the owner can take it off.
    for (const QString& z : checked)
        if (!names.contains(z)) names << z;
    for (int i = 0; i < names.size(); ++i) {
        auto* item = new QListWidgetItem(
            i < known ? names[i] : QStringLiteral("%1（不在价格方案里）").arg(names[i]), ZoneList);
        item->setData(Qt::UserRole, names[i]);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(checked.contains(names[i]) ? Qt::Checked : Qt::Unchecked);
    }
    if (ZoneList->count()) ZoneList->setCurrentRow(0);
}

void TPackageEditor::KindChosen(int kind) { KindPages->setCurrentIndex(kind); }

void TPackageEditor::ShowDefault(bool chosen) {
    ModifyButton->setEnabled(chosen);
    DeleteButton->setEnabled(chosen);
    ModifyButton->setDefault(chosen);
    AddButton->setDefault(!chosen);
}

void TPackageEditor::ShowPackage(const Package& p) {
    NameEdit->setText(p.name);
    FillZones(p.zones);
    KindBox->setCurrentIndex(int(p.kind));
    HoursBox->setValue(p.kind == PackageKind::Length ? p.minutes / 60 : 3);
    MinutesBox->setValue(p.kind == PackageKind::Length ? p.minutes % 60 : 0);
    WindowFromEdit->setText(MinuteText(p.kind == PackageKind::Window ? p.from : 22 * 60));
    WindowToEdit->setText(MinuteText(p.kind == PackageKind::Window ? p.to : 8 * 60));
    UntilEdit->setText(MinuteText(p.kind == PackageKind::Until ? p.until : 18 * 60));
    PriceEdit->setText(Yuan(p.price));
    for (int k = 0; k < kSellDayTypes; ++k) DayBoxes[size_t(k)]->setChecked(p.sellDays[size_t(k)]);
    SellFromEdit->setText(MinuteText(p.sellFrom));
    SellToEdit->setText(MinuteText(p.sellTo));
    (p.atEnd == PackageEnd::Lock ? LockButton : ContinueButton)->setChecked(true);
    (p.refund == PackageRefund::ProRata ? ProRataButton : NoRefundButton)->setChecked(true);
}

void TPackageEditor::NewClick() {
    {
        const QSignalBlocker quiet(PackageTable);
        PackageTable->setCurrentCell(-1, -1);
        PackageTable->clearSelection();
    }
    ShowDefault(false);
    Package fresh;
    fresh.minutes = 180;
    fresh.sellDays.fill(true);
    const QStringList zones = PlanZoneNames(desk);
    if (zones.size() == 1) fresh.zones = zones;  // the only one there is
    ShowPackage(fresh);
    PriceEdit->clear();
    NameEdit->setFocus();
}

QJsonObject TPackageEditor::FormObject() const {
    QJsonArray zones;
    for (int i = 0; i < ZoneList->count(); ++i)
        if (ZoneList->item(i)->checkState() == Qt::Checked)
            zones.append(ZoneList->item(i)->data(Qt::UserRole).toString());
    QJsonObject o{{QStringLiteral("name"), NameEdit->text().trimmed()},
                  {QStringLiteral("zones"), zones}};
    switch (KindBox->currentIndex()) {
        case 1:
            o.insert(QStringLiteral("kind"), QStringLiteral("window"));
            o.insert(QStringLiteral("from"), WindowFromEdit->text().trimmed());
            o.insert(QStringLiteral("to"), WindowToEdit->text().trimmed());
            break;
        case 2:
            o.insert(QStringLiteral("kind"), QStringLiteral("until"));
            o.insert(QStringLiteral("until"), UntilEdit->text().trimmed());
            break;
        default:
            o.insert(QStringLiteral("kind"), QStringLiteral("length"));
            o.insert(QStringLiteral("minutes"), HoursBox->value() * 60 + MinutesBox->value());
            break;
    }
    o.insert(QStringLiteral("price"), PriceEdit->text().trimmed());
    QJsonArray days;
    for (int k = 0; k < kSellDayTypes; ++k)
        if (DayBoxes[size_t(k)]->isChecked()) days.append(QLatin1String(kDayKeys[k]));
    o.insert(QStringLiteral("sell_days"), days);
    o.insert(QStringLiteral("sell_from"), SellFromEdit->text().trimmed());
    o.insert(QStringLiteral("sell_to"), SellToEdit->text().trimmed());
    o.insert(QStringLiteral("at_end"), LockButton->isChecked() ? QStringLiteral("lock")
                                                               : QStringLiteral("continue"));
    o.insert(QStringLiteral("refund"), ProRataButton->isChecked() ? QStringLiteral("pro_rata")
                                                                  : QStringLiteral("none"));
    return o;
}

QString TPackageEditor::SelectedName() const {
    const int row = PackageTable->currentRow();
    return row >= 0 && size_t(row) < m_shown.packages.size() ? m_shown.packages[size_t(row)].name
                                                             : QString();
}

bool TPackageEditor::Save(const std::function<bool(Catalogue&, QString*)>& change,
                          const QString& done, const QString& select) {
    const QStringList zones = PlanZoneNames(desk);
    if (zones.isEmpty()) {
        desk.prompts.message(kRefused.arg(NoPlanText()));
        return false;
    }
    // The catalogue as stored now, not as this window read it: another desk may have saved
    // since, and its change must not be undone by this one.
    std::optional<Catalogue> catalogue = StoredCatalogue(desk);
    QString problem = DeskText::DbContact;
    if (!catalogue || !change(*catalogue, &problem) ||
        !SaveCatalogue(desk, *catalogue, zones, &problem)) {
        desk.prompts.message(kRefused.arg(problem));
        return false;
    }
    LoadCatalogue(select);
    desk.prompts.message(done);
    return true;
}

void TPackageEditor::AddClick() {
    QString problem;
    const std::optional<Package> added = PackageFromObject(FormObject(), &problem);
    if (!added) {
        desk.prompts.message(kRefused.arg(problem));
        return;
    }
    Save(
        [&](Catalogue& c, QString*) {
            c.packages.push_back(*added);
            return true;
        },
        QStringLiteral("已添加包时“%1”。").arg(added->name), added->name);
}

void TPackageEditor::ModifyClick() {
    const QString name = SelectedName();
    if (name.isEmpty()) {
        desk.prompts.message(QStringLiteral("请先在列表中选中一个包时。"));
        return;
    }
    QString problem;
    const std::optional<Package> changed = PackageFromObject(FormObject(), &problem);
    if (!changed) {
        desk.prompts.message(kRefused.arg(problem));
        return;
    }
    const Package* shown = m_shown.Find(name);
    if (shown && PackageToJson(*shown) == PackageToJson(*changed)) {
        desk.prompts.message(QStringLiteral("包时“%1”没有改动。").arg(name));
        return;
    }
    Save(
        [&](Catalogue& c, QString* why) {
            for (Package& p : c.packages)
                if (p.name == name) {
                    p = *changed;
                    return true;
                }
            *why = QStringLiteral("包时“%1”已不在套餐里（可能刚被别的前台删除）").arg(name);
            return false;
        },
        QStringLiteral("已修改包时“%1”。已售出的照售出时的样子用到结束。").arg(changed->name),
        changed->name);
}

void TPackageEditor::DeleteClick() {
    const QString name = SelectedName();
    if (name.isEmpty()) {
        desk.prompts.message(QStringLiteral("请先在列表中选中一个包时。"));
        return;
    }
    // A sold package keeps its own copy beside the session, so its machines go on as sold.
    const std::optional<QStringList> holding = MachinesHolding(desk, name);
    if (!holding) {
        desk.prompts.message(DeskText::DbContact);
        return;
    }
    QString question = QStringLiteral("确定删除包时“%1”吗？").arg(name);
    if (!holding->isEmpty())
        question += QStringLiteral("\n正在用它的机器（%1）不受影响，照售出时的样子用到结束、结账。")
                        .arg(holding->join(QStringLiteral("、")));
    if (!desk.prompts.confirm(question)) return;
    Save(
        [&](Catalogue& c, QString* why) {
            const auto at = std::find_if(c.packages.begin(), c.packages.end(),
                                         [&](const Package& p) { return p.name == name; });
            if (at == c.packages.end()) {
                *why = QStringLiteral("包时“%1”已不在套餐里（可能刚被别的前台删除）").arg(name);
                return false;
            }
            c.packages.erase(at);
            return true;
        },
        QStringLiteral("已删除包时“%1”。").arg(name), {});
}
