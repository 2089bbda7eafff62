#include "app/gui/CleanerDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QThread>
#include <QUrl>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "app/core/AbortSignals.h"
#include "app/core/Clock.h"
#include "app/core/DiscFolder.h"
#include "app/core/OpenCheck.h"
#include "app/gui/AboutDlg.h"
#include "app/gui/DialogTemplate.h"
#include "support/Paths.h"
#include "support/Sinks.h"

// The icon lives in a resource of this static library; the linker keeps it only when asked.
static void InitDialogResources() {
    Q_INIT_RESOURCE(dorvex);
}

namespace dorvex::gui {

namespace {

constexpr int kTimerMs = 200;
// Long enough for a tick of the timer to show each IFO phase.
constexpr int32_t kIfoPhaseShownMs = 400;
constexpr int kCloseWaitMs = 1000;

CCleanerDlg* g_pDialog = nullptr;  // the one dialog, for the alert sink

QString FileTitle(const std::string& path) {
    return QString::fromStdString(GetBaseName(path));
}

DialogPrompts MessageBoxPrompts(QWidget* parent) {
    DialogPrompts prompts;
    prompts.message = [parent](const QString& text) {
        QMessageBox::information(parent, "Dorvex", text, QMessageBox::Ok);
    };
    prompts.okCancel = [parent](const QString& text) {
        return QMessageBox::question(parent, "Dorvex", text, QMessageBox::Ok | QMessageBox::Cancel,
                                     QMessageBox::Ok) == QMessageBox::Ok;
    };
    prompts.yesNo = [parent](const QString& text) {
        return QMessageBox::warning(parent, "Dorvex", text, QMessageBox::Yes | QMessageBox::No,
                                    QMessageBox::No) == QMessageBox::Yes;
    };
    prompts.beep = [] { QApplication::beep(); };
    return prompts;
}

// A dropped folder stands for its first title set's VOB; anything else (a folder without one
// included) goes to Open as it is, which says why it cannot be used.
std::string VobOfDroppedPath(const std::string& path) {
    std::string error;
    const std::string vob =
        std::filesystem::is_directory(path) ? ResolveVob(path, false, error) : std::string();
    return vob.empty() ? path : vob;
}

}  // namespace

int32_t CCleanerDlgEngine::Open(const std::string& path) {
    auto show = [this](const std::string& text) {
        m_Dialog.m_Prompts.message(QString::fromStdString(text));
    };
    if (CheckedOpen(*this, path, m_Dialog.m_Launch.m_CommandLine, show) != 0) {
        return -1;
    }
    for (QPushButton* button :
         {m_Dialog.m_Cleanup, m_Dialog.m_FullDvd, m_Dialog.m_Restore, m_Dialog.m_Delete}) {
        button->setEnabled(true);
    }
    m_Dialog.setWindowTitle("Ready to process " + FileTitle(VobPathSnapshot()));
    return 0;
}

void CCleanerDlgEngine::ProcessVts() {
    m_RunMap.BeginPass(*this);
    CVtsCleaner::ProcessVts();
}

void CCleanerDlgEngine::OnNewVcid(CIfoFile& ifo) {
    CVtsCleaner::OnNewVcid(ifo);
    m_RunMap.OnNewVcid(*this, ifo);
}

void CCleanerDlgEngine::OnBlankPack(bool /*removed*/) {
    m_RunMap.OnBlankPack(*this);
}

void CCleanerDlgEngine::OnVobPassDone() {
    m_RunMap.EndPass(*this);
}

CCleanerDlg::CCleanerDlg(FileSystem& files, QWidget* parent)
    : QDialog(parent), m_Engine(*this, files) {
    InitDialogResources();
    m_Icon = QIcon(":/dorvex.xpm");
    m_Prompts = MessageBoxPrompts(this);
    g_pDialog = this;
    g_pfnAlert = &CCleanerDlg::AlertMessage;
    BuildControls();
    InstallOpenVob();
    connect(&m_Timer, &QTimer::timeout, this, [this] { OnTimer(); });
}

CCleanerDlg::~CCleanerDlg() {
    m_Closing = true;
    FinishWorker();
    if (g_pDialog == this) {
        g_pDialog = nullptr;
        g_pfnAlert = &LogMessage;
    }
}

DialogUnits CCleanerDlg::ApplyTemplate() {
    setWindowTitle(QString::fromStdString(m_Engine.m_Banner));
    setWindowIcon(m_Icon);
    // The template's font is 8 points; dialog units follow from its metrics.
    QFont dialogFont = font();
    dialogFont.setPointSize(8);
    setFont(dialogFont);
    const DialogUnits du(font());
    setFixedSize(du.X(kDialogWidthDu), du.Y(kDialogHeightDu));
    return du;
}

void CCleanerDlg::BuildControls() {
    const DialogUnits du = ApplyTemplate();
    auto place = [&](QWidget* w, int id) {
        w->setGeometry(du.Rect(ControlRect(id)));
        w->setObjectName(QString("ctl%1").arg(id));
        w->setToolTip(ToolTipText(id));
    };
    auto button = [&](int id, const char* text) {
        auto* b = new QPushButton(text, this);
        b->setAutoDefault(false);  // Enter goes through the close request, not a button
        place(b, id);
        return b;
    };
    auto check = [&](int id, const char* text) {
        auto* c = new QCheckBox(text, this);
        place(c, id);
        return c;
    };
    m_RemoveUnrefed = check(IdRemoveUnrefed, "Remove unref. and blank cells");
    m_Cleanup = button(IdCleanup, "Cleanup!");
    m_Progress = new QProgressBar(this);
    place(m_Progress, IdProgress);
    m_Progress->setRange(0, 100);
    m_Progress->setValue(0);
    m_Progress->setTextVisible(false);
    auto line = [&](int id) {
        auto* l = new QLineEdit(this);
        place(l, id);
        l->setReadOnly(true);
        l->setFrame(false);
        QPalette palette = l->palette();
        palette.setColor(QPalette::Text, Qt::black);
        l->setPalette(palette);
        return l;
    };
    m_PhaseLine = line(IdPhaseLine);
    m_StatusLine = line(IdStatusLine);
    m_Restore = button(IdRestoreBackup, "Restore Backup");
    auto* frame = new QFrame(this);
    frame->setGeometry(du.Rect(kBlackFrameDu));
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setStyleSheet("color: black");
    frame->lower();
    m_Delete = button(IdDeleteBackup, "Delete Backup");
    m_Pause = button(IdPause, "Pause");
    m_InPlace = check(IdInPlace, "In place (no backup!)");
    auto* icon = new QLabel(this);
    icon->setGeometry(du.Rect(kIconDu));
    icon->setPixmap(m_Icon.pixmap(32, 32));
    m_FullDvd = button(IdFullDvd, "Full DVD");
    m_FixPgcLbas = check(IdFixPgcLbas, "Fix wrong PGC LBA pointers");
    ConnectControls();
}

void CCleanerDlg::ConnectControls() {
    m_Cleanup->setEnabled(false);
    m_Restore->setEnabled(false);
    m_Delete->setEnabled(false);
    m_FullDvd->setEnabled(false);
    m_Pause->hide();

    connect(m_RemoveUnrefed, &QCheckBox::clicked, this,
            [this](bool on) { m_Options.m_RemoveUnrefed = on ? 1 : 0; });
    connect(m_FixPgcLbas, &QCheckBox::clicked, this,
            [this](bool on) { m_Options.m_FixPGCLBAs = on ? 1 : 0; });
    connect(m_InPlace, &QCheckBox::clicked, this,
            [this](bool on) { m_Options.m_InPlace = on ? 1 : 0; });
    connect(m_Cleanup, &QPushButton::clicked, this, [this] { OnCleanup(); });
    connect(m_FullDvd, &QPushButton::clicked, this, [this] { OnFullDvd(); });
    connect(m_Pause, &QPushButton::clicked, this, [this] { OnPause(); });
    connect(m_Restore, &QPushButton::clicked, this, [this] { OnRestoreBackup(); });
    connect(m_Delete, &QPushButton::clicked, this, [this] { OnDeleteBackup(); });
}

QPushButton* CCleanerDlg::Button(int id) const {
    return findChild<QPushButton*>(QString("ctl%1").arg(id));
}
QCheckBox* CCleanerDlg::CheckBox(int id) const {
    return findChild<QCheckBox*>(QString("ctl%1").arg(id));
}
QLineEdit* CCleanerDlg::Line(int id) const {
    return findChild<QLineEdit*>(QString("ctl%1").arg(id));
}

void CCleanerDlg::OnInitDialog() {
    setAcceptDrops(true);
    m_Options = m_Launch.m_Options;
    m_Options.m_IfoPauseMs = kIfoPhaseShownMs;
    // -c empties the backup once, as the command line's file is opened; runs leave it alone.
    m_Options.m_EmptyBackup = false;
    m_Settings.BindWindow(this, "MainWindowPos", true);
    if (!m_Launch.m_CommandLine) {
        m_Settings.BindInt(&m_Options.m_RemoveUnrefed, "RemoveUnrefed", 1);
        m_Settings.BindInt(&m_Options.m_RemapVOBIDs, "RemapVOBIDs", 1);
        m_Settings.BindInt(&m_Options.m_InPlace, "InPlaceProcess", 0);
    }
    m_RemoveUnrefed->setChecked(m_Options.m_RemoveUnrefed != 0);
    m_InPlace->setChecked(m_Options.m_InPlace != 0);
    m_Settings.BindInt(&m_Options.m_BackupAbove, "BackupAbove", m_Options.m_BackupAbove);
    m_Settings.BindInt(&m_Options.m_FixPGCLBAs, "FixPGCLBAs", 1);
    m_FixPgcLbas->setChecked(m_Options.m_FixPGCLBAs != 0);
    // Between runs the engine knows where the log and the backup folder are.
    m_Options.ApplyTo(m_Engine);

    m_Closing = false;
    m_WarnInPlace = true;
    m_StatusLine->setText(m_Launch.m_CommandLine && !m_Launch.m_StartNow ? kHintCommandLine
                                                                         : kHintDragDrop);
    setWindowTitle(QString::fromStdString(m_Engine.m_Banner));
    if (m_Launch.m_CommandLine && m_Launch.m_HasFileArg) {
        const bool accepted = m_Engine.Open(m_Launch.m_FileArg) == 0;
        m_Launch.m_Result = accepted ? 0 : 1;
        if (!accepted) {
            OnClose();
            m_EndAfterInit = true;
            return;
        }
        if (m_Launch.m_Options.m_EmptyBackup) {
            OnDeleteBackup();
        }
        // A run that would not start ends the unattended invocation, as a rejected file does.
        if (m_Launch.m_StartNow && !StartRun()) {
            OnClose();
            m_EndAfterInit = true;
        }
    }
}

int CCleanerDlg::RunModal() {
    OnInitDialog();
    if (!m_EndAfterInit) {
        exec();
    }
    m_Closing = true;
    FinishWorker();
    return m_Launch.m_CommandLine ? m_Launch.m_Result : 0;
}

void CCleanerDlg::EnableControls(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{m_RemoveUnrefed, m_FixPgcLbas, m_InPlace,
                                                      m_Restore, m_Delete}) {
        w->setEnabled(on);
    }
    m_FullDvd->setVisible(on);
}

