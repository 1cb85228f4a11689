#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QStringList>

#include "shell/AppSettings.h"
#include "shell/MailDocument.h"

class QAction;
class QGroupBox;
class QLineEdit;
class QComboBox;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QToolBar;
class QLabel;

// The main window: the compose window of one mail document for the whole
// run. It owns the document and the settings object.
class TPVMainForm : public QMainWindow {
    Q_OBJECT
public:
    // `arguments`: the command line without the program name.
    explicit TPVMainForm(const QStringList& arguments, QWidget* parent = nullptr);
    ~TPVMainForm() override;

    TAppSettings& Settings() { return settings_; }
    TMailDocument& Document() { return document_; }

    // Settings file <-> settings object and the encoding menu entries.
    void LoadSettings();
    void SaveSettings();

    // Window <-> document.
    void ShowDocumentHeader();
    void GatherDocument();

    // A second start handed over a document path.
    void OpenHandedOverDocument(const QByteArray& path);
    // A second start asked this instance to come to the front.
    void BringToFront();

    // Commands.
    void ServerSettings();
    void SetEncoding(int encode);
    void ShowAbout();
    void OpenManual();

    // Tell the user something went wrong before the window could show it
    // (an unsafe temporary folder, for one); shown at the first paint.
    void AddStartupProblem(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormFirstPaint();
    void BuildMenus();
    void BuildToolbar();
    void LoadToolbarPictures();
    void BuildComposeArea();
    void ShowFirstRunWizard();
    void ShowGettingStarted();
    void ApplyBodyFont();
    void LogOffRequested();

    QStringList arguments_;
    TAppSettings settings_;
    TMailDocument document_;
    bool firstPaint_ = true;
    bool closing_ = false;
    QStringList startupProblems_;

    QToolBar* ToolBar1 = nullptr;
    QAction* actJapanese = nullptr;
    QAction* actEnglish = nullptr;
    QAction* actServerSettings = nullptr;
    QGroupBox* grpHeader = nullptr;
    QLineEdit* edtFrom = nullptr;
    QLineEdit* edtName = nullptr;
    QComboBox* cmbRecipient = nullptr;
    QLineEdit* edtSubject = nullptr;
    QWidget* sepHeader = nullptr;
    QTabWidget* tabMailText = nullptr;
    QPlainTextEdit* memoBody = nullptr;
    QGroupBox* grpAttachments = nullptr;
    QListWidget* lstAttachments = nullptr;
    QPushButton* btnDeleteAttachment = nullptr;
    QLabel* lblStatus = nullptr;
};
