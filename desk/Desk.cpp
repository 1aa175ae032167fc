#include "desk/Desk.h"

#include <QCryptographicHash>
#include <QThread>
#include <QTimer>

#include "client_channel/NMUDP.h"
#include "desk/Messages.h"
#include "desk/SendCommand.h"

Desk::Desk(TDataModule1& module, const DeskSeams& seams, QObject* parent)
    : QObject(parent),
      DataModule1(module),
      prompts(*seams.prompts),
      clock(*seams.clock),
      settings(*seams.settings),
      chooser(*seams.chooser),
      deskName(seams.deskName),
      databaseForThisStart(seams.databaseForThisStart),
      NMUDP1(new TNMUDP(*seams.resolver, this)) {
    // As the window layout loads it: the local port replaces the socket and binds it.
    NMUDP1->RemotePort = seams.remotePort;
    NMUDP1->SetLocalPort(seams.localPort);
    NMUDP1->ReportLevel = 1;
    NMUDP1->OnInvalidHost = [this](bool& handled) { NMUDP1InvalidHost(*this, handled); };
    NMUDP1->Loaded();

    Query* grid = DataModule1.ADOQuery1;
    connect(grid, &Query::opened, this, &Desk::GridOpened);
    connect(grid, &Query::closed, this, [this] {
        m_currentRow = -1;
        emit currentRowChanged(-1);
    });
    if (grid->Active()) GridOpened();

    connect(&DataModule1, &TDataModule1::committed, this, [this] {
        if (!m_pendingHead) return;
        settings.setValue(
            JournalHeadKey(),
            QStringLiteral("%1 %2").arg(m_pendingHead->first).arg(m_pendingHead->second));
        m_pendingHead.reset();
    });
    connect(&DataModule1, &TDataModule1::rolledBack, this, [this] { m_pendingHead.reset(); });

    // Another desk's change shows here within a moment; a burst of them is one refresh.
    auto* soon = new QTimer(this);
    soon->setSingleShot(true);
    soon->setInterval(250);
    connect(&DataModule1, &TDataModule1::changedElsewhere, soon, qOverload<>(&QTimer::start));
    connect(soon, &QTimer::timeout, this, [this] { Guard([this] { RefreshSessionGrid(); }); });
}

QString Desk::JournalHeadKey() const {
    // One head per database: the desk may be pointed at another file.
    const QByteArray where = DataModule1.ConnectionString().toUtf8();
    return QStringLiteral("journalHead/") +
           QString::fromLatin1(QCryptographicHash::hash(where, QCryptographicHash::Sha1).toHex());
}

std::pair<qint64, QString> Desk::JournalHead() {
    const QStringList parts = settings.value(JournalHeadKey()).split(QLatin1Char(' '));
    if (parts.size() != 2) return {0, QString()};
    return {parts[0].toLongLong(), parts[1]};
}

void Desk::NoteJournalAppend(qint64 id, const QString& hash) { m_pendingHead = {{id, hash}}; }

Desk::~Desk() {
    for (QThread* worker : m_workers) {
        worker->wait();
        delete worker;
    }
}

void Desk::MoveReminder(const QString& from, const QString& to) {
    const auto it = reminders.find(MachineNameKey(from));
    if (it == reminders.end()) return;
    const Reminder moved = *it;
    reminders.erase(it);
    reminders.insert(MachineNameKey(to), moved);
    emit remindersChanged();
}

void Desk::RunInBackground(std::function<void()> work, std::function<void()> then) {
    QThread* worker = QThread::create(std::move(work));
    m_workers << worker;
    connect(worker, &QThread::finished, this, [this, worker, then = std::move(then)] {
        m_workers.removeOne(worker);
        worker->deleteLater();
        Guard(then);
    });
    worker->start();
}

void Desk::SetCurrentRow(int row) {
    // A view reports -1 while rows are removed; that must not forget the chosen machine.
    if (row < 0 || row >= DataModule1.ADOQuery1->RecordCount() || row == m_currentRow) return;
    m_currentRow = row;
    m_currentName = CurrentRowMachine();
    emit currentRowChanged(row);
}

QString Desk::CurrentRowMachine() const {
    return DataModule1.ADOQuery1->FieldText(m_currentRow, QStringLiteral("username"));
}

void Desk::GridOpened() {
    // Keep the highlight on the machine the operator chose; a command half a minute later must
    // not go to whichever machine happens to be first.
    const Query* grid = DataModule1.ADOQuery1;
    int row =
        m_currentName.isNull() ? -1 : grid->FindRow(QStringLiteral("username"), m_currentName);
    if (row < 0) row = grid->RecordCount() > 0 ? 0 : -1;
    m_currentRow = row;
    if (row >= 0) m_currentName = CurrentRowMachine();
    emit currentRowChanged(row);
}

void Desk::SelectGridMachine() {
    // With the grid closed there is no current row: keep the last machine.
    if (DataModule1.ADOQuery1->Active()) SelectedMachine = CurrentRowMachine();
}

void Desk::CaptureSelectedMachine() { SelectGridMachine(); }

void Desk::RefreshSessionGrid() {
    Query* q = DataModule1.ADOQuery1;
    q->Close();
    q->SetSql(QString::fromLatin1(TDataModule1::GridStatement));
    if (!q->Open()) prompts.error(DeskText::GridOpenFailed);
}