void CCleanerDlg::OnCleanup() {
    if (m_Engine.m_Running.load()) {
        RequestAbort();
        return;
    }
    StartRun();
}

void CCleanerDlg::RequestAbort() {
    m_Engine.m_Pause = 1;
    const bool changedSomething =
        m_Engine.m_PacksRemoved.load() > 0 || m_Engine.m_NavRemapped.load() > 0;
    if (m_Engine.m_InPlace == 0 || !changedSomething) {
        m_Engine.m_Abort = 1;
    } else if (m_Prompts.yesNo(kQuestionAbortInPlace)) {
        m_Engine.m_Abort = 1;
    }
    m_Engine.m_Pause = 0;
}

bool CCleanerDlg::StartRun() {
    if (m_Options.m_InPlace == 1 && !m_Launch.m_CommandLine && m_WarnInPlace &&
        !m_Prompts.okCancel(kQuestionInPlace)) {
        return false;
    }
    if (m_Worker.joinable()) {
        m_Worker.join();  // the previous run's worker has ended: its button was "Cleanup"
    }
    // The two boxes are disabled once the run starts: it takes what they show now.
    m_Options.m_RemoveUnrefed = m_RemoveUnrefed->isChecked() ? 1 : 0;
    m_Options.m_FixPGCLBAs = m_FixPgcLbas->isChecked() ? 1 : 0;
    RunHooks hooks;
    if (!m_Launch.m_CommandLine) {
        hooks.cleanShortStreamAnyway = [this](const std::string& refusal) {
            return m_Prompts.okCancel(QString::fromStdString(refusal) + "\n\nClean it anyway?");
        };
    }
    auto session = std::make_shared<RunSession>(m_Engine, m_Options, std::move(hooks));
    if (const RunStart start = session->Prepare(); !start.Ready()) {
        if (!start.message.empty()) {
            m_Prompts.message(QString::fromStdString(start.message));
        }
        m_Launch.m_Result = 1;
        return false;
    }
    EnableControls(false);
    m_Engine.m_RunMap.Clear();
    m_Engine.m_RunMapVob = m_Engine.VobPathSnapshot();
    session->Begin();
    m_WorkerDone = false;
    m_Engine.m_Running = 1;
    m_Worker = std::thread([this, session] { ProcessThread(*session); });
    if (m_Options.m_InPlace == 1) {
        m_WarnInPlace = false;
    }
    return true;
}

