#include "addressbook/forms/TPVProgressDialog.h"

#include <QLabel>
#include <QProgressBar>

TPVProgressDialog::TPVProgressDialog(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("PVProgressDialog");
    setModal(false);
    setFixedSize(417, 73);
    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(8, 8, 401, 33);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(8, 48, 401, 16);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setTextVisible(false);
    if (owner) move(owner->geometry().center() - rect().center());
}

void TPVProgressDialog::SetRange(int minimum, int maximum) { ProgressBar1->setRange(minimum, maximum); }

void TPVProgressDialog::SetPosition(int position) {
    ProgressBar1->setValue(position);
    repaint();
}

void TPVProgressDialog::SetCaption(const QString& caption) {
    setWindowTitle(caption);
    repaint();
}

void TPVProgressDialog::SetLabel(const QString& label) {
    Label1->setText(label);
    repaint();
}
