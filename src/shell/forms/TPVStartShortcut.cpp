#include "shell/forms/TPVStartShortcut.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QToolButton>

#include "shell/forms/QtCodec.h"

namespace {

constexpr QSize kClientSize(493, 256);
constexpr QSize kBackgroundSize(493, 215);
constexpr QSize kPictureButtonSize(100, 130);
constexpr int kPictureButtonTop = 53;

// The picture `resource` drawn at `size` device-independent pixels, sharp on
// the screen `ratio` describes.
QPixmap RenderSvg(const QString& resource, QSize size, qreal ratio) {
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

}  // namespace

TPVStartShortcut::TPVStartShortcut(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(Str(903));
    setFixedSize(kClientSize);
    const qreal ratio = devicePixelRatioF();
    background = RenderSvg(QStringLiteral(":/getting-started.svg"), kBackgroundSize, ratio);

    auto pictureButton = [&](const char* name, const char* resource, const char* toolTip, int left) {
        auto* b = new QToolButton(this);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(QString::fromLatin1(toolTip));
        b->setAutoRaise(true);
        b->setIconSize(kPictureButtonSize);
        b->setIcon(QIcon(RenderSvg(QString::fromLatin1(resource), kPictureButtonSize, ratio)));
        b->setGeometry(QRect(QPoint(left, kPictureButtonTop), kPictureButtonSize));
        b->setEnabled(false);
        return b;
    };
    btnTextMail = pictureButton("btnTextMail", ":/text-mail.svg", "Text Mail", 55);
    btnHtmlMail = pictureButton("btnHtmlMail", ":/html-mail.svg", "HTML Mail", 195);
    btnOpenFile = pictureButton("btnOpenFile", ":/open-file.svg", "Open File", 335);

    btnImport = new QToolButton(this);
    btnImport->setObjectName(QStringLiteral("btnImport"));
    btnImport->setText(QStringLiteral("Import Data File"));
    btnImport->setGeometry(QRect(QPoint(335, kPictureButtonTop), kPictureButtonSize));
    btnImport->setEnabled(false);
    btnImport->hide();

    chkDisplayNextTime = new QCheckBox(QStringLiteral("Display Next Time"), this);
    chkDisplayNextTime->setObjectName(QStringLiteral("chkDisplayNextTime"));
    chkDisplayNextTime->setChecked(true);
    chkDisplayNextTime->adjustSize();

    btnExit = new QPushButton(QStringLiteral("Exit"), this);
    btnExit->setObjectName(QStringLiteral("btnExit"));
    // Return must not quit the application just because Exit is the only push button.
    btnExit->setAutoDefault(false);
    btnExit->resize(88, 26);

    // Check box and Exit sit on the strip below the picture, vertically centred.
    const int stripMiddle = (kBackgroundSize.height() + kClientSize.height()) / 2;
    chkDisplayNextTime->move(16, stripMiddle - chkDisplayNextTime->height() / 2);
    btnExit->move(kClientSize.width() - 16 - btnExit->width(), stripMiddle - btnExit->height() / 2);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    connect(btnTextMail, &QToolButton::clicked, this, &TPVStartShortcut::btnTextMailClick);
    connect(btnHtmlMail, &QToolButton::clicked, this, &TPVStartShortcut::btnHtmlMailClick);
    connect(btnOpenFile, &QToolButton::clicked, this, &TPVStartShortcut::btnOpenFileClick);
    connect(btnImport, &QToolButton::clicked, this, &TPVStartShortcut::btnImportClick);
    connect(btnExit, &QPushButton::clicked, this, &TPVStartShortcut::btnExitClick);
}

StartChoice TPVStartShortcut::choice() const { return chosen; }

bool TPVStartShortcut::displayNextTime() const { return chkDisplayNextTime->isChecked(); }

void TPVStartShortcut::setChoiceEnabled(StartChoice which, bool enabled) {
    if (QToolButton* b = button(which)) b->setEnabled(enabled);
}

QToolButton* TPVStartShortcut::button(StartChoice which) const {
    switch (which) {
        case StartChoice::TextMail:
            return btnTextMail;
        case StartChoice::HtmlMail:
            return btnHtmlMail;
        case StartChoice::OpenFile:
            return btnOpenFile;
        case StartChoice::Import:
            return btnImport;
        case StartChoice::None:
        case StartChoice::Exit:
            break;
    }
    return nullptr;
}

void TPVStartShortcut::btnTextMailClick() { choose(StartChoice::TextMail); }
void TPVStartShortcut::btnHtmlMailClick() { choose(StartChoice::HtmlMail); }
void TPVStartShortcut::btnOpenFileClick() { choose(StartChoice::OpenFile); }
void TPVStartShortcut::btnImportClick() { choose(StartChoice::Import); }
void TPVStartShortcut::btnExitClick() { choose(StartChoice::Exit); }

void TPVStartShortcut::choose(StartChoice which) {
    chosen = which;
    accept();
}

void TPVStartShortcut::done(int result) {
    // Escape or the window manager closing the window is no choice, even
    // after an earlier showing of the dialog ended with one.
    if (result != QDialog::Accepted) chosen = StartChoice::None;
    QDialog::done(result);
}

void TPVStartShortcut::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.drawPixmap(0, 0, background);
}
