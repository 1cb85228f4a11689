#include "shell/forms/TPVMainForm.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSessionManager>
#include <QStatusBar>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>

#include "delivery/forms/TPVLogForm.h"
#include "delivery/forms/TPVServerWizForm.h"
#include "delivery/forms/TPVVer2ServerSetupForm.h"
#include "shell/Commonfunc.h"
#include "shell/Placeholder.h"
#include "shell/StringTable.h"
#include "shell/UiServices.h"
#include "shell/forms/ComposeEdit.h"
#include "shell/forms/HtmlView.h"
#include "shell/forms/ModalRunner.h"
#include "shell/forms/QtCodec.h"
#include "shell/forms/QtWindowPlacement.h"
#include "shell/forms/TPVAboutForm.h"
#include "shell/forms/TPVKoumokuForm.h"
#include "shell/forms/TPVKoumokuSetupForm2.h"
#include "shell/forms/TPVStartShortcut.h"

namespace {

constexpr int kMinWidth = 420;
constexpr int kMinHeight = 360;
constexpr int kHeaderEditLeft = 144;

enum EditCommandId { kUndo, kCut, kCopy, kPaste, kDelete, kSelectAll };

QIcon SvgIcon(const QString& resource) {
    QSvgRenderer renderer(resource);
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return QIcon(pixmap);
}

// "%d"-style formatting of a string-table text with one count.
std::string FormatCount(int id, int count) {
    char buf[256];
    std::snprintf(buf, sizeof buf, LoadStr(id).c_str(), count);
    return buf;
}


}  // namespace

TPVMainForm::TPVMainForm(const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent), arguments_(arguments) {
    setObjectName("PVMainForm");
    FormCreate();
}

TPVMainForm::~TPVMainForm() = default;

void TPVMainForm::FormCreate() {
    book_.FieldNames.assign(TPVDatabase::FieldCount, std::string());
    BuildMenus();
    BuildToolbar();
    BuildComposeArea();
    setMinimumSize(kMinWidth, kMinHeight);

    // The folders were computed at process start; make the ones that are
    // ours to make and start with empty preview folders.
    PrepareFolders();
    ClearMainPreview();
    ClearWizardPreview();

    book_.LoadDefaultFieldNames();
    LoadSettings();
    setAcceptDrops(true);
    tabMailText->setCurrentIndex(0);
    actDeleteFile->setEnabled(false);
    btnDeleteAttachment->setEnabled(false);
    settings_.timerStart = std::time(nullptr);

    popup_ = new TPVKoumokuForm(this, [this](int index) { InsertMergeField(index); });
    popup_->SetFieldNames(book_.FieldNames);

    setWindowTitle(Str(903));
    logForm_ = new TPVLogForm(this);
    logForm_->hide();
    ToolBar1->setVisible(settings_.toolbar == 0);
    ApplyBodyFont();
    document_.modified = false;
    document_.addressBookModified = false;
    RestoreWindowPlacement(this, "MainForm");

    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        LogOffRequested();
        if (!closing_) manager.cancel();
    });
}

