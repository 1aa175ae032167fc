#include "desk/Desk.h"

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
}

Desk::~Desk() = default;

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
