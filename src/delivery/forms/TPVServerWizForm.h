#pragma once

#include <QDialog>
#include <array>
#include <string>

#include "delivery/Serverinfo.h"

class QLabel;
class QLineEdit;
class QPushButton;

// The first-run server wizard: asks for the server details once, with every
// edit empty. OK stores the six edits into `texts`; "Not now" rejects and
// leaves `texts` empty.
class TPVServerWizForm : public QDialog {
    Q_OBJECT

public:
    explicit TPVServerWizForm(QWidget* owner);

    TServerTexts texts;

    // Stores the six edits into `texts` and accepts. When an edit holds a
    // character that cannot be stored, says so, focuses that edit and keeps
    // the wizard open with `texts` untouched.
    void btnOKClick();

private:
    // An edit with the name the user knows it by and the text it edits.
    struct Field {
        QLineEdit* edit;
        const char* label;
        std::string TServerTexts::*text;
    };

    QLabel* lblMessage;
    QLineEdit* edtFrom;
    QLineEdit* edtName;
    QLineEdit* edtSmtp;
    QLineEdit* edtPop;
    QLineEdit* edtUserId;
    QLineEdit* edtPassword;
    QPushButton* btnOK;
    QPushButton* btnCancel;       // "Not now"
    std::array<Field, 6> fields;  // in tab order
};