void TPVMainForm::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("mnuFile");
    const auto fileAction = [&](const char* caption, const char* name, QKeySequence key) {
        QAction* a = file->addAction(caption);
        a->setObjectName(name);
        if (!key.isEmpty()) a->setShortcut(key);
        return a;
    };
    actNew = fileAction("&New", "actNew", QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(actNew, &QAction::triggered, this, [this] {
        if (!AskSaveChanges()) return;
        NewDocument();
        LoadDefaultAddressBook();
        document_.modified = false;
    });
    actOpen = fileAction("&Open...", "actOpen", QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(actOpen, &QAction::triggered, this, &TPVMainForm::OpenDocumentDialog);
    actSave = fileAction("&Save...", "actSave", QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(actSave, &QAction::triggered, this, [this] {
        if (document_.path.empty()) SaveDocumentAs();
        else if (SaveDocument(document_.path)) document_.modified = false;
    });
    QAction* saveAs = fileAction("Save &As...", "actSaveAs", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_S));
    connect(saveAs, &QAction::triggered, this, &TPVMainForm::SaveDocumentAs);
    file->addSeparator();
    actSend = fileAction("Sen&d...", "actSend", QKeySequence());
    connect(actSend, &QAction::triggered, this, &TPVMainForm::SendMail);
    file->addSeparator();
    QAction* selectTemplate = fileAction("Select &Template...", "actSelectTemplate", QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(selectTemplate, &QAction::triggered, this, &TPVMainForm::SelectTextTemplate);
    QAction* saveTemplate = fileAction("Sa&ve As Template...", "actSaveAsTemplate", QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(saveTemplate, &QAction::triggered, this, &TPVMainForm::SaveAsTextTemplate);
    file->addSeparator();
    actDeleteFile = file->addAction("&Delete File...");
    actDeleteFile->setObjectName("actDeleteFile");
    actDeleteFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    connect(actDeleteFile, &QAction::triggered, this, [this] {
        DeleteAllAttachments();
        UpdateStatus();
    });
    file->addSeparator();
    QAction* exit = file->addAction("E&xit");
    exit->setObjectName("actExit");
    exit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->setObjectName("mnuEdit");
    const auto editAction = [&](QAction*& a, const char* caption, const char* name, QKeySequence key, int id) {
        a = edit->addAction(caption);
        a->setObjectName(name);
        if (!key.isEmpty()) a->setShortcut(key);
        connect(a, &QAction::triggered, this, [this, id] { EditCommand(id); });
    };
    editAction(actUndo, "&Undo", "actUndo", QKeySequence(Qt::CTRL | Qt::Key_Z), kUndo);
    edit->addSeparator();
    editAction(actCut, "Cu&t", "actCut", QKeySequence(Qt::CTRL | Qt::Key_X), kCut);
    editAction(actCopy, "&Copy", "actCopy", QKeySequence(Qt::CTRL | Qt::Key_C), kCopy);
    editAction(actPaste, "&Paste", "actPaste", QKeySequence(Qt::CTRL | Qt::Key_V), kPaste);
    editAction(actDelete, "&Delete", "actDelete", QKeySequence(), kDelete);
    edit->addSeparator();
    editAction(actSelectAll, "Select &All", "actSelectAll", QKeySequence(Qt::CTRL | Qt::Key_A), kSelectAll);
    for (QAction* a : {actUndo, actCut, actCopy, actPaste, actDelete}) a->setEnabled(false);
    // The controls keep their own shortcuts; the menu entries are for the mouse.
    for (QAction* a : {actUndo, actCut, actCopy, actPaste, actDelete, actSelectAll})
        a->setShortcutContext(Qt::WidgetShortcut);

    QMenu* book = menuBar()->addMenu("&Address Book");
    book->setObjectName("mnuAddressBook");
    QAction* fieldNames = book->addAction("Edit &Field Name...");
    fieldNames->setObjectName("actEditFieldName");
    connect(fieldNames, &QAction::triggered, this, &TPVMainForm::EditFieldNames);

    QMenu* option = menuBar()->addMenu("&Option");
    option->setObjectName("mnuOption");
    QMenu* encoding = option->addMenu("Character &Encoding");
    actJapanese = encoding->addAction("&Japanese Character Set");
    actJapanese->setObjectName("actJapanese");
    actEnglish = encoding->addAction("&English Character Set");
    actEnglish->setObjectName("actEnglish");
    for (QAction* a : {actJapanese, actEnglish}) a->setCheckable(true);
    connect(actJapanese, &QAction::triggered, this, [this] { SetEncoding(0); });
    connect(actEnglish, &QAction::triggered, this, [this] { SetEncoding(1); });
    actServerSettings = option->addAction("&Server Settings...");
    actServerSettings->setObjectName("actServerSettings");
    connect(actServerSettings, &QAction::triggered, this, &TPVMainForm::ServerSettings);

    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("mnuHelp");
    QAction* manual = help->addAction("&Manual");
    manual->setObjectName("actManual");
    connect(manual, &QAction::triggered, this, &TPVMainForm::OpenManual);
    QAction* about = help->addAction("&About Pelvane Personal...");
    about->setObjectName("actAbout");
    connect(about, &QAction::triggered, this, &TPVMainForm::ShowAbout);
}

void TPVMainForm::BuildToolbar() {
    ToolBar1 = addToolBar("Toolbar");
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setMovable(false);
    ToolBar1->setFixedHeight(29);
    ToolBar1->addAction(actNew);
    ToolBar1->addAction(actOpen);
    ToolBar1->addAction(actSave);
    ToolBar1->addSeparator();
    ToolBar1->addAction(actSend);
    ToolBar1->addSeparator();
    ToolBar1->addAction(actServerSettings);
}

void TPVMainForm::BuildComposeArea() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);

    grpHeader = new QGroupBox("Mail Header", central);
    grpHeader->setObjectName("grpHeader");
    grpHeader->setFixedHeight(121);
    const auto label = [&](const QString& text, int top) {
        auto* l = new QLabel(text, grpHeader);
        l->setGeometry(8, top, kHeaderEditLeft - 12, 21);
    };
    const auto lineEdit = [&](const char* name, int top) {
        auto* e = new QLineEdit(grpHeader);
        e->setObjectName(name);
        e->move(kHeaderEditLeft, top);
        e->installEventFilter(this);
        connect(e, &QLineEdit::textEdited, this, [this] { document_.modified = true; });
        connect(e, &QLineEdit::selectionChanged, this, [this, e] { UpdateEditCommands(e); });
        return e;
    };
    label("Sender's Mail Address", 18);
    edtFrom = lineEdit("edtFrom", 18);
    label("Sender's Name", 42);
    edtName = lineEdit("edtName", 42);
    label("Recipient's Address", 66);
    cmbRecipient = new QComboBox(grpHeader);
    cmbRecipient->setObjectName("cmbRecipient");
    cmbRecipient->setEditable(false);
    cmbRecipient->setGeometry(kHeaderEditLeft, 66, 201, 21);
    connect(cmbRecipient, &QComboBox::activated, this, [this] { document_.modified = true; });
    auto* sep = new QFrame(grpHeader);
    sep->setFrameShape(QFrame::HLine);
    sep->setFrameShadow(QFrame::Sunken);
    sep->setGeometry(8, 89, 100, 2);
    sepHeader = sep;
    label("Title", 94);
    edtSubject = lineEdit("edtSubject", 94);
    grpHeader->installEventFilter(this);
    layout->addWidget(grpHeader);

    auto* grpText = new QGroupBox("Mail Text", central);
    grpText->setObjectName("grpMailText");
    auto* textLayout = new QVBoxLayout(grpText);
    tabMailText = new QTabWidget(grpText);
    tabMailText->setObjectName("tabMailText");
    memoBody = new QPlainTextEdit(tabMailText);
    memoBody->setObjectName("memoBody");
    memoBody->setLineWrapMode(QPlainTextEdit::NoWrap);
    memoBody->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoBody->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoBody->installEventFilter(this);
    memoBody->viewport()->installEventFilter(this);
    connect(memoBody, &QPlainTextEdit::textChanged, this, [this] {
        if (filling_ == 0) document_.modified = true;
    });
    connect(memoBody, &QPlainTextEdit::selectionChanged, this, [this] { UpdateEditCommands(memoBody); });
    tabMailText->addTab(memoBody, "Text");
    auto* htmlPanel = new QFrame(tabMailText);
    htmlPanel->setObjectName("pnlHtml");
    htmlPanel->setFrameShape(QFrame::Panel);
    htmlPanel->setFrameShadow(QFrame::Sunken);
    auto* htmlLayout = new QVBoxLayout(htmlPanel);
    htmlLayout->setContentsMargins(1, 1, 1, 1);
    htmlView = new THtmlView(htmlPanel);
    htmlView->setObjectName("htmlView");
    htmlLayout->addWidget(htmlView);
    tabMailText->addTab(htmlPanel, "HTML");
    textLayout->addWidget(tabMailText, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnSend = new QPushButton("Send", grpText);
    btnSend->setObjectName("btnSend");
    connect(btnSend, &QPushButton::clicked, this, &TPVMainForm::SendMail);
    // The preview arrives with the HTML work.
    btnPreview = new QPushButton("Preview", grpText);
    btnPreview->setObjectName("btnPreview");
    btnPreview->setEnabled(false);
    buttons->addWidget(btnSend);
    buttons->addWidget(btnPreview);
    textLayout->addLayout(buttons);
    layout->addWidget(grpText, 1);

    grpAttachments = new QGroupBox("Attachments", central);
    grpAttachments->setObjectName("grpAttachments");
    grpAttachments->setFixedHeight(76);
    auto* attLayout = new QHBoxLayout(grpAttachments);
    lstAttachments = new QListWidget(grpAttachments);
    lstAttachments->setObjectName("lstAttachments");
    lstAttachments->setFrameShape(QFrame::NoFrame);
    lstAttachments->setSelectionMode(QAbstractItemView::ExtendedSelection);
    attLayout->addWidget(lstAttachments, 1);
    btnDeleteAttachment = new QPushButton("Delete", grpAttachments);
    btnDeleteAttachment->setObjectName("btnDeleteAttachment");
    connect(btnDeleteAttachment, &QPushButton::clicked, this, &TPVMainForm::DeleteSelectedAttachments);
    attLayout->addWidget(btnDeleteAttachment, 0, Qt::AlignTop);
    layout->addWidget(grpAttachments);

    setCentralWidget(central);
    lblStatus = new QLabel(statusBar());
    lblStatus->setObjectName("lblStatus");
    statusBar()->addWidget(lblStatus, 1);
}

std::vector<QWidget*> TPVMainForm::ComposeControls() const { return {edtFrom, edtName, edtSubject, memoBody}; }

QWidget* TPVMainForm::FocusedComposeControl() const {
    QWidget* focused = focusWidget();
    for (QWidget* c : ComposeControls()) {
        if (c == focused) return c;
    }
    return nullptr;
}

bool TPVMainForm::eventFilter(QObject* watched, QEvent* event) {
    // The header edits follow the width of their group.
    if (watched == grpHeader && event->type() == QEvent::Resize) {
        int width = grpHeader->width() - kHeaderEditLeft - 8;
        for (QLineEdit* e : {edtFrom, edtName, edtSubject}) e->resize(std::max(width, 20), 21);
        sepHeader->resize(std::max(grpHeader->width() - 16, 1), 2);
        return false;
    }
    if (watched == memoBody->viewport()) {
        if (event->type() == QEvent::MouseButtonRelease) {
            QTimer::singleShot(0, this, &TPVMainForm::BodyMouseReleased);
        }
        return false;
    }
    auto* control = qobject_cast<QWidget*>(watched);
    const std::vector<QWidget*> controls = ComposeControls();
    if (!control || std::find(controls.begin(), controls.end(), control) == controls.end()) {
        return QMainWindow::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::KeyPress: {
            bool consumed = ComposeKeyPress(control, static_cast<QKeyEvent*>(event)->key());
            QTimer::singleShot(0, this, [this, control] { UpdateEditCommands(control); });
            return consumed;
        }
        case QEvent::InputMethod:
            // Text from an input method lands like a typed key.
            if (!static_cast<QInputMethodEvent*>(event)->commitString().isEmpty()) ComposeTextTyped(control);
            return false;
        case QEvent::FocusIn:
            UpdateEditCommands(control);
            return false;
        case QEvent::MouseButtonRelease:
            QTimer::singleShot(0, this, [this, control] { UpdateEditCommands(control); });
            return false;
        default:
            return false;
    }
}

bool TPVMainForm::ComposeKeyPress(QWidget* control, int key) {
    document_.modified = true;
    ComposeEdit edit(control);
    const std::string text = edit.bytes();
    switch (key) {
        case Qt::Key_Backspace:
        case Qt::Key_Delete: {
            PlaceholderSearch start = key == Qt::Key_Backspace ? PlaceholderSearch::Backspace : PlaceholderSearch::Delete;
            WidenResult w = WidenToPlaceholders(text, book_.FieldNames, edit.selStart(), edit.selLength(), start,
                                                PlaceholderSearch::Backspace);
            if (w.length == 0) return false;
            edit.select(w.start, w.length);
            edit.replaceSelection(QString());
            return true;
        }
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
            return false;
        default:
            ComposeTextTyped(control);
            return false;
    }
}

void TPVMainForm::ComposeTextTyped(QWidget* control) {
    document_.modified = true;
    ComposeEdit edit(control);
    WidenResult w = WidenToPlaceholders(edit.bytes(), book_.FieldNames, edit.selStart(), edit.selLength(),
                                        PlaceholderSearch::Inside, PlaceholderSearch::Inside);
    // What is typed next lands after the placeholder the caret was inside.
    if (w.moved) edit.setCaret(w.start + w.length);
}

void TPVMainForm::BodyMouseReleased() {
    ComposeEdit edit(memoBody);
    if (edit.hasSelection()) {
        WidenResult w = WidenToPlaceholders(edit.bytes(), book_.FieldNames, edit.selStart(), edit.selLength(),
                                            PlaceholderSearch::Inside, PlaceholderSearch::Inside);
        edit.select(w.start, w.length);
    }
    UpdateEditCommands(memoBody);
}

void TPVMainForm::InsertMergeField(int index) {
    activateWindow();
    QWidget* control = FocusedComposeControl();
    if (!control) return;
    ComposeEdit edit(control);
    const QString placeholder = FromCp932(FieldPlaceholder(book_.FieldNames, index));
    int caret = edit.selStart();
    int length = edit.selLength();
    WidenResult w = WidenToPlaceholders(edit.bytes(), book_.FieldNames, caret, length, PlaceholderSearch::Inside,
                                        PlaceholderSearch::Inside);
    if (length == 0) {
        if (w.moved) edit.setCaret(w.start + w.length);
    } else {
        edit.select(w.start, w.length);
    }
    edit.replaceSelection(placeholder);
    // An inserted field is an edit like any other; without this a close
    // would not ask to save it.
    document_.modified = true;
    UpdateEditCommands(control);
}

void TPVMainForm::UpdateEditCommands(QWidget* control) {
    ComposeEdit edit(control);
    if (!edit.valid()) return;
    actUndo->setEnabled(edit.canUndo());
    bool selected = edit.hasSelection();
    actCut->setEnabled(selected);
    actCopy->setEnabled(selected);
    actDelete->setEnabled(selected);
    const QClipboard* clipboard = QGuiApplication::clipboard();
    actPaste->setEnabled(clipboard && !clipboard->text().isEmpty());
    actSelectAll->setEnabled(!edit.text().isEmpty());
}

void TPVMainForm::EditCommand(int command) {
    QWidget* control = FocusedComposeControl();
    if (!control) return;
    auto* line = qobject_cast<QLineEdit*>(control);
    auto* body = qobject_cast<QPlainTextEdit*>(control);
    switch (command) {
        case kUndo:
            line ? line->undo() : body->undo();
            break;
        case kCut:
            line ? line->cut() : body->cut();
            break;
        case kCopy:
            line ? line->copy() : body->copy();
            break;
        case kPaste:
            line ? line->paste() : body->paste();
            document_.modified = true;
            break;
        case kDelete:
            ComposeEdit(control).replaceSelection(QString());
            document_.modified = true;
            break;
        case kSelectAll:
            line ? line->selectAll() : body->selectAll();
            break;
    }
    UpdateEditCommands(control);
}

void TPVMainForm::ApplyBodyFont() {
    QFont font(FromCp932(settings_.fontName));
    font.setPointSize(settings_.fontSize > 0 ? settings_.fontSize : 12);
    memoBody->setFont(font);
}

void TPVMainForm::LoadSettings() {
    settings_ = LoadSettingsFile(Paths().settingsFile);
    document_.senderName = settings_.name;
    document_.senderAddress = settings_.from;
    actJapanese->setChecked(settings_.encode == 0);
    actEnglish->setChecked(settings_.encode == 1);
}

void TPVMainForm::SaveSettings() {
    settings_.fontName = ToCp932(memoBody->font().family());
    settings_.fontSize = memoBody->font().pointSize();
    SaveSettingsFile(Paths().settingsFile, settings_);
}

void TPVMainForm::ShowDocumentHeader() {
    ++filling_;
    cmbRecipient->clear();
    int match = -1;
    for (int i = 0; i < PlaceholderFieldCount; ++i) {
        std::string item = FieldPlaceholder(book_.FieldNames, i);
        cmbRecipient->addItem(FromCp932(item));
        if (item == document_.recipient) match = i;  // the last one wins
    }
    document_.senderName = settings_.name;
    document_.senderAddress = settings_.from;
    edtFrom->setText(FromCp932(document_.senderAddress));
    edtName->setText(FromCp932(document_.senderName));
    edtSubject->setText(FromCp932(document_.subject));
    cmbRecipient->setCurrentIndex(match >= 0 ? match : 0);
    --filling_;
}

void TPVMainForm::GatherDocument() {
    document_.senderAddress = ToCp932(edtFrom->text());
    document_.senderName = ToCp932(edtName->text());
    settings_.from = document_.senderAddress;
    settings_.name = document_.senderName;
    document_.subject = ToCp932(edtSubject->text());
    document_.recipient = cmbRecipient->currentIndex() >= 0 ? ToCp932(cmbRecipient->currentText()) : "";
    document_.body.clear();
    const QStringList lines = memoBody->toPlainText().split('\n');
    for (const QString& line : lines) document_.body.push_back(ToCp932(line));
}

void TPVMainForm::RefreshBody() {
    ShowDocumentHeader();
    QStringList lines;
    for (const std::string& line : document_.body) lines << FromCp932(line);
    ++filling_;
    memoBody->setPlainText(lines.join('\n'));
    --filling_;
}

void TPVMainForm::UpdateStatus() {
    std::string status;
    if (book_.Count > 0) status += FormatCount(3100, book_.Count);
    if (!document_.attachments.empty()) status += FormatCount(3101, static_cast<int>(document_.attachments.size()));
    if (!document_.htmlFiles.empty()) status += FormatCount(3102, static_cast<int>(document_.htmlFiles.size()));
    lblStatus->setText(FromCp932(status));
    bool any = !document_.attachments.empty();
    actDeleteFile->setEnabled(any);
    btnDeleteAttachment->setEnabled(any);
}

void TPVMainForm::RefillAttachmentList() {
    lstAttachments->clear();
    for (const std::string& path : document_.attachments) lstAttachments->addItem(FromNativePath(path));
}

void TPVMainForm::AddDroppedFiles(const QStringList& files) {
    document_.modified = true;
    for (const QString& file : files) {
        QFileInfo info(file);
        if (!info.exists() || info.isDir()) continue;
        document_.attachments.push_back(ToNativePath(info.absoluteFilePath()));
    }
    RefillAttachmentList();
    UpdateStatus();
}

void TPVMainForm::DeleteSelectedAttachments() {
    if (ConfirmYesNo(2090, 2091)) {
        for (int row = lstAttachments->count() - 1; row >= 0; --row) {
            if (lstAttachments->item(row)->isSelected() && row < static_cast<int>(document_.attachments.size()))
                document_.attachments.erase(document_.attachments.begin() + row);
        }
    }
    RefillAttachmentList();
    UpdateStatus();
}

void TPVMainForm::DeleteAllAttachments() {
    if (ConfirmYesNo(2090, 2092)) {
        document_.attachments.clear();
        lstAttachments->clear();
    }
    UpdateStatus();
}

void TPVMainForm::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TPVMainForm::dropEvent(QDropEvent* event) {
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) files << url.toLocalFile();
    }
    if (files.isEmpty()) return;
    event->acceptProposedAction();
    AddDroppedFiles(files);
}

void TPVMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (firstPaint_) {
        firstPaint_ = false;
        // After the window has painted once.
        QTimer::singleShot(0, this, &TPVMainForm::FormFirstPaint);
    }
}

void TPVMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // The popup goes and comes with the main window.
    if (event->type() == QEvent::WindowStateChange && popup_ && !firstPaint_) {
        if (isMinimized()) popup_->hide();
        else if (isVisible()) popup_->show();
    }
}

void TPVMainForm::AddStartupProblem(const QString& text) { startupProblems_ << text; }

void TPVMainForm::PlacePopup() {
    popup_->show();
    int left = std::max(0, x() - 150);
    popup_->move(left, y());
    if (isVisible() && isEnabled()) activateWindow();
}

void TPVMainForm::LoadToolbarPictures() {
    // Picture and hint of every toolbar button, in toolbar order.
    struct Button {
        QAction* action;
        const char* picture;
        int hint;
    };
    const Button buttons[] = {
        {actNew, ":/toolbar-new.svg", 9950},
        {actOpen, ":/toolbar-open.svg", 9951},
        {actSave, ":/toolbar-save.svg", 9952},
        {actSend, ":/toolbar-send.svg", 9966},
        {actServerSettings, ":/toolbar-server-settings.svg", 9964},
    };
    for (const Button& b : buttons) {
        b.action->setIcon(SvgIcon(b.picture));
        b.action->setToolTip(Str(b.hint));
    }
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
}