void CCleanerDlg::OnFullDvd() {
    m_Options.m_FullDvd = true;
    if (!StartRun()) {
        m_Options.m_FullDvd = false;
    }
}

void CCleanerDlg::OnPause() {
    m_Engine.m_Pause = m_Engine.m_Pause.load() ? 0 : 1;
    m_Pause->setText(m_Engine.m_Pause.load() ? "Continue" : "Pause");
}

void CCleanerDlg::OnDialogThread(std::function<void()> change) {
    QMetaObject::invokeMethod(
        this,
        [this, change = std::move(change)] {
            if (!m_Closing.load()) {
                change();
            }
        },
        Qt::QueuedConnection);
}

void CCleanerDlg::ProcessThread(RunSession& session) {
    const bool fullDvd = session.Options().m_FullDvd;
    OnDialogThread([this] { m_Timer.start(kTimerMs); });
    {
        std::lock_guard<std::mutex> runLock(m_RunLock);
        OnDialogThread([this, fullDvd] {
            setAcceptDrops(false);
            m_Cleanup->setText("Abort");
            m_Pause->show();
            if (fullDvd) {
                setWindowTitle("Processing full DVD");
            }
        });
        // Ctrl-C in the terminal the dialog came from, or SIGTERM at logout, aborts the run as
        // its Abort button does, and a run from backup is restored before anything quits.
        ScopedAbortOnSignals abortOnSignals(m_Engine);
        session.Run();
        const bool closing = m_Closing.load();
        if (!closing) {
            OnDialogThread([this] { AfterRunState(); });
        }
        const RunOutcome outcome = session.Finish(closing);
        if (outcome.Unfinished()) {
            m_Launch.m_Result = 1;
            // What the files hold now stays on the status line once the controls are back.
            const QString state =
                QString::fromStdString(DescribeOutcome(outcome, m_Engine.m_InPlace != 0));
            OnDialogThread([this, state] { m_StatusLine->setText(state); });
        }
        if (m_Launch.m_CommandLine && m_Launch.m_StartNow) {
            QMetaObject::invokeMethod(
                this, [this] { close(); }, Qt::QueuedConnection);
        }
    }
    m_WorkerDone = true;
}

