#pragma once

#include <QString>

class QWidget;

// The window-placement store on real windows: the value lives under
// "WINDOW" / key in the settings file.

void RestoreWindowPlacement(QWidget* window, const QString& key);
void SaveWindowPlacement(QWidget* window, const QString& key);

// Position only, from "Window" / key of the installation file.
void RestoreWindowPosition(QWidget* window, const QString& key);
