#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The About box: the application's picture, its name and version, and OK.
class TPVAboutForm : public QDialog {
    Q_OBJECT

public:
    explicit TPVAboutForm(QWidget* owner);

    void btnOKClick();

private:
    QLabel* imgPicture;
    QLabel* lblVersion;
    QPushButton* btnOK;
};