void CCleanerDlg::AfterRunState() {
    m_Options.m_FullDvd = false;
    m_Engine.m_Pause = 0;
    m_Engine.m_Running = 0;
    m_Timer.stop();
    setAcceptDrops(true);
    m_Cleanup->setText("Cleanup");
    EnableControls(true);
    setWindowTitle("Done processing " + FileTitle(m_Engine.VobPathSnapshot()));
    m_Pause->hide();
    m_Pause->setText("Pause");
    m_Progress->setValue(0);
}

void CCleanerDlg::OnTimer() {
    const int32_t phase = m_Engine.m_Phase.load();
    const int32_t readTotal = m_Engine.m_ReadTotal.load();
    const uint32_t total = m_Engine.m_TotalSectors.load();
    m_Speed.Tick(MillisecondClock(), phase, m_Engine.m_Pause.load() != 0, readTotal, total);
    m_PhaseLine->setText(QString::fromStdString(FormatPhaseLine(phase, m_Speed, readTotal, total)));
    if (phase == PhaseVobPass) {
        setWindowTitle("Processing " + FileTitle(m_Engine.VobPathSnapshot()));
        m_Progress->setValue(
            ProgressBarPosition(m_Engine.m_ReadInFile.load(), m_Engine.m_FileSectors.load()));
    }
    m_StatusLine->setText(QString::fromStdString(StatusText::Get()));
}

void CCleanerDlg::OnRestoreBackup() {
    OnBackupAction(BackupActionKind::Restore, kQuestionRestore);
}

void CCleanerDlg::OnDeleteBackup() {
    OnBackupAction(BackupActionKind::Delete, kQuestionDelete);
}

