#pragma once

#include <QDialog>
#include <QPixmap>

class QCheckBox;
class QPaintEvent;
class QPushButton;
class QToolButton;

// What the user picked in the Getting Started dialog; None when it was closed
// without a button.
enum class StartChoice { None, TextMail, HtmlMail, OpenFile, Import, Exit };

// The Getting Started dialog shown after the start: three picture buttons
// (Text Mail, HTML Mail, Open File), a hidden Import button, "Display Next
// Time" and "Exit". Each button stores its choice and accepts.
class TPVStartShortcut : public QDialog {
    Q_OBJECT

public:
    explicit TPVStartShortcut(QWidget* owner);

    StartChoice choice() const;
    // Whether "Display Next Time" is ticked; after the dialog has closed, the
    // state it closed with.
    bool displayNextTime() const;
    // Text Mail, HTML Mail, Open File and Import start disabled, so that the
    // main window can enable only the choices it can carry out. Exit stays enabled.
    void setChoiceEnabled(StartChoice which, bool enabled);

    void btnTextMailClick();
    void btnHtmlMailClick();
    void btnOpenFileClick();
    void btnImportClick();
    void btnExitClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void done(int result) override;

private:
    void choose(StartChoice which);
    QToolButton* button(StartChoice which) const;

    QPixmap background;
    QToolButton* btnTextMail;
    QToolButton* btnHtmlMail;
    QToolButton* btnOpenFile;
    QToolButton* btnImport;
    QCheckBox* chkDisplayNextTime;
    QPushButton* btnExit;
    StartChoice chosen = StartChoice::None;
};
