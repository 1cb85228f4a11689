// The commands the main window carries out itself: new, open and save of the
// mail document with their questions, the text templates, and sending.
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <algorithm>
#include <ctime>

#include "delivery/forms/TPVSendProgressForm.h"
#include "document/Datafile.h"
#include "html/forms/TPVSelectTemp.h"
#include "html/forms/TPVTempSave.h"
#include "shell/Commonfunc.h"
#include "shell/StringTable.h"
#include "shell/UiServices.h"
#include "shell/forms/HtmlView.h"
#include "shell/forms/ModalRunner.h"
#include "shell/forms/QtCodec.h"
#include "shell/forms/TPVKoumokuForm.h"
#include "shell/forms/TPVMainForm.h"

bool TPVMainForm::AskSaveChanges() {
    if (document_.addressBookModified) {
        MessageResult r = AskYesNoCancel(8100, 8101);
        if (r == MessageResult::Cancel) return false;
        if (r == MessageResult::Yes) SaveAddressBook();
    }
    if (document_.modified) {
        MessageResult r = AskYesNoCancel(1006, 1005);
        if (r == MessageResult::Cancel) return false;
        if (r == MessageResult::No) return true;
        return document_.path.empty() ? SaveDocumentAs() : SaveDocument(document_.path);
    }
    return true;
}

void TPVMainForm::NewDocument() {
    ++filling_;
    edtSubject->clear();
    memoBody->clear();
    --filling_;
    document_.subject.clear();
    document_.body.clear();
    document_.attachments.clear();
    lstAttachments->clear();
    document_.htmlFiles.clear();
    ClearMainPreview();
    ClearWizardPreview();
    book_.LoadDefaultFieldNames();
    popup_->SetFieldNames(book_.FieldNames);
    ShowDocumentHeader();
    document_.htmlTemplateName.clear();
    document_.path.clear();
    htmlView->ShowBlank();
    tabMailText->setCurrentIndex(0);
    UpdateStatus();
}

bool TPVMainForm::ReadBookFile(const std::string& name) {
    TPVDatabase read;
    read.FieldNames = book_.FieldNames;
    if (!read.LoadFromFile(Paths().addrBookFolder + name, TPVDatabase::FormatComma)) return false;
    // The first line of a book file names the fields.
    if (read.Count > 0) {
        const std::vector<std::string>& header = read.Records[0].Values;
        bool empty = std::all_of(header.begin(), header.end(), [](const std::string& v) { return v.empty(); });
        if (!empty) {
            read.FieldNames.assign(TPVDatabase::FieldCount, std::string());
            for (int i = 0; i < TPVDatabase::FileFieldCount && i < static_cast<int>(header.size()); ++i)
                read.FieldNames[i] = header[i];
            read.DeleteRecord(0);
        }
    }
    book_ = std::move(read);
    document_.addressBookModified = false;
    return true;
}

void TPVMainForm::SaveAddressBook() {
    if (currentBook_.empty()) return;
    if (book_.SaveToFile(Paths().addrBookFolder + currentBook_, TPVDatabase::FormatComma, true))
        document_.addressBookModified = false;
}

void TPVMainForm::LoadDefaultAddressBook() {
    book_.Clear();
    if (!settings_.defaultAddrBook.empty()) {
        currentBook_ = settings_.defaultAddrBook;
        ReadBookFile(settings_.defaultAddrBook);
        popup_->SetFieldNames(book_.FieldNames);
        ShowDocumentHeader();
    }
    UpdateStatus();
}

void TPVMainForm::OpenDocumentDialog() {
    activateWindow();
    if (!AskSaveChanges()) return;
    std::string path;
    if (Ui()->ChooseFile(FileDialogKind::Open, "", LoadStr(2001), ".pvd", path)) {
        NewDocument();
        document_.path = path;
        OpenDocument();
        document_.modified = false;
    }
    UpdateStatus();
}

void TPVMainForm::OpenDocument() {
    TPVDataFile file;
    if (!file.Load(document_.path)) {
        ShowInfoMessage(1100, 1102);
        // Keeping the name would let the next Save overwrite the file that
        // could not be read, and whatever may still be recovered from it.
        document_.path.clear();
        return;
    }
    const std::string path = document_.path;
    file.GiveDocument(document_, book_, settings_);
    document_.path = path;
    ListFolderFiles(Paths().mainPreviewFolder, document_.htmlFiles);
    std::string dat = ChangeFileExt(path, ".dat");
    if (file.LoadedVersion < 3 && FileExists(dat)) {
        TPVDatabase fromDat;
        fromDat.FieldNames = book_.FieldNames;
        if (fromDat.LoadFromFile(dat, TPVDatabase::FormatComma)) book_ = std::move(fromDat);
    }
    ShowDocumentHeader();
    RefreshBody();
    RefillAttachmentList();
    popup_->SetFieldNames(book_.FieldNames);
    if (!document_.htmlTemplateName.empty()) {
        htmlView->ShowFile(FromNativePath(Paths().mainPreviewFolder + "index.html"));
    }
    currentBook_.clear();
    document_.modified = false;
    document_.addressBookModified = false;
}

bool TPVMainForm::SaveDocument(const std::string& path) {
    GatherDocument();
    TPVDataFile file;
    file.TakeDocument(document_, book_, settings_);
    // The writer tells the user what went wrong; a failed save must not
    // count as saved.
    return file.Save(path, TPVDataFile::DocumentVersion);
}

