// The dialog on Qt's offscreen platform: control states, the hint line, Open's messages, drops,
// runs with their progress display, pause, abort with restore, the in-place warning, closing
// during a run, and the settings file.
#include <QtTest/QtTest>
#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/gui/CleanerDlg.h"
#include "common/FaultyFileSystem.h"
#include "common/IfoBuilder.h"
#include "common/StreamBuilder.h"
#include "common/TempDir.h"
#include "engine/VobIo.h"
#include "engine/map/MapSvg.h"
#include "support/Paths.h"
#include "support/Sinks.h"

using namespace dorvex;
using namespace dorvex::gui;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Holds reads of VOB data while set, so that a run stays in its pass until the test lets go.
std::atomic<bool> g_HoldReads{false};
std::atomic<bool> g_ReadHeld{false};

}  // namespace

class DialogTest : public QObject {
    Q_OBJECT

  private:
    testkit::TempDir* m_Dir = nullptr;
    testkit::FaultyFileSystem m_Files;
    QStringList m_Messages;
    QStringList m_Questions;
    bool m_Answer = true;

    // A title set of two cells, one blank pack, its IFO and VIDEO_TS.IFO.
    std::string MakeTitleSet() {
        const std::string folder = m_Dir->Path();
        testkit::StreamWriter w(folder, 1, 100);
        w.AddVobu(1, 1, 20);
        w.AddBlank(1);
        w.AddVobu(1, 2, 20);
        w.Finish();
        testkit::VtsSpec vts;
        vts.titlePgcs = {{testkit::Cell(1, 1, 0, 0, 21), testkit::Cell(1, 2, 22, 22, 42)}};
        vts.titleCAdt = testkit::CAdtFromPgcs(vts.titlePgcs);
        vts.titleAdmap = {0, 22};
        testkit::WriteIfoPair(folder + "/VTS_01_0.IFO", testkit::BuildVtsIfo(vts));
        testkit::VmgSpec vmg;
        vmg.titles = {{1, 1, 0}};
        testkit::WriteIfoPair(folder + "/VIDEO_TS.IFO", testkit::BuildVmgIfo(vmg));
        return folder + "/VTS_01_1.VOB";
    }

    void Prepare(CCleanerDlg& dlg) {
        dlg.m_Prompts.message = [this](const QString& t) { m_Messages << t; };
        dlg.m_Prompts.okCancel = [this](const QString& t) {
            m_Questions << t;
            return m_Answer;
        };
        dlg.m_Prompts.yesNo = [this](const QString& t) {
            m_Questions << t;
            return m_Answer;
        };
        dlg.m_Prompts.beep = [] {};
        dlg.m_Launch.m_Options.m_LogPath = m_Dir->Path() + "/Dorvex.log";
    }

