#include "console/Tadduser.h"

#include <QCloseEvent>
#include <QCollator>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QScrollBar>
#include <algorithm>
#include <numeric>
#include <vector>

#include "accounts/Accounts.h"
#include "desk/Desk.h"
#include "machines/Machines.h"
#include "plans/Plans.h"
#include "widgets/Themed.h"

MachineListBox::MachineListBox(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // long names end in "…"
    verticalScrollBar()->setSingleStep(1);                 // the bar counts rows
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
int Order(int byLocale, QStringView a, QStringView b) {
    if (byLocale != 0) return byLocale;
    const int byCase = a.compare(b, Qt::CaseInsensitive);
    return byCase != 0 ? byCase : a.compare(b);
}

// The list's order, kept from the last opening of each database: the list is opened far more
// often than machines are added, and the names the table gives are compared in one go.
struct KeptRows {
    QString source;
    std::shared_ptr<const MachineListRows> rows;
};

std::shared_ptr<const MachineListRows>& LastRows(const QString& source) {
    static std::vector<KeptRows> kept;  // the most recent first
    const auto found = std::find_if(kept.begin(), kept.end(),
                                    [&](const KeptRows& k) { return k.source == source; });
    if (found != kept.end()) {
        std::rotate(kept.begin(), found, found + 1);
    } else {
        constexpr size_t kSources = 4;  // a desk has one; tests and benches open a few
        if (kept.size() == kSources) kept.pop_back();
        kept.insert(kept.begin(), KeptRows{source, {}});
    }
    return kept.front().rows;
}

// The names as read at each opening, into one buffer kept between openings: thousands of names
// read into fresh memory each time cost the system more than reading them.
PackedTexts& ReadBuffer() {
    static PackedTexts buffer;
    return buffer;
}

}  // namespace

void MachineListBox::Fill(const QString& source, const QString& header,
                          const PackedTexts& entries) {
    std::shared_ptr<const MachineListRows>& last = LastRows(source);
    if (!last || last->header != header || !(last->names == entries)) {
        auto rows = std::make_shared<MachineListRows>();
        rows->header = header;
        rows->names = entries;
        const PackedTexts& names = rows->names;
        std::vector<int>& order = rows->order;
        order.resize(size_t(names.size()));
        std::iota(order.begin(), order.end(), 0);
        const QCollator& collator = ListCollator();
        const auto before = [&](int a, int b) {
            const QStringView x = names.at(a), y = names.at(b);
            return Order(collator.compare(x, y), x, y) < 0;
        };
        // Sorted once and shown at one go. The table's own order is most often already the
        // list's (names like pc001): then one look at each neighbour is all the sorting there is.
        if (!std::is_sorted(order.begin(), order.end(), before))
            std::sort(order.begin(), order.end(), before);
        order.erase(std::unique(order.begin(), order.end(),
                                [&](int a, int b) { return names.at(a) == names.at(b); }),
                    order.end());
        last = std::move(rows);
    }
    m_rows = last;
    m_current = -1;
    if (m_selected != -1) {
        m_selected = -1;
        emit entrySelectionChanged();
    }
    UpdateScrollRange();
    viewport()->update();
}

int MachineListBox::count() const { return m_rows ? 1 + int(m_rows->order.size()) : 0; }

QString MachineListBox::text(int row) const {
    if (row < 0 || row >= count()) return {};
    if (row == 0) return m_rows->header;
    return m_rows->names.at(m_rows->order[size_t(row - 1)]).toString();
}

bool MachineListBox::isSelected(int row) const { return row >= 1 && row == m_selected; }

void MachineListBox::setSelected(int row, bool selected) {
    if (row < 1 || row >= count()) return;
    const int now = selected ? row : (m_selected == row ? -1 : m_selected);
    if (now == m_selected) return;
    m_selected = now;
    viewport()->update();
    emit entrySelectionChanged();
}

QStringList MachineListBox::selectedTexts() const {
    return m_selected == -1 ? QStringList() : QStringList{text(m_selected)};
}

