#pragma once
#include <QTabWidget>
#include <vector>

#include "device/FusePages.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace kelvano {

class TDevices;

// The fuse page control "CfgCtrl": one tab per controller family (CfgPic, CfgDs9, CfgAvr,
// cfgMega161, cfgMega163). The controls show the FuseModel and write every user change back
// to it at once; they are re-shown whenever the model says it changed. Only the tab of
// FuseModel::shown is visible.
//
// The pages are built from the control table in FuseEditors.cpp. The eight ID boxes (eCfg0..3,
// dId0..3) take one hexadecimal digit, shown in upper case; leaving one runs the exit rule.
class FuseEditors : public QTabWidget {
    Q_OBJECT
public:
    FuseEditors(TDevices& devices, FuseModel& model, QWidget* parent = nullptr);
    ~FuseEditors() override;

    // Re-shows every control and the visible tab from the model.
    void refresh();

    // The tab of a page, or -1.
    int tabOf(FusePage page) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Binding;
    void buildPage(int pageIndex);
    void connectControl(const Binding& b);
    void idEdited(const Binding& b, const QString& text);
    void idLeft(const Binding& b);

    TDevices& devices_;
    FuseModel& model_;
    std::vector<Binding> bindings_;
    std::vector<FusePage> tabPages_;
    bool refreshing_ = false;
};

}  // namespace kelvano