    static void WaitForRunEnd(CCleanerDlg& dlg) {
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.WorkerRunning(), 20000);
        QTest::qWait(50);  // the worker's last control changes are queued to this thread
    }

  private slots:
    void init() {
        m_Dir = new testkit::TempDir();
        qputenv("APPDATA", QByteArray::fromStdString(m_Dir->Path()));
        m_Messages.clear();
        m_Questions.clear();
        m_Answer = true;
        g_HoldReads = false;
        // The worker's reads are held; the dialog's own (the checks before a run) go on.
        m_Files.SetRule(
            [dialogThread = std::this_thread::get_id()](FileOp op, const std::string&, int64_t) {
                if (op == FileOp::Read && std::this_thread::get_id() != dialogThread) {
                    while (g_HoldReads.load()) {
                        g_ReadHeld = true;
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    }
                }
                return true;
            });
    }
    void cleanup() {
        g_HoldReads = false;
        m_Files.SetRule(nullptr);
        delete m_Dir;
    }

    void initialStateAndHints() {
        CCleanerDlg dlg(m_Files);
        Prepare(dlg);
        dlg.OnInitDialog();
        QCOMPARE(dlg.windowTitle(), QString("Dorvex -- 1.4"));
        QCOMPARE(dlg.Button(1001)->text(), QString("Cleanup!"));
        QVERIFY(!dlg.Button(1001)->isEnabled());
        QVERIFY(!dlg.Button(1009)->isHidden());
        QVERIFY(!dlg.Button(1009)->isEnabled());
        QVERIFY(dlg.Button(1007)->isHidden());
        QVERIFY(!dlg.Button(1005)->isEnabled() && !dlg.Button(1006)->isEnabled());
        QVERIFY(dlg.CheckBox(1000)->isEnabled() && dlg.CheckBox(1008)->isEnabled());
        QCOMPARE(dlg.Line(1004)->text(), QString("To start, drag/drop a problematic VOB file"));
        QCOMPARE(dlg.Progress()->value(), 0);
        QCOMPARE(dlg.Button(1001)->toolTip(),
                 QString("Start cleaning the VOB file you dragged/dropped"));
        QVERIFY(dlg.CheckBox(1000)->toolTip().contains("suffing packs"));
        // Interactive defaults without a settings file.
        QVERIFY(dlg.CheckBox(1000)->isChecked());
        QVERIFY(dlg.CheckBox(1010)->isChecked());
        QVERIFY(!dlg.CheckBox(1008)->isChecked());

        CCleanerDlg commandLine;
        Prepare(commandLine);
        commandLine.m_Launch.m_CommandLine = true;
        commandLine.OnInitDialog();
        QCOMPARE(commandLine.Line(1004)->text(), QString("To start, press Cleanup"));
        CCleanerDlg startNow;
        Prepare(startNow);
        startNow.m_Launch.m_CommandLine = true;
        startNow.m_Launch.m_StartNow = true;
        startNow.OnInitDialog();
        QCOMPARE(startNow.Line(1004)->text(),
                 QString("To start, drag/drop a problematic VOB file"));
    }

    void openMessagesAndDrops() {
        const std::string vob = MakeTitleSet();
        CCleanerDlg dlg(m_Files);
        Prepare(dlg);
        dlg.OnInitDialog();
        const QString folder = QString::fromStdString(m_Dir->Path());
        dlg.DropPaths({folder + "/notavob.VOB"});
        dlg.DropPaths({folder + "/VTS_01_0.IFO"});
        QCOMPARE(m_Messages, QStringList({"Dorvex can only process title vobs (VTS_xx_[1-10].VOB)",
                                          "Please, drag/drop a VOB file"}));
        QVERIFY(!dlg.Button(1001)->isEnabled());

        m_Messages.clear();
        dlg.DropPaths(
            {QString::fromStdString(vob), folder + "/bad.VOB", QString::fromStdString(vob)});
        QCOMPARE(m_Messages.size(), 1);
        QCOMPARE(dlg.windowTitle(), QString("Ready to process VTS_01_1"));
        for (int id : {1001, 1009, 1005, 1006}) {
            QVERIFY(dlg.Button(id)->isEnabled());
        }

        CCleanerDlg commandLine;
        Prepare(commandLine);
        commandLine.m_Launch.m_CommandLine = true;
        commandLine.m_Launch.m_HasFileArg = true;
        commandLine.m_Launch.m_FileArg = m_Dir->Path() + "/VTS_01_7.VOB";
        m_Messages.clear();
        QCOMPARE(commandLine.RunModal(), 1);
        QCOMPARE(m_Messages, QStringList({"Couldn't open input file, exiting"}));
    }

    // The file chooser from a click on the status area and from Ctrl+O, answered by the test;
    // a dropped folder takes its lowest title set.
    void openVobChooserAndFolderDrops() {
        const std::string vob = MakeTitleSet();
        const QString folder = QString::fromStdString(m_Dir->Path());
        CCleanerDlg dlg(m_Files);
        Prepare(dlg);
        QStringList asked;
        QString answer;
        dlg.m_Prompts.chooseFile = [&](const QString& from) {
            asked << from;
            return answer;
        };
        dlg.OnInitDialog();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));

        QTest::mouseClick(dlg.Line(1004), Qt::LeftButton);  // cancelled: nothing changes
        QCOMPARE(asked, QStringList({""}));
        QVERIFY(!dlg.Button(1001)->isEnabled());
        answer = QString::fromStdString(vob);
        QTest::mouseClick(dlg.Line(1003), Qt::LeftButton);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(dlg.windowTitle(), QString("Ready to process VTS_01_1"));
        QVERIFY(dlg.Button(1001)->isEnabled());
        QCOMPARE(dlg.Line(1004)->text(), QString("To start, drag/drop a problematic VOB file"));

        // Ctrl+O starts where the current VOB is; a run in progress is never interrupted by it.
        dlg.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QTest::keyClick(&dlg, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(asked.size(), 3);
        QCOMPARE(asked.back(), folder + "/");
        dlg.m_Engine.m_Running = 1;
        QTest::keyClick(&dlg, Qt::Key_O, Qt::ControlModifier);
        QTest::mouseClick(dlg.Line(1004), Qt::LeftButton);
        QCOMPARE(asked.size(), 3);
        dlg.m_Engine.m_Running = 0;
        QVERIFY(m_Messages.isEmpty());

        // A VIDEO_TS folder, and a disc folder holding one, open the lowest VTS_xx_1.VOB.
        const std::string disc = m_Dir->Path() + "/disc";
        const std::string videoTs = disc + "/VIDEO_TS";
        QVERIFY(QDir().mkpath(QString::fromStdString(videoTs)));
        for (const char* name : {"VTS_03_1.VOB", "VTS_02_0.VOB", "VTS_02_1.VOB"}) {
            QVERIFY(QFile::copy(QString::fromStdString(vob),
                                QString::fromStdString(videoTs + "/" + name)));
        }
        dlg.DropPaths({QString::fromStdString(videoTs)});
        QCOMPARE(dlg.windowTitle(), QString("Ready to process VTS_02_1"));
        dlg.DropPaths({folder});
        QCOMPARE(dlg.windowTitle(), QString("Ready to process VTS_01_1"));
        dlg.DropPaths({QString::fromStdString(disc)});
        QCOMPARE(dlg.windowTitle(), QString("Ready to process VTS_02_1"));
        QCOMPARE(dlg.m_Engine.VobPathSnapshot(), videoTs + "/VTS_02_1.VOB");
        QVERIFY(m_Messages.isEmpty());
        // A folder without a VOB is refused as any other drop that is not a VOB.
        QVERIFY(QDir().mkpath(QString::fromStdString(disc + "/AUDIO_TS")));
        dlg.DropPaths({QString::fromStdString(disc + "/AUDIO_TS")});
        QCOMPARE(m_Messages.size(), 1);
        QCOMPARE(dlg.windowTitle(), QString("Ready to process VTS_02_1"));
        dlg.close();
    }

    void timerShowsProgressAndPhases() {
        const std::string vob = MakeTitleSet();
        CCleanerDlg dlg(m_Files);
        Prepare(dlg);
        dlg.OnInitDialog();
        QCOMPARE(dlg.m_Engine.Open(vob), 0);
        dlg.m_Engine.m_Phase = PhaseVobPass;
        dlg.m_Engine.m_TotalSectors = 2000000;
        dlg.m_Engine.m_ReadTotal = 1000000;
        dlg.m_Engine.m_ReadInFile = 50;
        dlg.m_Engine.m_FileSectors = 100;
        dlg.OnTimer();
        QCOMPARE(dlg.Line(1003)->text(), QString("49% Processed (20.00 MB/s) -- 1:37 secs to go"));
        QCOMPARE(dlg.windowTitle(), QString("Processing VTS_01_1"));
        QCOMPARE(dlg.Progress()->value(), 49);
        StatusText::Set("Skipping blank pack at LBA 7");
        dlg.m_Engine.m_Phase = PhaseIfoWriting;
        dlg.OnTimer();
        QCOMPARE(dlg.Line(1003)->text(), QString("Writing IFOs"));
        QCOMPARE(dlg.Line(1004)->text(), QString("Skipping blank pack at LBA 7"));
    }

    void fullRunFromBackupThenRestoreAndDelete() {
        const std::string vob = MakeTitleSet();
        const auto original = testkit::ReadBytes(vob);
        CCleanerDlg dlg(m_Files);
        Prepare(dlg);
        dlg.OnInitDialog();
        QCOMPARE(dlg.m_Engine.Open(vob), 0);
        g_HoldReads = true;
        dlg.OnCleanup();
        QTRY_VERIFY(g_ReadHeld.load());
        QTest::qWait(50);
        // Running: the abort button, pause shown, everything else locked.
        QCOMPARE(dlg.Button(1001)->text(), QString("Abort"));
        QVERIFY(!dlg.Button(1007)->isHidden());
        QVERIFY(dlg.Button(1009)->isHidden());
        QVERIFY(!dlg.CheckBox(1000)->isEnabled() && !dlg.Button(1005)->isEnabled());
        QVERIFY(!dlg.acceptDrops());
        dlg.OnPause();
        QCOMPARE(dlg.Button(1007)->text(), QString("Continue"));
        QVERIFY(dlg.m_Engine.m_Pause.load());
        dlg.OnPause();
        QCOMPARE(dlg.Button(1007)->text(), QString("Pause"));
        g_HoldReads = false;
        WaitForRunEnd(dlg);

        QCOMPARE(dlg.Button(1001)->text(), QString("Cleanup"));
        QCOMPARE(dlg.windowTitle(), QString("Done processing VTS_01_1"));
        QVERIFY(dlg.Button(1007)->isHidden());
        QVERIFY(!dlg.Button(1009)->isHidden());
        QVERIFY(dlg.CheckBox(1000)->isEnabled() && dlg.Button(1005)->isEnabled());
        QVERIFY(dlg.acceptDrops());
        QCOMPARE(dlg.m_Launch.m_Result, 0);
        QVERIFY(testkit::ReadBytes(vob) != original);  // the blank pack is gone
        const std::string log = ReadText(m_Dir->Path() + "/Dorvex.log");
        QVERIFY(log.rfind("Starting Processing at ", 0) == 0);
        QVERIFY(log.find("End Processing at ") != std::string::npos);
        QVERIFY(log.back() != '\n');

        dlg.OnRestoreBackup();
        QCOMPARE(m_Questions.last(),
                 QString("This will restore your backup and undo the last procesing! Proceed?"));
        QVERIFY(testkit::ReadBytes(vob) == original);
        dlg.OnDeleteBackup();
        QCOMPARE(m_Questions.last(), QString("This will delete all backup files! Proceed?"));
        QVERIFY(!FileExists(m_Dir->Path() + "/DorvexBackup"));
    }

    void abortFromBackupRestores() {
        const std::string vob = MakeTitleSet();
        const auto original = testkit::ReadBytes(vob);
        CCleanerDlg dlg(m_Files);
        Prepare(dlg);
        dlg.m_Launch.m_CommandLine = true;  // the exit status is kept only then
        dlg.OnInitDialog();
        QCOMPARE(dlg.m_Engine.Open(vob), 0);
        g_HoldReads = true;
        dlg.OnCleanup();
        QTRY_VERIFY(g_ReadHeld.load());
        dlg.OnCleanup();  // Abort: from backup no question is asked
        QVERIFY(m_Questions.isEmpty());
        QVERIFY(dlg.m_Engine.m_Abort.load());
        g_HoldReads = false;
        WaitForRunEnd(dlg);
        QCOMPARE(dlg.m_Launch.m_Result, 1);
        QVERIFY(testkit::ReadBytes(vob) == original);
    }

    void inPlaceWarningOnceAndCancelledFullDvd() {
        const std::string vob = MakeTitleSet();
        CCleanerDlg dlg(m_Files);
        Prepare(dlg);
        dlg.OnInitDialog();
        QCOMPARE(dlg.m_Engine.Open(vob), 0);
        dlg.CheckBox(1008)->click();
        QCOMPARE(dlg.m_Options.m_InPlace, 1);

        m_Answer = false;
        dlg.OnFullDvd();
        QCOMPARE(m_Questions.size(), 1);
        QVERIFY(!dlg.WorkerRunning());
        QVERIFY(!dlg.m_Options.m_FullDvd);

        m_Answer = true;
        dlg.OnCleanup();
        QCOMPARE(m_Questions.size(), 2);
        WaitForRunEnd(dlg);
        dlg.OnCleanup();
        WaitForRunEnd(dlg);
        QCOMPARE(m_Questions.size(), 2);  // shown before the first in-place run only
        QVERIFY(!FileExists(m_Dir->Path() + "/DorvexBackup/VTS_01_1.VOB"));
    }

    void abortInPlaceAsksOnceSomethingChanged() {
        const std::string vob = MakeTitleSet();
        CCleanerDlg dlg(m_Files);
        Prepare(dlg);
        dlg.OnInitDialog();
        QCOMPARE(dlg.m_Engine.Open(vob), 0);
        dlg.m_Options.m_InPlace = 1;
        dlg.m_WarnInPlace = false;
        g_HoldReads = true;
        dlg.OnCleanup();
        QTRY_VERIFY(g_ReadHeld.load());
        dlg.m_Engine.m_PacksRemoved = 1;  // as if the pass had removed a pack already
        m_Answer = false;
        dlg.OnCleanup();
        QCOMPARE(m_Questions.size(), 1);
        QVERIFY(m_Questions[0].startsWith("Warning: you're about to abort in-place processing."));
        QVERIFY(!dlg.m_Engine.m_Abort.load());
        QVERIFY(!dlg.m_Engine.m_Pause.load());
        g_HoldReads = false;
        WaitForRunEnd(dlg);
        QCOMPARE(dlg.Button(1001)->text(), QString("Cleanup"));
    }

    void closingDuringARunAbortsRestoresAndSavesSettings() {
        const std::string vob = MakeTitleSet();
        const auto original = testkit::ReadBytes(vob);
        std::ofstream(m_Dir->Path() + "/dorvex.ini")
            << "[dorvex]\nRemoveUnrefed=0\nBackupAbove=0\n";
        auto* dlg = new CCleanerDlg;
        Prepare(*dlg);
        dlg->OnInitDialog();
        QVERIFY(!dlg->CheckBox(1000)->isChecked());  // read from the settings file
        QCOMPARE(dlg->m_Engine.Open(vob), 0);
        g_HoldReads = true;
        dlg->OnCleanup();
        QTRY_VERIFY(g_ReadHeld.load());
        std::thread release([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            g_HoldReads = false;
        });
        dlg->show();
        dlg->close();
        release.join();
        dlg->FinishWorker();
        QVERIFY(!dlg->isVisible());
        // The worker left the controls alone: no "after a run" state while closing.
        QVERIFY(dlg->Button(1001)->text() != QString("Cleanup"));
        QVERIFY(testkit::ReadBytes(vob) == original);
        const std::string ini = ReadText(m_Dir->Path() + "/dorvex.ini");
        for (const char* key : {"MainWindowPos", "RemoveUnrefed", "RemapVOBIDs", "InPlaceProcess",
                                "BackupAbove", "FixPGCLBAs"}) {
            QVERIFY2(ini.find(key) != std::string::npos, key);
        }
        delete dlg;
    }

    void commandLineModeWritesNoSettings() {
        std::ofstream(m_Dir->Path() + "/dorvex.ini") << "[dorvex]\nRemoveUnrefed=0\nFixPGCLBAs=0\n";
        CCleanerDlg dlg(m_Files);
        Prepare(dlg);
        dlg.m_Launch.m_CommandLine = true;
        dlg.m_Launch.m_Options.m_RemoveUnrefed = 1;  // -u
        dlg.OnInitDialog();
        QVERIFY(dlg.CheckBox(1000)->isChecked());
        QVERIFY(!dlg.CheckBox(1010)->isChecked());  // still read in command-line mode
        dlg.close();
        QCOMPARE(ReadText(m_Dir->Path() + "/dorvex.ini"),
                 std::string("[dorvex]\nRemoveUnrefed=0\nFixPGCLBAs=0\n"));
    }

    void workerAlertIsShownOnTheDialogThread() {
        const std::string vob = MakeTitleSet();
        CCleanerDlg dlg(m_Files);
        Prepare(dlg);
        QThread* dialogThread = dlg.thread();
        bool onDialogThread = false;
        dlg.m_Prompts.message = [&](const QString& t) {
            onDialogThread = QThread::currentThread() == dialogThread;
            m_Messages << t;
        };
        dlg.OnInitDialog();
        QCOMPARE(dlg.m_Engine.Open(vob), 0);
        m_Files.SetRule([](FileOp op, const std::string&, int64_t) { return op != FileOp::Write; });
        dlg.OnCleanup();
        WaitForRunEnd(dlg);
        QCOMPARE(m_Messages.size(), 1);
        QVERIFY(m_Messages[0].startsWith("Couldn't write "));
        QVERIFY(onDialogThread);
    }

    // The Map window before a run (a plan with the dialog's options, nothing changed) and after
    // it (the run's own record): the same stream, the same blank pack removed, the same sizes;
    // drawn with the map's colours, and saved beside the test.
    void mapWindowBeforeAndAfterARun() {
        const std::string vob = MakeTitleSet();
        const auto original = testkit::ReadBytes(vob);
        CCleanerDlg dlg(m_Files);
        Prepare(dlg);
        dlg.OnInitDialog();
        QCOMPARE(dlg.m_Engine.Open(vob), 0);
        dlg.CheckBox(1000)->setChecked(true);
        for (const char* picture : {"map-before-run.png", "map-after-run.png"}) {
            dlg.OnMap();
            CMapWindow* window = dlg.MapWindow();
            QVERIFY(window != nullptr && window->isVisible());
            QCOMPARE(window->Maps().size(), size_t{1});
            QCOMPARE(window->Maps()[0].domains.size(), size_t{1});
            const map::DomainMap& titles = window->Maps()[0].domains[0];
            QCOMPARE(titles.name, std::string("VTS_01 titles"));
            QCOMPARE(titles.sectors, int64_t{43});
            QCOMPARE(titles.cells.size(), size_t{2});
            QCOMPARE(map::TotalSectors(titles.blank), int64_t{1});
            QCOMPARE(map::TotalSectors(titles.removed), int64_t{1});
            QCOMPARE(titles.sectorsAfter, int64_t{42});
            QTest::qWait(100);
            const QImage image = window->grab().toImage();
            QVERIFY(image.save(QString(DORVEX_PICTURES_DIR "/") + picture));
            int64_t played = 0;
            int64_t removed = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QColor pixel = image.pixelColor(x, y);
                    played += pixel == QColor(map::colour::kTitles) ? 1 : 0;
                    removed += pixel == QColor(map::colour::kRemoved) ? 1 : 0;
                }
            }
            QVERIFY2(played > 2 * 900 * 20, picture);  // the titles' cells, before and after
            QVERIFY2(removed > 0, picture);
            if (std::string(picture) == "map-before-run.png") {
                QVERIFY(testkit::ReadBytes(vob) == original);  // a plan changes nothing
                dlg.OnCleanup();
                WaitForRunEnd(dlg);
                QVERIFY(testkit::ReadBytes(vob) != original);
            }
        }
    }

    void screenshots() {
        // Under Xvfb with DORVEX_SCREENSHOT_DIR set, saves the idle and the running dialog.
        const QByteArray target = qgetenv("DORVEX_SCREENSHOT_DIR");
        if (target.isEmpty()) {
            QSKIP("DORVEX_SCREENSHOT_DIR not set");
        }
        const std::string vob = MakeTitleSet();
        CCleanerDlg dlg(m_Files);
        Prepare(dlg);
        dlg.OnInitDialog();
        dlg.show();
        QTest::qWait(300);
        dlg.grab().save(QString(target) + "/dialog.png");
        QCOMPARE(dlg.m_Engine.Open(vob), 0);
        g_HoldReads = true;
        dlg.OnCleanup();
        QTRY_VERIFY(g_ReadHeld.load());
        QTest::qWait(500);
        dlg.grab().save(QString(target) + "/dialog-running.png");
        g_HoldReads = false;
        WaitForRunEnd(dlg);
    }
};

QTEST_MAIN(DialogTest)
#include "DialogTest.moc"
