// The about box: the version banner and the command-line help.
#pragma once

#include <QDialog>
#include <QIcon>
#include <string>

namespace dorvex::gui {

class CAboutDlg : public QDialog {
  public:
    CAboutDlg(const std::string& banner, const QIcon& icon, QWidget* parent = nullptr);
};

}  // namespace dorvex::gui
