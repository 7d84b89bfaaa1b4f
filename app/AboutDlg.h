// The about box: program icon, version, notice and credits, an OK button.
#pragma once

#include <QDialog>

namespace pelo {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

} // namespace pelo