void TPVMainForm::FormFirstPaint() {
    PlacePopup();
    LoadToolbarPictures();
    for (const QString& problem : std::as_const(startupProblems_)) {
        ShowInfoMessage(LoadStr(900), ToCp932(problem));
    }
    startupProblems_.clear();

    if (!arguments_.isEmpty()) {
        document_.path = ToNativePath(arguments_.first());
        OpenDocument();
        UpdateStatus();
        return;
    }
    if (settings_.firstRun) ShowFirstRunWizard();
    // Start with a new mail, as File > New makes it, whatever the Getting
    // Started dialog is set to: a window left without one would show no
    // sender and no recipient field, and a close would store the empty
    // sender over the one in the settings.
    NewDocument();
    LoadDefaultAddressBook();
    document_.modified = false;
    if (settings_.startShortcut) ShowGettingStarted();
}

void TPVMainForm::ShowFirstRunWizard() {
    TPVServerWizForm wizard(this);
    if (RunModal(wizard) != QDialog::Accepted) return;
    const TServerTexts& t = wizard.texts;
    settings_.name = t.senderName;
    settings_.from = t.senderAddress;
    settings_.smtpServer = t.smtpServer;
    settings_.popServer = t.popServer;
    settings_.userId = t.userId;
    settings_.password = t.password;
    settings_.authType = 0;
    document_.senderName = settings_.name;
    document_.senderAddress = settings_.from;
    edtFrom->setText(FromCp932(document_.senderAddress));
    edtName->setText(FromCp932(document_.senderName));
}

