#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QStringList>
#include <vector>

#include "addressbook/Database.h"
#include "delivery/Mailsendthread.h"
#include "shell/AppSettings.h"
#include "shell/MailDocument.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QToolBar;
class THtmlView;
class TPVKoumokuForm;
class TPVLogForm;
class TPVSendProgressForm;

// The main window: the compose window of one mail document for the whole
// run. It owns the document, the address book, the settings object and the
// field-select popup.
class TPVMainForm : public QMainWindow {
    Q_OBJECT
public:
    // `arguments`: the command line without the program name.
    explicit TPVMainForm(const QStringList& arguments, QWidget* parent = nullptr);
    ~TPVMainForm() override;

    TAppSettings& Settings() { return settings_; }
    TMailDocument& Document() { return document_; }
    TPVDatabase& AddressBook() { return book_; }
    TPVKoumokuForm* Popup() { return popup_; }

    // Settings file <-> settings object and the encoding menu entries.
    void LoadSettings();
    void SaveSettings();

    // Window <-> document.
    void ShowDocumentHeader();
    void GatherDocument();
    void RefreshBody();
    void UpdateStatus();
    void UpdateEditCommands(QWidget* control);

    // Inserts the placeholder of field index + 1 at the caret of the focused
    // compose control.
    void InsertMergeField(int index);

    // Attachments.
    void AddDroppedFiles(const QStringList& files);
    void DeleteSelectedAttachments();
    void DeleteAllAttachments();

    // A second start handed over a document path.
    void OpenHandedOverDocument(const QByteArray& path);
    // A second start asked this instance to come to the front.
    void BringToFront();

    // Document commands. AskSaveChanges returns whether the pending action
    // may go on.
    bool AskSaveChanges();
    void NewDocument();
    void LoadDefaultAddressBook();
    void OpenDocumentDialog();
    void OpenDocument();
    bool SaveDocument(const std::string& path);
    bool SaveDocumentAs();
    void SelectTextTemplate();
    void SaveAsTextTemplate();
    // Address-book file commands the document commands need.
    bool ReadBookFile(const std::string& name);
    void SaveAddressBook();
    const std::string& CurrentBook() const { return currentBook_; }

    // Sending: SendMail refuses without a selected record, RunSendJob hands
    // the job its copies, waits for it without blocking the window system
    // and shows the outcome.
    void SendMail();
    void RunSendJob();
    bool SendRunning() const { return sendRunning_; }
    // Whether the window takes input (it does not while a send runs).
    bool InputEnabled() const;
    int SendOutcome() const { return sendOutcome_; }
    TMailSendThread& SendJob() { return job_; }

    // Commands.
    void ServerSettings();
    void SetEncoding(int encode);
    void EditFieldNames();
    void ShowAbout();
    void OpenManual();
    void EditCommand(int command);

    // Tell the user something went wrong before the window could show it
    // (an unsafe temporary folder, for one); shown at the first paint.
    void AddStartupProblem(const QString& text);

    // The compose controls in the order the commands look for the focus.
    std::vector<QWidget*> ComposeControls() const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

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
    void PlacePopup();
    void RefillAttachmentList();
    void SetInputEnabled(bool enabled);
    // Placeholder rules on a key press in a compose control; true when the
    // key was consumed.
    bool ComposeKeyPress(QWidget* control, int key);
    void ComposeTextTyped(QWidget* control);
    void BodyMouseReleased();
    QWidget* FocusedComposeControl() const;

    QStringList arguments_;
    TAppSettings settings_;
    TMailDocument document_;
    TPVDatabase book_;
    bool firstPaint_ = true;
    bool closing_ = false;
    int filling_ = 0;  // > 0 while the window itself fills the controls
    QStringList startupProblems_;
    std::string currentBook_;  // address-book file last opened or saved, in the address-book folder
    TPVKoumokuForm* popup_ = nullptr;
    TPVLogForm* logForm_ = nullptr;
    TMailSendThread job_;
    bool sendRunning_ = false;
    bool closeAfterSend_ = false;
    int sendOutcome_ = kSendOutcomeNone;

    QToolBar* ToolBar1 = nullptr;
    QAction* actJapanese = nullptr;
    QAction* actEnglish = nullptr;
    QAction* actServerSettings = nullptr;
    QAction* actNew = nullptr;
    QAction* actOpen = nullptr;
    QAction* actSave = nullptr;
    QAction* actSend = nullptr;
    QAction* actDeleteFile = nullptr;
    QAction* actUndo = nullptr;
    QAction* actCut = nullptr;
    QAction* actCopy = nullptr;
    QAction* actPaste = nullptr;
    QAction* actDelete = nullptr;
    QAction* actSelectAll = nullptr;
    QGroupBox* grpHeader = nullptr;
    QLineEdit* edtFrom = nullptr;
    QLineEdit* edtName = nullptr;
    QComboBox* cmbRecipient = nullptr;
    QLineEdit* edtSubject = nullptr;
    QWidget* sepHeader = nullptr;
    QTabWidget* tabMailText = nullptr;
    QPlainTextEdit* memoBody = nullptr;
    THtmlView* htmlView = nullptr;
    QPushButton* btnSend = nullptr;
    QPushButton* btnPreview = nullptr;
    QGroupBox* grpAttachments = nullptr;
    QListWidget* lstAttachments = nullptr;
    QPushButton* btnDeleteAttachment = nullptr;
    QLabel* lblStatus = nullptr;
};
