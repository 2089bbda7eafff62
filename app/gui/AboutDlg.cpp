#include "app/gui/AboutDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/gui/DialogTemplate.h"

namespace dorvex::gui {

CAboutDlg::CAboutDlg(const std::string& banner, const QIcon& icon, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("About Dorvex");
    QFont dialogFont = font();
    dialogFont.setPointSize(8);
    setFont(dialogFont);
    const DialogUnits du(font());
    setFixedSize(du.X(kAboutWidthDu), du.Y(kAboutHeightDu));

    auto* ok = new QPushButton("OK", this);
    ok->setGeometry(du.Rect({180, 7, 50, 14}));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* bannerLine = new QLineEdit(QString::fromStdString(banner), this);
    bannerLine->setObjectName("ctl1006");
    bannerLine->setGeometry(du.Rect({11, 9, 129, 12}));
    bannerLine->setReadOnly(true);

    auto* first = new QLabel(AboutHelpFirstBlock(), this);
    first->setGeometry(du.Rect({8, 27, 171, 57}));
    first->setWordWrap(true);
    first->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* second = new QLabel(AboutHelpSecondBlock(), this);
    second->setGeometry(du.Rect({8, 82, 129, 52}));
    second->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* iconLabel = new QLabel(this);
    iconLabel->setGeometry(du.Rect({198, 72, 20, 20}));
    iconLabel->setPixmap(icon.pixmap(32, 32));
}

}  // namespace dorvex::gui
