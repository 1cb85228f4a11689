#include "shell/forms/QtWindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "shell/Commonfunc.h"
#include "shell/IniFile.h"
#include "shell/WindowPlacement.h"

namespace {

QSize ScreenSize(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize(1024, 768);
}

}  // namespace

void RestoreWindowPlacement(QWidget* window, const QString& key) {
    std::string stored = IniReadString(Paths().settingsFile, "WINDOW", key.toStdString(), kDefaultPlacementValue);
    QSize screen = ScreenSize(window);
    TWindowPlacement p = ResolveWindowPlacement(key.toStdString(), stored, screen.width(), screen.height());
    window->setGeometry(p.left, p.top, p.width, p.height);
    Qt::WindowStates states = window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (p.state == 1) states |= Qt::WindowMinimized;
    if (p.state == 2) states |= Qt::WindowMaximized;
    window->setWindowState(states);
}

void SaveWindowPlacement(QWidget* window, const QString& key) {
    // The normal bounds are stored, as they are the ones to come back to.
    QRect r = window->normalGeometry().isValid() ? window->normalGeometry() : window->geometry();
    int state = window->isMaximized() ? 2 : window->isMinimized() ? 1 : 0;
    TWindowPlacement p{r.x(), r.y(), r.width(), r.height(), state};
    IniWriteString(Paths().settingsFile, "WINDOW", key.toStdString(), FormatWindowPlacement(p));
}

void RestoreWindowPosition(QWidget* window, const QString& key) {
    std::string stored = IniReadString(Paths().installFile, "Window", key.toStdString(), kDefaultPlacementValue);
    QSize screen = ScreenSize(window);
    int left = 0, top = 0;
    ResolveWindowPosition(stored, window->width(), window->height(), screen.width(), screen.height(), left, top);
    window->move(left, top);
}
