// The program's only window: drop a VOB, set the options, start, pause or abort a run, restore
// or delete the backup. The run itself happens on a worker thread; every control change the
// worker makes is carried out on the dialog's thread.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QIcon>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "app/core/BackupActions.h"
#include "app/core/CommandLine.h"
#include "app/core/Progress.h"
#include "app/core/RunSession.h"
#include "app/gui/DialogTemplate.h"
#include "app/gui/MapWindow.h"
#include "engine/VtsCleaner.h"
#include "engine/map/RunMapRecorder.h"
#include "support/IniSettings.h"

namespace dorvex::gui {

class CCleanerDlg;

// The engine as the dialog sees it: Open adds the file-name check, the buttons and the caption.
class CCleanerDlgEngine : public CVtsCleaner {
  public:
    CCleanerDlgEngine(CCleanerDlg& dialog, FileSystem& files)
        : CVtsCleaner(files), m_Dialog(dialog) {}
    int32_t Open(const std::string& path) override;

    // The run's map, recorded by its pass for the Map window; read once the worker has ended.
    void ProcessVts() override;
    void OnNewVcid(CIfoFile& ifo) override;
    void OnBlankPack(bool removed) override;
    void OnVobPassDone() override;
    map::CRunMapRecorder m_RunMap;
    std::string m_RunMapVob;  // the VOB the recorded run was started on

  private:
    CCleanerDlg& m_Dialog;
};

// How the dialog asks the user; tests put answers here instead of message boxes.
struct DialogPrompts {
    std::function<void(const QString&)> message;   // OK
    std::function<bool(const QString&)> okCancel;  // true on OK
    std::function<bool(const QString&)> yesNo;     // true on Yes
    std::function<void()> beep;
    // "Open VOB...": a VOB chosen by the user, starting in `folder`; empty when cancelled.
    std::function<QString(const QString& folder)> chooseFile;
};

class CCleanerDlg : public QDialog, private IWindowPlacement {
    Q_OBJECT

  public:
    // Runs work on `files`: the disk, unless a test hands in another.
    explicit CCleanerDlg(FileSystem& files = TheRealFileSystem(), QWidget* parent = nullptr);
    ~CCleanerDlg() override;

    // Dialog initialisation: settings, hint, caption, log path, and the command line's file.
    void OnInitDialog();
    // Initialises, runs the dialog modally unless the command line ended it already, and
    // waits for the worker. Returns the exit status of the invocation.
    int RunModal();

    void OnCleanup();
    void OnFullDvd();
    void OnPause();
    void OnTimer();
    void OnRestoreBackup();
    void OnDeleteBackup();
    void EnableControls(bool on);
    // Opens each path as a dropped file would be; refused while a run is in progress. A folder
    // (a VIDEO_TS folder, or a disc folder holding one) opens its first title set's VOB.
    void DropPaths(const QStringList& paths);
    // "Open VOB..." (Ctrl+O, the context menu, a click on the status area): the file chooser, and
    // the VOB chosen opened as a dropped one; nothing while a run is in progress.
    void OnOpenVob();
    // "Map" (the context menu): the map of the current VOB's title set in a window of its own,
    // as the last run on it left it, or else as a run with the dialog's options would (a plan,
    // read now). Nothing while a run is in progress.
    void OnMap();
    CMapWindow* MapWindow() const { return m_MapWindow; }
    // Waits until the worker has ended (serving its calls to this thread meanwhile).
    void FinishWorker();
    bool WorkerRunning() const { return m_Worker.joinable() && !m_WorkerDone.load(); }

    QPushButton* Button(int id) const;
    QCheckBox* CheckBox(int id) const;
    QLineEdit* Line(int id) const;
    QProgressBar* Progress() const { return m_Progress; }

    CCleanerDlgEngine m_Engine;
    CIniSettings m_Settings;
    LaunchFields m_Launch;  // m_CommandLine, m_StartNow, m_FileArg, m_Options, m_Result ...
    // The options of the next run: the command line's, then the check boxes and settings.
    RunOptions m_Options;
    bool m_WarnInPlace = true;
    std::atomic<bool> m_Closing{false};
    bool m_EndAfterInit = false;  // the command line's file was refused: no modal run
    ThroughputEstimator m_Speed;  // lives as long as the program's one dialog
    DialogPrompts m_Prompts;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    friend class CCleanerDlgEngine;

    // The window as its template has it: caption, icon, font and size, in dialog units.
    DialogUnits ApplyTemplate();
    void BuildControls();
    // The controls' first state and what their clicks do.
    void ConnectControls();
    // The file chooser, its shortcut and the clicks on the status area (OpenVob.cpp).
    void InstallOpenVob();
    bool StartRun();  // OnCleanup's start; false when the in-place warning was cancelled
    void RequestAbort();
    bool OnClose();
    // Restore Backup or Delete Backup of the current title set, asked first unless unattended.
    void OnBackupAction(BackupActionKind kind, const char* question);
    void ProcessThread(RunSession& session);
    void AfterRunState();
    // Runs a control change on the dialog's thread, unless a close is under way.
    void OnDialogThread(std::function<void()> change);
    void ShowAbout();
    void OpenLog();
    static void AlertMessage(char* text, int32_t level);

    // IWindowPlacement, for the "MainWindowPos" setting.
    bool GetRect(int32_t& x, int32_t& y, int32_t& width, int32_t& height) override;
    void Place(int32_t x, int32_t y, int32_t width, int32_t height, bool moveOnly) override;

    QCheckBox* m_RemoveUnrefed = nullptr;
    QCheckBox* m_InPlace = nullptr;
    QCheckBox* m_FixPgcLbas = nullptr;
    QPushButton* m_Cleanup = nullptr;
    QPushButton* m_Restore = nullptr;
    QPushButton* m_Delete = nullptr;
    QPushButton* m_Pause = nullptr;
    QPushButton* m_FullDvd = nullptr;
    QProgressBar* m_Progress = nullptr;
    QLineEdit* m_PhaseLine = nullptr;
    QLineEdit* m_StatusLine = nullptr;
    QIcon m_Icon;
    CMapWindow* m_MapWindow = nullptr;
    QTimer m_Timer;
    std::thread m_Worker;
    std::atomic<bool> m_WorkerDone{true};
    std::mutex m_RunLock;
};

}  // namespace dorvex::gui
