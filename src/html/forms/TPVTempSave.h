#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

// "Save As Template": asks for the name of a text template. "Save" is
// enabled while the name is not empty.
class TPVTempSave : public QDialog {
    Q_OBJECT
public:
    explicit TPVTempSave(QWidget* owner, const QString& name = QString());

    QString TemplateName() const;

    void Edit1Change(const QString& text);

private:
    QLineEdit* Edit1;
    QPushButton* btnSave;
};
