#include "shell/forms/HtmlView.h"

#include <QUrl>
#include <QVBoxLayout>

#ifdef PELVANE_WITH_WEBENGINE
#include <QWebEngineView>
#else
#include <QTextBrowser>
#endif

THtmlView::THtmlView(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

void THtmlView::ShowFile(const QString& path) {
    shown_ = path;
    QUrl url = QUrl::fromLocalFile(path);
#ifdef PELVANE_WITH_WEBENGINE
    if (!browser_) {
        browser_ = new QWebEngineView(this);
        layout()->addWidget(browser_);
    }
    static_cast<QWebEngineView*>(browser_)->load(url);
#else
    if (!browser_) {
        browser_ = new QTextBrowser(this);
        layout()->addWidget(browser_);
    }
    static_cast<QTextBrowser*>(browser_)->setSource(url);
#endif
}

void THtmlView::ShowBlank() {
    shown_.clear();
    if (!browser_) return;
#ifdef PELVANE_WITH_WEBENGINE
    static_cast<QWebEngineView*>(browser_)->setUrl(QUrl("about:blank"));
#else
    static_cast<QTextBrowser*>(browser_)->clear();
#endif
}