// A row as an item view lays it out in this style: one line of text, left and centred.
QStyleOptionViewItem MachineListBox::ItemOption() const {
    QStyleOptionViewItem option;
    option.initFrom(this);
    option.font = font();
    option.fontMetrics = fontMetrics();
    option.features = QStyleOptionViewItem::HasDisplay;
    option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    option.textElideMode = Qt::ElideRight;
    option.viewItemPosition = QStyleOptionViewItem::OnlyOne;
    option.showDecorationSelected =
        style()->styleHint(QStyle::SH_ItemView_ShowDecorationSelected, nullptr, this);
    option.widget = this;
    return option;
}

int MachineListBox::RowHeight() const {
    if (m_rowHeight == 0) {
        QStyleOptionViewItem option = ItemOption();
        option.text = QStringLiteral("Xg");
        m_rowHeight = std::max(
            1, style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).height());
    }
    return m_rowHeight;
}

void MachineListBox::UpdateScrollRange() {
    // Scrolled a whole row at a time: the last row ends at the bottom, never cut.
    const int inSight = std::max(1, viewport()->height() / RowHeight());
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(inSight);
    bar->setRange(0, std::max(0, count() - inSight));
}

QRect MachineListBox::rowRect(int row) const {
    if (row < 0 || row >= count()) return {};
    const int y = (row - verticalScrollBar()->value()) * RowHeight();
    return QRect(0, y, viewport()->width(), RowHeight());
}

void MachineListBox::scrollToRow(int row) {
    QScrollBar* bar = verticalScrollBar();
    if (row < bar->value())
        bar->setValue(row);
    else if (row >= bar->value() + bar->pageStep())
        bar->setValue(row - bar->pageStep() + 1);
}

int MachineListBox::RowAt(const QPoint& point) const {
    if (point.y() < 0) return -1;
    const int row = verticalScrollBar()->value() + point.y() / RowHeight();
    return row < count() ? row : -1;
}

void MachineListBox::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    QStyleOptionViewItem option = ItemOption();
    option.state &= ~QStyle::State_HasFocus;
    option.palette.setCurrentColorGroup(!isEnabled()       ? QPalette::Disabled
                                        : isActiveWindow() ? QPalette::Active
                                                           : QPalette::Inactive);
    const QStyle::State plain = option.state;
    for (int row = verticalScrollBar()->value(); row < count(); ++row) {
        const QRect rect = rowRect(row);
        if (rect.top() > event->rect().bottom()) break;
        if (!rect.intersects(event->rect())) continue;
        option.rect = rect;
        option.text = text(row);
        option.state = plain;
        if (row == m_selected) option.state |= QStyle::State_Selected;
        if (row == m_current && hasFocus()) option.state |= QStyle::State_HasFocus;
        style()->drawControl(QStyle::CE_ItemViewItem, &option, &painter, this);
    }
}

void MachineListBox::Choose(int row, bool toggle) {
    if (row >= 0) m_current = row;
    // The header and the empty space below the names choose nothing.
    const int now = row < 1 ? -1 : (toggle && row == m_selected ? -1 : row);
    viewport()->update();
    if (now == m_selected) return;
    m_selected = now;
    emit entrySelectionChanged();
}

void MachineListBox::mousePressEvent(QMouseEvent* event) {
    Choose(RowAt(event->position().toPoint()), event->modifiers() & Qt::ControlModifier);
    event->accept();
}

void MachineListBox::mouseMoveEvent(QMouseEvent* event) {
    // Dragging with the button down moves the choice along, as in any list.
    if (!(event->buttons() & Qt::LeftButton)) return;
    const int row = RowAt(event->position().toPoint());
    if (row >= 1) Choose(row, false);
}

void MachineListBox::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
}

// The focus frame is drawn on the row last clicked, only while the list has the focus.
void MachineListBox::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void MachineListBox::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void MachineListBox::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        m_rowHeight = 0;
        UpdateScrollRange();
    }
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
    connect(FlatListBox1, &MachineListBox::entrySelectionChanged, this,
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
    return FlatListBox1->selectedTexts().value(0);
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
    PackedTexts& names = ReadBuffer();
    if (!AllMachineNamesInto(desk, &names)) return;  // the list keeps its entries
    FlatListBox1->Fill(desk.DataModule1.connectionName(), QString::fromUtf8(Header), names);
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
    if (FlatListBox1->isSelected(0)) return;
    const int n = FlatListBox1->count() - 1;
    for (int i = 1; i <= n; ++i) {
        if (!FlatListBox1->isSelected(i)) continue;
        const QString name = FlatListBox1->text(i);
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
