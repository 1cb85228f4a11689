#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

// The small modeless progress dialog of the address-book loaders. Every
// setter repaints at once, so progress shows without an event loop.
class TPVProgressDialog : public QDialog {
    Q_OBJECT
public:
    explicit TPVProgressDialog(QWidget* owner);

    void SetRange(int minimum, int maximum);
    void SetPosition(int position);
    void SetCaption(const QString& caption);
    void SetLabel(const QString& label);

private:
    QLabel* Label1;
    QProgressBar* ProgressBar1;
};
