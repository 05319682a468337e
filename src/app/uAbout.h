#pragma once
#include <QDialog>

class QLabel;

namespace kelvano {

// The about box ("Info..."): the program's title, the programmer models it drives, and where
// to find help.
class TAbout : public QDialog {
    Q_OBJECT
public:
    explicit TAbout(QWidget* parent = nullptr);
    // The folder of the installed guide and copyright file.
    static QString docFolder();
    // The title label, written by the main window when it is first shown.
    QLabel* VersLabel;
};

}  // namespace kelvano