void TPVMainForm::ShowGettingStarted() {
    TPVStartShortcut dialog(this);
    dialog.setChoiceEnabled(StartChoice::TextMail, true);
    dialog.setChoiceEnabled(StartChoice::OpenFile, true);
    RunModal(dialog);
    settings_.startShortcut = dialog.displayNextTime();
    switch (dialog.choice()) {
        case StartChoice::TextMail:
            NewDocument();
            LoadDefaultAddressBook();
            break;
        case StartChoice::OpenFile:
            NewDocument();
            OpenDocumentDialog();
            break;
        case StartChoice::Exit:
            QTimer::singleShot(0, this, &QWidget::close);
            break;
        default:
            break;
    }
}

void TPVMainForm::OpenHandedOverDocument(const QByteArray& path) {
    BringToFront();
    // A send job or a dialog owns the window now; the open would pull the
    // mail from under it.
    if (sendRunning_ || QApplication::activeModalWidget()) return;
    if (!AskSaveChanges()) return;
    NewDocument();
    document_.path = path.toStdString();
    OpenDocument();
    UpdateStatus();
}

void TPVMainForm::BringToFront() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void TPVMainForm::ServerSettings() {
    settings_.from = ToCp932(edtFrom->text());
    settings_.name = ToCp932(edtName->text());
    TServerTexts texts{settings_.from, settings_.name, settings_.smtpServer, settings_.popServer, settings_.userId,
                       settings_.password};
    TPVVer2ServerSetupForm dialog(this, texts, settings_.authType);
    RunModal(dialog);
    settings_.from = dialog.texts.senderAddress;
    settings_.name = dialog.texts.senderName;
    settings_.smtpServer = dialog.texts.smtpServer;
    settings_.popServer = dialog.texts.popServer;
    settings_.userId = dialog.texts.userId;
    settings_.password = dialog.texts.password;
    settings_.authType = dialog.authType;
    edtFrom->setText(FromCp932(settings_.from));
    edtName->setText(FromCp932(settings_.name));
}

