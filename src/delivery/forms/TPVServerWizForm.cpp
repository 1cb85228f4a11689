#include "delivery/forms/TPVServerWizForm.h"

#include <QFontMetrics>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/StringTable.h"
#include "shell/UiServices.h"
#include "shell/forms/QtCodec.h"

TPVServerWizForm::TPVServerWizForm(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Server Settings"));
    setFixedSize(321, 248);

    lblMessage = new QLabel(Str(8000), this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setWordWrap(true);
    lblMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblMessage->setFixedHeight(2 * lblMessage->fontMetrics().lineSpacing());

    auto* form = new QFormLayout;
    auto addEdit = [&](const char* label, const char* name, std::string TServerTexts::*text) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        form->addRow(QString::fromLatin1(label), edit);
        return Field{edit, label, text};
    };
    fields = {
        addEdit("Sender's Mail Address", "edtFrom", &TServerTexts::senderAddress),
        addEdit("Sender's Name", "edtName", &TServerTexts::senderName),
        addEdit("SMTP Server", "edtSmtp", &TServerTexts::smtpServer),
        addEdit("POP Server", "edtPop", &TServerTexts::popServer),
        addEdit("User ID", "edtUserId", &TServerTexts::userId),
        addEdit("Password", "edtPassword", &TServerTexts::password),
    };
    edtFrom = fields[0].edit;
    edtName = fields[1].edit;
    edtSmtp = fields[2].edit;
    edtPop = fields[3].edit;
    edtUserId = fields[4].edit;
    edtPassword = fields[5].edit;  // shown in clear: this is where the password is first typed

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Not now"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblMessage);
    layout->addLayout(form);
    layout->addStretch();
    layout->addLayout(buttons);

    edtFrom->setFocus();

    connect(btnOK, &QPushButton::clicked, this, &TPVServerWizForm::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TPVServerWizForm::btnOKClick() {
    TServerTexts edited;
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
