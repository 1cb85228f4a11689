#include "delivery/forms/TPVVer2ServerSetupForm.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "shell/StringTable.h"
#include "shell/UiServices.h"
#include "shell/forms/QtCodec.h"

TPVVer2ServerSetupForm::TPVVer2ServerSetupForm(QWidget* owner, const TServerTexts& texts, int authType)
    : QDialog(owner), texts(texts), authType(authType) {
    setWindowTitle(QStringLiteral("Server Settings"));
    setFixedSize(409, 264);

    auto* group = new QGroupBox(QStringLiteral("Standard Settings"), this);
    auto* form = new QFormLayout(group);
    auto addEdit = [&](const char* label, const char* name, std::string TServerTexts::*text) {
        auto* edit = new QLineEdit(group);
        edit->setObjectName(QLatin1String(name));
        form->addRow(QString::fromLatin1(label), edit);
        return Field{edit, label, text};
    };
    fields = {
        addEdit("Sender's Mail Address", "edtFrom", &TServerTexts::senderAddress),
        addEdit("Sender's Name", "edtName", &TServerTexts::senderName),
        addEdit("SMTP Server", "edtSmtp", &TServerTexts::smtpServer),
        addEdit("POP3 Server", "edtPop", &TServerTexts::popServer),
        addEdit("User ID", "edtUserId", &TServerTexts::userId),
        addEdit("Password", "edtPassword", &TServerTexts::password),
    };
    edtFrom = fields[0].edit;
    edtName = fields[1].edit;
    edtSmtp = fields[2].edit;
    edtPop = fields[3].edit;
    edtUserId = fields[4].edit;
    edtPassword = fields[5].edit;
    edtPassword->setEchoMode(QLineEdit::Password);

    // The form once had a second, never shown group for per-project servers;
    // nothing filled or read it, so it is not built.

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch();
    layout->addLayout(buttons);

    connect(btnOK, &QPushButton::clicked, this, &TPVVer2ServerSetupForm::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TPVVer2ServerSetupForm::btnCancelClick);
}

void TPVVer2ServerSetupForm::showEvent(QShowEvent* event) {
    // A restore from minimised is a spontaneous show and must not undo the typing.
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

void TPVVer2ServerSetupForm::FormShow() {
    for (const Field& f : fields) f.edit->setText(FromCp932(texts.*f.text));
}

void TPVVer2ServerSetupForm::btnOKClick() {
    TServerTexts edited = texts;
    for (const Field& f : fields) {
        bool lossy = false;
        edited.*f.text = ToCp932(f.edit->text(), &lossy);
        if (lossy) {
            ShowInfoMessage(LoadStr(900), std::string("The ") + f.label +
                                              " contains characters that cannot be stored. "
                                              "Please remove them.");
            f.edit->setFocus();
            return;
        }
    }
    texts = edited;
    accept();
}

void TPVVer2ServerSetupForm::btnCancelClick() { reject(); }