bool TPVMainForm::SaveDocumentAs() {
    activateWindow();
    std::string chosen = document_.path;
    while (true) {
        if (!Ui()->ChooseFile(FileDialogKind::Save, LoadStr(2100), LoadStr(2001), ".pvd", chosen)) return false;
        chosen = ChangeFileExt(chosen, ".pvd");
        if (!FileExists(chosen)) break;
        MessageResult r = AskYesNoCancelDefaultNo(2100, 2101);
        if (r == MessageResult::Cancel) return false;
        if (r == MessageResult::Yes) break;
    }
    if (!SaveDocument(chosen)) return false;
    document_.path = chosen;
    document_.modified = false;
    return true;
}

void TPVMainForm::SelectTextTemplate() {
    TPVSelectTemp dialog(this);
    if (RunModal(dialog) != QDialog::Accepted) return;
    TPVDataFile file;
    if (!file.Load(dialog.SelectedPath())) {
        ShowInfoMessage(1100, 1102);
        return;
    }
    file.GiveTemplate(document_, book_);
    // The edits show the template's texts; the recipient list is rebuilt
    // so the template's recipient is the one chosen.
    ++filling_;
    edtFrom->setText(FromCp932(document_.senderAddress));
    edtName->setText(FromCp932(document_.senderName));
    --filling_;
    settings_.from = document_.senderAddress;
    settings_.name = document_.senderName;
    RefreshBody();
    popup_->SetFieldNames(book_.FieldNames);
    document_.modified = true;
}

void TPVMainForm::SaveAsTextTemplate() {
    QString name;
    std::string path;
    while (true) {
        TPVTempSave dialog(this, name);
        if (RunModal(dialog) != QDialog::Accepted) return;
        name = dialog.TemplateName();
        // A template is one file in the template folder: no folder part.
        QString fileName = name;
        fileName.replace('/', '_');
        path = Paths().templateFolder + ChangeFileExt(QFile::encodeName(fileName).toStdString(), ".pvt");
        if (!FileExists(path)) break;
        MessageResult r = AskYesNoCancelDefaultNo(2100, 2101);
        if (r == MessageResult::Cancel) return;
        if (r == MessageResult::Yes) break;
    }
    GatherDocument();
    TPVDataFile file;
    file.TakeTemplate(document_, book_);
    file.Save(path, TPVDataFile::TemplateVersion);
}

void TPVMainForm::SendMail() {
    bool anySelected = false;
    for (int i = 0; i < book_.Count; ++i) anySelected = anySelected || book_.Records[i].Selected;
    if (!anySelected) {
        ShowInfoMessage(4000, 4015);
        return;
    }
    settings_.timerOn = false;
    RunSendJob();
}

void TPVMainForm::RunSendJob() {
    if (sendRunning_) return;
    btnSend->setEnabled(false);
    actSend->setEnabled(false);
    sendOutcome_ = kSendOutcomeNone;
    auto* progress = new TPVSendProgressForm(this);
    GatherDocument();

    // The timer's start time moves to the next time its time of day comes.
    if (!settings_.timerSetDate && settings_.timerHeaderTime == 0) {
        std::time_t now = std::time(nullptr);
        std::tm nowTm = *std::localtime(&now);
        std::tm start = *std::localtime(&settings_.timerStart);
        start.tm_year = nowTm.tm_year;
        start.tm_mon = nowTm.tm_mon;
        start.tm_mday = nowTm.tm_mday;
        if (nowTm.tm_hour >= start.tm_hour && start.tm_min < nowTm.tm_min) start.tm_mday += 1;
        start.tm_isdst = -1;
        settings_.timerStart = std::mktime(&start);
    }

    serverinfo server{settings_.smtpServer, settings_.popServer, settings_.userId, settings_.password,
                      settings_.authType};
    job_.SetServer(server);
    job_.SetBody(document_.body);
    job_.SetHeaders({document_.senderAddress, document_.senderName, document_.subject, document_.recipient});
    job_.SetAddressBook(book_);
    job_.SetAttachments(document_.attachments);
    job_.SetHtmlFiles(document_.htmlFiles);
    job_.SetTemplateName(document_.htmlTemplateName);
    job_.SetScope(2);
    job_.SetOptions(SendJobOptionsFrom(settings_));

    QEventLoop wait;
    bool finished = false;
    connect(progress, &TPVSendProgressForm::jobFinished, &wait, [&](int outcome) {
        finished = true;
        sendOutcome_ = outcome;
        wait.quit();
    });
    connect(progress, &TPVSendProgressForm::jobStarted, &wait, [&](bool started) {
        if (!started) {
            finished = true;
            wait.quit();
        }
    });
    progress->SetJob(&job_);
    sendRunning_ = true;
    progress->show();
    // Disabling the window itself would disable the progress window with
    // it, and with it the user's only way to cancel: everything else of the
    // window is disabled instead.
    SetInputEnabled(false);
    // The window system keeps running; only the progress window takes input.
    if (!finished) wait.exec();
    job_.Wait();
    sendOutcome_ = job_.Outcome();

    progress->close();
    job_.CopyStatesBack(book_);
    SetInputEnabled(true);
    delete progress;
    repaint();
    btnSend->setEnabled(true);
    actSend->setEnabled(true);
    sendRunning_ = false;
    UpdateStatus();

    int text = sendOutcome_ == kSendOutcomeFailed ? 4401 : sendOutcome_ == kSendOutcomeCancelled ? 4402 : 4400;
    if (ShowResultWithLogButton(5302, text) == MessageResult::Cancel) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(FromNativePath(Paths().logFile)));
    }
    if (closeAfterSend_) {
        closeAfterSend_ = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TPVMainForm::SetInputEnabled(bool enabled) {
    centralWidget()->setEnabled(enabled);
    menuBar()->setEnabled(enabled);
    ToolBar1->setEnabled(enabled);
    if (popup_) popup_->setEnabled(enabled);
}

bool TPVMainForm::InputEnabled() const { return centralWidget()->isEnabled() && menuBar()->isEnabled(); }