void TPVMainForm::SetEncoding(int encode) {
    settings_.encode = encode;
    actJapanese->setChecked(encode == 0);
    actEnglish->setChecked(encode == 1);
}

void TPVMainForm::EditFieldNames() {
    GatherDocument();
    TPVKoumokuSetupForm2 dialog(this, book_.FieldNames);
    if (RunModal(dialog) != QDialog::Accepted) return;
    book_.FieldNames = dialog.names;
    document_.modified = true;
    document_.addressBookModified = true;
    popup_->SetFieldNames(book_.FieldNames);
    ShowDocumentHeader();
}

void TPVMainForm::ShowAbout() {
    TPVAboutForm about(this);
    RunModal(about);
}

void TPVMainForm::OpenManual() { QDesktopServices::openUrl(QUrl::fromLocalFile(FromNativePath(Paths().manual))); }

void TPVMainForm::LogOffRequested() { close(); }

void TPVMainForm::closeEvent(QCloseEvent* event) {
    if (sendRunning_) {
        // Stop the job first; the close runs again, with its questions, once
        // the job has handed back its results.
        closeAfterSend_ = true;
        job_.Cancel();
        event->ignore();
        return;
    }
    if (!closing_ && !AskSaveChanges()) {
        event->ignore();
        return;
    }
    setAcceptDrops(false);
    if (popup_) {
        popup_->AllowClose();
        popup_->close();
    }
    GatherDocument();
    SaveSettings();
    ClearMainPreview();
    ClearWizardPreview();
    SaveWindowPlacement(this, "MainForm");
    closing_ = true;
    event->accept();
}