void CCleanerDlg::OnBackupAction(BackupActionKind kind, const char* question) {
    if (!m_Launch.m_CommandLine) {
        m_Prompts.beep();
        if (!m_Prompts.okCancel(question)) {
            return;
        }
    }
    m_Options.ApplyTo(m_Engine);
    // The current title set: the engine says itself what it will not restore or delete, and
    // what it could not do.
    BackupAction action(m_Engine, kind, false);
    std::string refusal;
    if (!action.Lock(refusal)) {
        m_Prompts.message(QString::fromStdString(refusal));
        return;
    }
    bool force = false;
    if (kind == BackupActionKind::Restore) {
        const BackupCheck check = action.Check();
        if (check.refused && !check.forceable) {
            if (!check.message.empty()) {
                m_Prompts.message(QString::fromStdString(check.message));
            }
            return;
        }
        // A backup its record does not vouch for is restored only when asked for twice.
        if (check.refused &&
            (m_Launch.m_CommandLine ||
             !m_Prompts.okCancel(QString::fromStdString(check.message) + kQuestionRestoreAnyway))) {
            return;
        }
        force = check.refused;
    }
    action.Perform(force);
}

bool CCleanerDlg::OnClose() {
    m_Closing = true;
    if (m_Engine.m_Running.load()) {
        RequestAbort();
        if (!m_Engine.m_Abort.load()) {
            m_Closing = false;
            return false;
        }
    }
    // Up to a second for the worker; its alerts are still answered meanwhile.
    QElapsedTimer waited;
    waited.start();
    while (WorkerRunning() && waited.elapsed() < kCloseWaitMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!m_Launch.m_CommandLine) {
        m_Settings.SaveAll();
    }
    return true;
}

void CCleanerDlg::FinishWorker() {
    while (WorkerRunning()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (m_Worker.joinable()) {
        m_Worker.join();
    }
    m_Timer.stop();
}

void CCleanerDlg::closeEvent(QCloseEvent* event) {
    if (OnClose()) {
        event->accept();
        QDialog::done(0);
    } else {
        event->ignore();
    }
}

void CCleanerDlg::reject() {
    close();
}

void CCleanerDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            close();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CCleanerDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The entries Windows puts in the system menu, which a Linux window manager does not offer.
    QMenu menu(this);
    menu.addAction("&Minimize", this, [this] { showMinimized(); });
    menu.addSeparator();
    QAction* openVob = menu.addAction("Open VOB...", this, [this] { OnOpenVob(); });
    openVob->setShortcut(QKeySequence::Open);
    openVob->setEnabled(!m_Engine.m_Running.load());
    menu.addAction("Open LOG", this, [this] { OpenLog(); });
    QAction* showMap = menu.addAction("Map", this, [this] { OnMap(); });
    showMap->setEnabled(!m_Engine.m_Running.load() && !m_Engine.VobPathSnapshot().empty());
    menu.addAction("&About Dorvex...", this, [this] { ShowAbout(); });
    menu.exec(event->globalPos());
}

void CCleanerDlg::ShowAbout() {
    CAboutDlg about(m_Engine.m_Banner, m_Icon);
    about.exec();
}

void CCleanerDlg::OpenLog() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(m_Engine.m_LogPath)));
}

void CCleanerDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (acceptDrops() && event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void CCleanerDlg::dropEvent(QDropEvent* event) {
    activateWindow();
    raise();
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            paths << url.toLocalFile();
        }
    }
    DropPaths(paths);
    event->acceptProposedAction();
}

void CCleanerDlg::DropPaths(const QStringList& paths) {
    if (m_Engine.m_Running.load()) {
        return;
    }
    for (const QString& path : paths) {
        m_Engine.Open(VobOfDroppedPath(path.toStdString()));
    }
}

void CCleanerDlg::AlertMessage(char* text, int32_t /*level*/) {
    CCleanerDlg* dialog = g_pDialog;
    const QString message = QString::fromUtf8(text);
    if (dialog == nullptr) {
        return;
    }
    if (QThread::currentThread() == dialog->thread()) {
        dialog->m_Prompts.message(message);
        return;
    }
    if (dialog->m_Closing.load()) {
        // The dialog is going away and no longer answers: the alert goes to standard error.
        fprintf(stderr, "%s\n", text);
        return;
    }
    // The worker waits for the user, as a message box on its own thread would make it.
    QMetaObject::invokeMethod(
        dialog, [dialog, message] { dialog->m_Prompts.message(message); },
        Qt::BlockingQueuedConnection);
}

bool CCleanerDlg::GetRect(int32_t& x, int32_t& y, int32_t& width, int32_t& height) {
    const QRect r = frameGeometry();
    x = r.x();
    y = r.y();
    width = r.width();
    height = r.height();
    return true;
}

void CCleanerDlg::Place(int32_t x, int32_t y, int32_t width, int32_t height, bool moveOnly) {
    if (moveOnly) {
        move(x, y);
    } else {
        setGeometry(x, y, width, height);
    }
}

}  // namespace dorvex::gui
