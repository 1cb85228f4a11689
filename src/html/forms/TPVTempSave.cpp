#include "html/forms/TPVTempSave.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TPVTempSave::TPVTempSave(QWidget* owner, const QString& name) : QDialog(owner) {
    setObjectName("PVTempSave");
    setWindowTitle("Save As Template");
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Template", this));
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    row->addWidget(Edit1, 1);
    layout->addLayout(row);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnSave = new QPushButton("Save", this);
    btnSave->setObjectName("btnSave");
    btnSave->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("btnCancel");
    buttons->addWidget(btnSave);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    resize(320, 100);

    Edit1->setText(name);
    btnSave->setEnabled(!name.isEmpty());
    connect(Edit1, &QLineEdit::textChanged, this, &TPVTempSave::Edit1Change);
    connect(btnSave, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString TPVTempSave::TemplateName() const { return Edit1->text(); }

void TPVTempSave::Edit1Change(const QString& text) {
    // An empty name would make a file called ".pvt": Save waits for a name.
    btnSave->setEnabled(!text.trimmed().isEmpty());
}
