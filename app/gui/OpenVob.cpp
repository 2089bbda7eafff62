// "Open VOB...": a way to start without drag and drop, which some Wayland sessions and file
// managers do not offer. The chooser is a prompt like the message boxes, so that tests can answer
// it.
#include <QFileDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QShortcut>

#include "app/gui/CleanerDlg.h"
#include "app/gui/DialogTemplate.h"
#include "support/Paths.h"

namespace dorvex::gui {

void CCleanerDlg::InstallOpenVob() {
    m_Prompts.chooseFile = [this](const QString& folder) {
        return QFileDialog::getOpenFileName(this, "Open VOB", folder,
                                            "VOB files (*.VOB *.vob);;All files (*)");
    };
    auto* shortcut = new QShortcut(QKeySequence::Open, this);
    connect(shortcut, &QShortcut::activated, this, [this] { OnOpenVob(); });
    m_PhaseLine->installEventFilter(this);
    m_StatusLine->installEventFilter(this);
}

void CCleanerDlg::OnOpenVob() {
    if (m_Engine.m_Running.load()) {
        return;
    }
    const std::string current = m_Engine.VobPathSnapshot();
    const QString chosen =
        m_Prompts.chooseFile(QString::fromStdString(current.empty() ? "" : GetFolder(current)));
    if (!chosen.isEmpty()) {
        DropPaths({chosen});
    }
}

// A click on the status lines (unless it selected text to copy) opens the chooser.
bool CCleanerDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        auto* line = qobject_cast<QLineEdit*>(watched);
        if (line != nullptr && !line->hasSelectedText()) {
            OnOpenVob();
        }
    }
    return QDialog::eventFilter(watched, event);
}

// And so does a click on the frame around them.
void CCleanerDlg::mouseReleaseEvent(QMouseEvent* event) {
    const DialogUnits du(font());
    if (event->button() == Qt::LeftButton &&
        du.Rect(kBlackFrameDu).contains(event->position().toPoint())) {
        OnOpenVob();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

}  // namespace dorvex::gui
