#include "app/uConfig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QVBoxLayout>
#include <algorithm>

#include "base/Options.h"

namespace kelvano {

namespace {

struct BoxDef {
    const char* name;
    const char* caption;
    const char* hint;
    bool Options::*option;
};

const BoxDef kBoxes[] = {
    {"cbConAtStart", "Connect to Stravinex at startup", "Connect to QXBASE\nat Startup",
     &Options::conAtStart},
    {"cbLoadAtCon", "Load last files after connect",
     "Execute \"Fast Load\"\nwhen connected to QXBASE", &Options::loadAtCon},
    {"cbSoundReady", "Play sound after programming",
     "Make a noise to remind you\nwhen programming is finished", &Options::soundReady},
    {"cbVerify", "Automatic verify after programming",
     "Verify device with memory\nafter programming", &Options::verify},
    {"cbAlwaysErase", "Always erase device before programming",
     "Always erase device\nbefore programming", &Options::alwaysErase},
    {"cbSmartAuto", "Start programming when inserting card",
     "Start read/program/verify automatically\nwhen smartcard is inserted", &Options::smartAuto},
    {"cbWarnEnable", "Enable warnings", "Enable warnings", &Options::warnEnable},
};

}  // namespace

TConfig::TConfig(Options& options, QWidget* parent) : QDialog(parent), options_(options) {
    setObjectName(QStringLiteral("Config"));
    setWindowTitle(QStringLiteral("Configuration"));
    // A tool window with a title but no buttons in it: only "OK" closes the dialog.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(5);

    auto* portRow = new QHBoxLayout;
    auto* portLabel = new QLabel(QStringLiteral("PORT:"));
    cbComPort_ = new QComboBox;
    cbComPort_->setObjectName(QStringLiteral("cbComPort"));
    cbComPort_->setEditable(false);
    cbComPort_->setToolTip(QStringLiteral("COM-Port setup"));
    cbComPort_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cbComPort_->setMinimumContentsLength(8);
    portLabel->setBuddy(cbComPort_);
    portRow->addWidget(portLabel);
    portRow->addWidget(cbComPort_, 1);
    layout->addLayout(portRow);
    portNote_ = new QLabel(QStringLiteral("Connected: disconnect to choose another port."));
    portNote_->setObjectName(QStringLiteral("PortNote"));
    portNote_->setWordWrap(true);
    layout->addWidget(portNote_);
    connect(cbComPort_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!refreshing_) options_.portIndex = index;
    });

    for (const BoxDef& def : kBoxes) {
        auto* box = new QCheckBox(QLatin1String(def.caption));
        box->setObjectName(QLatin1String(def.name));
        box->setToolTip(QString::fromLatin1(def.hint));
        layout->addWidget(box);
        const auto option = def.option;
        connect(box, &QCheckBox::toggled, this, [this, option](bool on) {
            if (!refreshing_) options_.*option = on;
        });
        boxes_.emplace_back(box, def.option);
    }

    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(QStringLiteral("ButOk"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* okRow = new QHBoxLayout;
    okRow->addStretch(1);
    okRow->addWidget(ok);
    okRow->addStretch(1);
    layout->addSpacing(4);
    layout->addLayout(okRow);

    refresh();
}

void TConfig::refresh() {
    refreshing_ = true;
    if (cbComPort_->count() != options_.ports.size() || [&] {
            for (int i = 0; i < cbComPort_->count(); ++i)
                if (cbComPort_->itemText(i) != options_.ports.at(i)) return true;
            return false;
        }()) {
        cbComPort_->clear();
        cbComPort_->addItems(options_.ports);
    }
    cbComPort_->setCurrentIndex(options_.portIndex < options_.ports.size() ? options_.portIndex
                                                                           : -1);
    cbComPort_->setEnabled(options_.portListEnabled);
    cbComPort_->setToolTip(options_.portListEnabled
                               ? QStringLiteral("COM-Port setup")
                               : QStringLiteral("The box is connected through this port: "
                                                "disconnect to choose another one."));
    portNote_->setVisible(!options_.portListEnabled);
    for (auto& [box, option] : boxes_) box->setChecked(options_.*option);
    refreshing_ = false;
}

void TConfig::showEvent(QShowEvent* event) {
    refresh();
    adjustSize();
    if (QWidget* owner = parentWidget()) {
        const QWidget* top = owner->window();
        move(top->frameGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}

QStringList portList(QStringList systemPorts) {
    std::sort(systemPorts.begin(), systemPorts.end());  // as strings: COM10 before COM2
    systemPorts.removeAll(QStringLiteral("USB"));
    systemPorts.removeAll(QStringLiteral("SIM"));
    systemPorts << QStringLiteral("USB") << QStringLiteral("SIM");
    return systemPorts;
}

QStringList ListSerialPorts() {
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString name =
            info.systemLocation().isEmpty() ? info.portName() : info.systemLocation();
        if (!names.contains(name)) names << name;
    }
    return portList(names);
}

}  // namespace kelvano
