#pragma once

#include <QString>
#include <QWidget>

// The embedded browser of the HTML tab: shows one local HTML file, or
// nothing. The browser itself is made on the first page shown, so a window
// that never shows HTML never starts one.
class THtmlView : public QWidget {
    Q_OBJECT
public:
    explicit THtmlView(QWidget* parent = nullptr);

    void ShowFile(const QString& path);
    void ShowBlank();
    // The file shown, empty when blank.
    const QString& shownFile() const { return shown_; }

private:
    QWidget* browser_ = nullptr;
    QString shown_;
};
