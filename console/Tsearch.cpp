#include "console/Tsearch.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QStatusBar>

#include "client_channel/AddressSearch.h"
#include "desk/Desk.h"
#include "machines/Machines.h"
#include "record_store/Formats.h"
#include "widgets/Themed.h"

namespace {

constexpr int AddressRole = Qt::UserRole;
constexpr int AddedRole = Qt::UserRole + 1;

QString FoundText(int found) { return QStringLiteral("%1 台").arg(found); }

}  // namespace

Tsearch::Tsearch(Desk& desk, QWidget* owner) : QWidget(owner, Qt::Window | Qt::Dialog), desk(desk) {
    setObjectName(QStringLiteral("search"));
    setWindowTitle(QStringLiteral("搜索"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 11));
    move(225, 124);
    setFixedSize(OuterSize);  // the client area until the frame is known
    const QFont big = ThemedFont(QStringLiteral("MS Sans Serif"), 13);

    auto* range = new QGroupBox(QStringLiteral("搜索范围"), this);
    range->setObjectName(QStringLiteral("GroupBox1"));
    range->setFont(big);
    range->setGeometry(0, 8, 193, 193);
    struct Field {
        QLineEdit** edit;
        const char* name;
        const char* label;
        int width;
        const char* text;
    };
    const Field fields[] = {
        {&Edit1, "Edit1", "临听端口：", 97, "7626"},
        {&Edit2, "Edit2", " 延迟时间：", 49, "2000"},
        {&Edit3, "Edit3", "起始域：", 97, "192.168.0"},
        {&Edit4, "Edit4", "起始地址：", 33, "1"},
        {&Edit5, "Edit5", "终止地址：", 33, "255"},
    };
    const int tops[] = {24, 64, 96, 128, 160};
    for (int i = 0; i < 5; ++i) {
        auto* label = new QLabel(QString::fromUtf8(fields[i].label), range);
        label->setGeometry(8, tops[i] + 3, 72, 16);
        auto* edit = new QLineEdit(QString::fromUtf8(fields[i].text), range);
        edit->setObjectName(QString::fromLatin1(fields[i].name));
        edit->setFont(font());
        edit->setGeometry(80, tops[i], fields[i].width, 21);
        *fields[i].edit = edit;
        NameField(label, edit);
    }
    auto* ms = new QLabel(QStringLiteral("毫秒"), range);
    ms->setGeometry(80 + 49 + 4, 64 + 3, 40, 16);

    auto* results = new QLabel(QStringLiteral("搜索结果："), this);
    results->setFont(big);
    results->move(208, 8);
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(200, 24, 153, 201);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(0, 216, 177, 18);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    PercentLabel = new QLabel(QStringLiteral("0%"), this);
    PercentLabel->move(184, 224);
    PercentLabel->resize(
        QFontMetrics(PercentLabel->font()).horizontalAdvance(QStringLiteral("100%")) + 4,
        PercentLabel->sizeHint().height());  // room for "100%"

    Button1 = new QPushButton(QStringLiteral("开始搜索"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFont(big);
    Button1->setGeometry(48, 248, 75, 25);
    Button2 = new QPushButton(QStringLiteral("关闭"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setFont(big);
    Button2->setGeometry(256, 248, 75, 25);
    Button3 = new QPushButton(QStringLiteral("添加全部"), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setFont(big);
    Button3->setGeometry(152, 248, 75, 25);
    Button3->setToolTip(QStringLiteral("把搜索结果中的计算机全部加入计算机列表"));
    Button3->setEnabled(false);
    ListBox1->setToolTip(QStringLiteral("双击一台计算机，把它加入计算机列表"));
    connect(Button1, &QPushButton::clicked, this, desk.Guarded([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, &QWidget::close);
    connect(Button3, &QPushButton::clicked, this, desk.Guarded([this] { AddAllClick(); }));
    connect(ListBox1, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* entry) { this->desk.Guard([&] { AddFound(entry); }); });
    NameField(results, ListBox1);
    DialogKeys(this, Button1);

    Search = new AddressSearch(desk.resolver, this);
    connect(Search, &AddressSearch::progressed, this, [this](int done, int total) {
        const int percent = total > 0 ? done * 100 / total : 100;
        ProgressBar1->setValue(percent);
        PercentLabel->setText(QString::number(percent) + u'%');
    });
    connect(Search, &AddressSearch::found, this, [this](const QString& address) {
        auto* entry = new QListWidgetItem(address, ListBox1);
        entry->setData(AddressRole, address);
        StatusPanel2->setText(FoundText(Search->Found()));
        Button3->setEnabled(true);
    });
    connect(Search, &AddressSearch::named, this,
            [this](const QString& address, const QString& name) {
                if (QListWidgetItem* entry = Entry(address))
                    entry->setText(QStringLiteral("%1 (%2)").arg(address, name));
            });
    connect(Search, &AddressSearch::finished, this, [this](int found, bool stopped) {
        Searching(false);
        StatusPanel1->setText(stopped ? QStringLiteral("已停止搜索") : QStringLiteral("搜索完成"));
        StatusPanel2->setText(FoundText(found));
    });

    auto* status = new QStatusBar(this);
    m_status = status;
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setSizeGripEnabled(false);
    status->setGeometry(0, height() - 19, width(), 19);
    StatusPanel1 = new QLabel(QStringLiteral("准备搜索"), status);
    StatusPanel1->setFixedWidth(100);
    StatusPanel2 = new QLabel(status);
    StatusPanel2->setFixedWidth(50);
    status->addWidget(StatusPanel1);
    status->addWidget(StatusPanel2);
}

void Tsearch::Button1Click() {
    if (Search->Running()) {
        Search->Stop();
        return;
    }
    // Every field is checked before anything is sent.
    const auto fields = ParseSearchFields(Edit1->text(), Edit2->text(), Edit3->text(),
                                          Edit4->text(), Edit5->text());
    if (const QString* error = std::get_if<QString>(&fields)) {
        desk.prompts.message(*error);
        return;
    }
    ListBox1->clear();
    Button3->setEnabled(false);
    StatusPanel2->setText(FoundText(0));
    Searching(true);
    Search->Start(std::get<SearchRange>(fields));
}

void Tsearch::Searching(bool running) {
    Button1->setText(running ? QStringLiteral("停止搜索") : QStringLiteral("开始搜索"));
    if (running) StatusPanel1->setText(QStringLiteral("正在搜索"));
    for (QLineEdit* edit : {Edit1, Edit2, Edit3, Edit4, Edit5}) edit->setReadOnly(running);
}

QListWidgetItem* Tsearch::Entry(const QString& address) const {
    for (int i = 0; i < ListBox1->count(); ++i)
        if (ListBox1->item(i)->data(AddressRole).toString() == address) return ListBox1->item(i);
    return nullptr;
}

void Tsearch::AddFound(QListWidgetItem* entry) {
    if (!entry || entry->data(AddedRole).toBool()) return;
    // The address is the machine's name: commands reach it without a look-up.
    if (AddMachine(desk, entry->data(AddressRole).toString()) == AddOutcome::Added)
        MarkAdded(entry);
}

void Tsearch::MarkAdded(QListWidgetItem* entry) {
    m_added = true;
    entry->setData(AddedRole, true);
    entry->setText(entry->text() + QStringLiteral(" 已添加"));
}

void Tsearch::AddAllClick() {
    const std::optional<QStringList> names = AllMachineNames(desk);
    if (!names) return;
    QSet<QString> listed;
    for (const QString& name : *names) listed.insert(MachineNameKey(name));
    int added = 0, already = 0;
    for (int i = 0; i < ListBox1->count(); ++i) {
        QListWidgetItem* entry = ListBox1->item(i);
        if (entry->data(AddedRole).toBool()) continue;
        if (listed.contains(MachineNameKey(entry->data(AddressRole).toString()))) {
            ++already;  // one summary instead of a box for each
            continue;
        }
        const AddOutcome outcome = AddMachine(desk, entry->data(AddressRole).toString());
        if (outcome == AddOutcome::Failed) break;  // its box was shown; the rest stay as they are
        if (outcome == AddOutcome::Duplicate) {
            ++already;
            continue;
        }
        ++added;
        MarkAdded(entry);
    }
    QString summary = QStringLiteral("已添加 %1 台计算机。").arg(added);
    if (already > 0)
        summary += QStringLiteral("另有 %1 台已在计算机列表中，未重复添加。").arg(already);
    desk.prompts.message(summary);
}

void Tsearch::closeEvent(QCloseEvent* event) {
    Search->Stop();
    QWidget::closeEvent(event);
    // As the machine list does: the grid shows the new machines once the dialog is closed.
    if (m_added) {
        m_added = false;
        desk.GuardAnyway([this] { desk.RefreshSessionGrid(); });
    }
}

void Tsearch::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_sized) return;
    m_sized = true;
    FitOuterSize(this, OuterSize, true);
}

void Tsearch::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_status->setGeometry(0, height() - 19, width(), 19);  // along the bottom edge
}
