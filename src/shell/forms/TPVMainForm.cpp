#include "shell/forms/TPVMainForm.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
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
#include <QPainter>

#include "delivery/forms/TPVServerWizForm.h"
#include "delivery/forms/TPVVer2ServerSetupForm.h"
#include "shell/Commonfunc.h"
#include "shell/StringTable.h"
#include "shell/UiServices.h"
#include "shell/forms/ModalRunner.h"
#include "shell/forms/QtCodec.h"
#include "shell/forms/QtWindowPlacement.h"
#include "shell/forms/TPVAboutForm.h"
#include "shell/forms/TPVStartShortcut.h"

namespace {

constexpr int kMinWidth = 420;
constexpr int kMinHeight = 360;
constexpr int kHeaderEditLeft = 144;

QIcon SvgIcon(const QString& resource) {
    QSvgRenderer renderer(resource);
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return QIcon(pixmap);
}

}  // namespace

TPVMainForm::TPVMainForm(const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent), arguments_(arguments) {
    setObjectName("PVMainForm");
    FormCreate();
}

TPVMainForm::~TPVMainForm() = default;

void TPVMainForm::FormCreate() {
    BuildMenus();
    BuildToolbar();
    BuildComposeArea();
    setMinimumSize(kMinWidth, kMinHeight);

    // The folders were computed at process start; make the ones that are
    // ours to make and start with empty preview folders.
    PrepareFolders();
    ClearMainPreview();
    ClearWizardPreview();

    LoadSettings();
    settings_.timerStart = std::time(nullptr);
    setWindowTitle(Str(903));
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
    QAction* exit = file->addAction("E&xit");
    exit->setObjectName("actExit");
    exit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    connect(exit, &QAction::triggered, this, &QWidget::close);

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
    label("Sender's Mail Address", 18);
    edtFrom = new QLineEdit(grpHeader);
    edtFrom->setObjectName("edtFrom");
    edtFrom->move(kHeaderEditLeft, 18);
    label("Sender's Name", 42);
    edtName = new QLineEdit(grpHeader);
    edtName->setObjectName("edtName");
    edtName->move(kHeaderEditLeft, 42);
    label("Recipient's Address", 66);
    cmbRecipient = new QComboBox(grpHeader);
    cmbRecipient->setObjectName("cmbRecipient");
    cmbRecipient->setEditable(false);
    cmbRecipient->setGeometry(kHeaderEditLeft, 66, 201, 21);
    auto* sep = new QFrame(grpHeader);
    sep->setFrameShape(QFrame::HLine);
    sep->setFrameShadow(QFrame::Sunken);
    sep->setGeometry(8, 89, 100, 2);
    sepHeader = sep;
    label("Title", 94);
    edtSubject = new QLineEdit(grpHeader);
    edtSubject->setObjectName("edtSubject");
    edtSubject->move(kHeaderEditLeft, 94);
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
    tabMailText->addTab(memoBody, "Text");
    auto* htmlPanel = new QFrame(tabMailText);
    htmlPanel->setObjectName("pnlHtml");
    htmlPanel->setFrameShape(QFrame::Panel);
    htmlPanel->setFrameShadow(QFrame::Sunken);
    tabMailText->addTab(htmlPanel, "HTML");
    tabMailText->setCurrentIndex(0);
    textLayout->addWidget(tabMailText);
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
    btnDeleteAttachment->setEnabled(false);
    attLayout->addWidget(btnDeleteAttachment, 0, Qt::AlignTop);
    layout->addWidget(grpAttachments);

    setCentralWidget(central);
    lblStatus = new QLabel(statusBar());
    lblStatus->setObjectName("lblStatus");
    statusBar()->addWidget(lblStatus, 1);
}

bool TPVMainForm::eventFilter(QObject* watched, QEvent* event) {
    // The header edits follow the width of their group.
    if (watched == grpHeader && event->type() == QEvent::Resize) {
        int width = grpHeader->width() - kHeaderEditLeft - 8;
        for (QLineEdit* e : {edtFrom, edtName, edtSubject}) e->resize(std::max(width, 20), 21);
        sepHeader->resize(std::max(grpHeader->width() - 16, 1), 2);
    }
    return QMainWindow::eventFilter(watched, event);
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
    document_.senderName = settings_.name;
    document_.senderAddress = settings_.from;
    edtFrom->setText(FromCp932(document_.senderAddress));
    edtName->setText(FromCp932(document_.senderName));
    edtSubject->setText(FromCp932(document_.subject));
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

void TPVMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (firstPaint_) {
        firstPaint_ = false;
        // After the window has painted once.
        QTimer::singleShot(0, this, &TPVMainForm::FormFirstPaint);
    }
}

void TPVMainForm::AddStartupProblem(const QString& text) { startupProblems_ << text; }

void TPVMainForm::LoadToolbarPictures() {
    // Picture and hint of every toolbar button, in toolbar order.
    struct Button {
        QAction* action;
        const char* picture;
        int hint;
    };
    const Button buttons[] = {
        {actServerSettings, ":/toolbar-server-settings.svg", 9964},
    };
    for (const Button& b : buttons) {
        b.action->setIcon(SvgIcon(b.picture));
        b.action->setToolTip(Str(b.hint));
    }
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
}

void TPVMainForm::FormFirstPaint() {
    LoadToolbarPictures();
    for (const QString& problem : std::as_const(startupProblems_)) {
        ShowInfoMessage(LoadStr(900), ToCp932(problem));
    }
    startupProblems_.clear();

    if (!arguments_.isEmpty()) {
        document_.path = QFile::encodeName(arguments_.first()).toStdString();
        return;
    }
    if (settings_.firstRun) ShowFirstRunWizard();
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
    dialog.setChoiceEnabled(StartChoice::Exit, true);
    RunModal(dialog);
    settings_.startShortcut = dialog.displayNextTime();
    if (dialog.choice() == StartChoice::Exit) QTimer::singleShot(0, this, &QWidget::close);
}

void TPVMainForm::OpenHandedOverDocument(const QByteArray& path) {
    BringToFront();
    document_.path = path.toStdString();
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

void TPVMainForm::ShowAbout() {
    TPVAboutForm about(this);
    RunModal(about);
}

void TPVMainForm::OpenManual() { QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(Paths().manual)))); }

void TPVMainForm::LogOffRequested() { close(); }

void TPVMainForm::closeEvent(QCloseEvent* event) {
    GatherDocument();
    SaveSettings();
    ClearMainPreview();
    ClearWizardPreview();
    SaveWindowPlacement(this, "MainForm");
    closing_ = true;
    event->accept();
}
