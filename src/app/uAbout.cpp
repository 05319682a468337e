#include "app/uAbout.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvano {

// Where the guide and the copyright file are installed: beside the program's folder
// (/usr/bin gives /usr/share/doc/kelvano).
QString TAbout::docFolder() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../" KELVANO_DOCDIR));
}

TAbout::TAbout(QWidget* parent) : QDialog(parent, Qt::Tool) {
    setObjectName(QStringLiteral("About"));
    setWindowTitle(QStringLiteral("Info..."));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    VersLabel = new QLabel(QStringLiteral("KELVANO"), this);
    VersLabel->setObjectName(QStringLiteral("VersLabel"));
    QFont big = VersLabel->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.5);
    VersLabel->setFont(big);
    VersLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(VersLabel);

    auto* version = new QLabel(QStringLiteral("Version " KELVANO_FILE_VERSION), this);
    version->setObjectName(QStringLiteral("LabVersion"));
    version->setAlignment(Qt::AlignCenter);
    layout->addWidget(version);

    auto* models =
        new QLabel(QStringLiteral("Control program for the STRAVINEX smart-card programmer\n"
                                  "models QXBASE (serial) and QXUSB (USB)\n\n"
                                  "Written by the KELVANO developers"),
                   this);
    models->setObjectName(QStringLiteral("LabModels"));
    models->setAlignment(Qt::AlignCenter);
    layout->addWidget(models);

    // A build without a web page names none rather than one that leads nowhere.
    if (const QString page = QStringLiteral(KELVANO_HOMEPAGE); !page.isEmpty()) {
        auto* web = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(page), this);
        web->setObjectName(QStringLiteral("LabWeb"));
        web->setOpenExternalLinks(true);
        web->setAlignment(Qt::AlignCenter);
        layout->addWidget(web);
    }

    const QString docs = docFolder();
    auto* note = new QLabel(
        QStringLiteral("For help on using this program\nplease read the guide:\n%1/guide.md")
            .arg(docs),
        this);
    note->setObjectName(QStringLiteral("LabNote"));
    note->setAlignment(Qt::AlignCenter);
    layout->addWidget(note);

    auto* licence =
        new QLabel(QStringLiteral("Free software under the GNU General Public License,\n"
                                  "version 3 or later (GPL-3.0-or-later).\n"
                                  "It comes with no warranty; see\n%1/copyright.")
                       .arg(docs),
                   this);
    licence->setObjectName(QStringLiteral("LabLicence"));
    licence->setAlignment(Qt::AlignCenter);
    layout->addWidget(licence);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace kelvano
