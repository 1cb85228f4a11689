#pragma once

#include <QDialog>
#include <array>
#include <string>

#include "delivery/Serverinfo.h"

class QLineEdit;
class QPushButton;
class QShowEvent;

// "Server Settings": edits the sender's address and name, the two servers,
// the user ID and the password. OK stores the edits into `texts`; Cancel
// leaves `texts` as they were given. `authType` is carried through unchanged.
class TPVVer2ServerSetupForm : public QDialog {
    Q_OBJECT

public:
    TPVVer2ServerSetupForm(QWidget* owner, const TServerTexts& texts, int authType);

    TServerTexts texts;
    int authType;

    // Fills the six edits from `texts`; runs whenever the dialog is shown.
    void FormShow();
    // Stores the six edits into `texts` and accepts. When an edit holds a
    // character that cannot be stored, says so, focuses that edit and keeps
    // the dialog open with `texts` untouched.
    void btnOKClick();
    // Closes without storing anything.
    void btnCancelClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // An edit with the name the user knows it by and the text it edits.
    struct Field {
        QLineEdit* edit;
        const char* label;
        std::string TServerTexts::*text;
    };

    QLineEdit* edtFrom;
    QLineEdit* edtName;
    QLineEdit* edtSmtp;
    QLineEdit* edtPop;
    QLineEdit* edtUserId;
    QLineEdit* edtPassword;
    QPushButton* btnOK;
    QPushButton* btnCancel;
    std::array<Field, 6> fields;  // in tab order
};
