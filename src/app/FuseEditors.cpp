#include "app/FuseEditors.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QValidator>

#include "device/uDevices.h"

namespace kelvano {

namespace {

enum class Kind { Check, List, Id };

using FlagOf = bool& (*)(FuseModel&);
using IndexOf = int& (*)(FuseModel&);
using ItemsOf = const QStringList& (*)();

// One control of a page. For the two PIC pages and the ATmega163 page the model fields are the
// controls' view of CfgWord, IdBuf and the ATmega fuse bytes; the bit mapping between the two
// is done by the Refresh/Read functions of the fuse pages.
struct ControlDef {
    Kind kind;
    const char* name;
    const char* caption;
    FlagOf flag = nullptr;    // Check
    IndexOf index = nullptr;  // List
    ItemsOf items = nullptr;  // List
    int tag = 0;              // Id: the IdBuf entry
};

struct GroupDef {
    const char* title;  // nullptr: no frame; "": a frame without a title
    int columns;        // check boxes per row; with more than one, a list shares its row
                        // with its caption
    std::vector<ControlDef> controls;
};

struct PageDef {
    FusePage page;
    const char* name;
    const char* caption;
    std::vector<GroupDef> groups;
};

#define FLAG(expr) ([](FuseModel& m) -> bool& { return m.expr; })
#define INDEX(expr) ([](FuseModel& m) -> int& { return m.expr; })

ControlDef check(const char* name, const char* caption, FlagOf f) {
    return {Kind::Check, name, caption, f};
}
ControlDef list(const char* name, const char* caption, IndexOf i, ItemsOf items) {
    return {Kind::List, name, caption, nullptr, i, items};
}
ControlDef id(const char* name, int tag) {
    static const char* const digits[] = {"0", "1", "2", "3"};
    return {Kind::Id, name, digits[tag], nullptr, nullptr, nullptr, tag};
}

const std::vector<PageDef>& pages() {
    static const std::vector<PageDef> table{
        {FusePage::CfgPic,
         "CfgPic",
         "16F84 Fuses",
         {{"ID", 4, {id("eCfg0", 0), id("eCfg1", 1), id("eCfg2", 2), id("eCfg3", 3)}},
          {"",
           2,
           {list("cbPOsc", "Oscillator", INDEX(pic84.osc), picOscillatorItems),
            check("cbPWdt", "WDT", FLAG(pic84.wdt)), check("cbPpwrte", "PWRTE", FLAG(pic84.pwrte)),
            check("cbPcp", "CP", FLAG(pic84.cp))}}}},
        {FusePage::CfgDs9,
         "CfgDs9",
         "16F876 Fuses",
         {{"ID", 4, {id("dId0", 0), id("dId1", 1), id("dId2", 2), id("dId3", 3)}},
          {"",
           2,
           {list("cbFosc", "Oscillator", INDEX(pic876.fosc), picOscillatorItems),
            check("cbWdte", "WDTE", FLAG(pic876.wdte)),
            check("cbPwrte", "PWRTE", FLAG(pic876.pwrte)),
            check("cbBoden", "BODEN", FLAG(pic876.boden)), check("cbLvp", "LVP", FLAG(pic876.lvp)),
            check("cbCpd", "CPD", FLAG(pic876.cpd)), check("cbWrt", "WRT", FLAG(pic876.wrt)),
            check("chkDebug", "DEBUG", FLAG(pic876.debug)),
            list("cbCp", "Code protection", INDEX(pic876.cp), pic876CodeProtectItems)}}}},
        {FusePage::CfgAvr,
         "CfgAvr",
         "AVR Fuses",
         {{nullptr,
           1,
           {check("cbLockBit1", "Lockbit 1", FLAG(avr.lockBit1)),
            check("cbLockBit2", "Lockbit 2", FLAG(avr.lockBit2)),
            check("cbAvrFuse", "FSTRT", FLAG(avr.avrFuse))}}}},
        // Long captions get a row of their own so that the pages stay narrow.
        {FusePage::cfgMega161,
         "cfgMega161",
         "ATMega161 Fuses",
         {{nullptr,
           1,
           {list("cb161osc", "Oscillator Mode", INDEX(mega161.osc), mega161OscillatorItems)}},
          {nullptr,
           2,
           {check("chk161blb11", "BLB11", FLAG(mega161.blb11)),
            check("chk161blb12", "BLB12", FLAG(mega161.blb12)),
            check("chk161blb02", "BLB02", FLAG(mega161.blb02)),
            check("chk161blb01", "BLB01", FLAG(mega161.blb01)),
            check("chk161lb1", "LB1", FLAG(mega161.lb1)),
            check("chk161lb2", "LB2", FLAG(mega161.lb2))}},
          {nullptr,
           1,
           {check("chk161boden", "BODEN", FLAG(mega161.boden)),
            check("chk161bodlevel", "BODLEVEL", FLAG(mega161.bodlevel)),
            check("chk161bootrst", "BOOTRST", FLAG(mega161.bootrst))}}}},
        {FusePage::cfgMega163,
         "cfgMega163",
         "ATMega163 Fuses",
         {{nullptr,
           1,
           {list("cb163osc", "Oscillator Mode", INDEX(mega163.osc), mega163OscillatorItems),
            check("chk163boden", "BODEN", FLAG(mega163.boden)),
            check("chk163bodlevel", "BODLEVEL", FLAG(mega163.bodlevel)),
            check("chk163bootrst", "BOOTRST", FLAG(mega163.bootrst)),
            list("cb163bootsize", "Bootloader size", INDEX(mega163.bootSize),
                 mega163BootSizeItems)}},
          {nullptr,
           2,
           {check("chk163lb1", "LB1", FLAG(mega163.lb1)),
            check("chk163lb2", "LB2", FLAG(mega163.lb2)),
            check("chk163blb01", "BLB01", FLAG(mega163.blb01)),
            check("chk163blb02", "BLB02", FLAG(mega163.blb02)),
            check("chk163blb11", "BLB11", FLAG(mega163.blb11)),
            check("chk163blb12", "BLB12", FLAG(mega163.blb12))}}}},
    };
    return table;
}

#undef FLAG
#undef INDEX

// One hexadecimal digit, shown in upper case; also guards against pasted text.
class HexDigitValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        if (input.size() > 1) return Invalid;
        for (QChar c : input)
            if (!eCfgKeyAccepted(c) || c == QChar(8)) return Invalid;
        return Acceptable;
    }
};

// Places the controls of one group: rows of `columns` check or ID boxes; a list starts a row of
// its own.
class GroupGrid {
public:
    GroupGrid(QGridLayout* grid, int columns) : grid_(grid), columns_(columns) {}
    // A short caption goes beside its list (when the group has columns to spare), a long one
    // above it.
    void addList(QLabel* label, QComboBox* combo, bool shortCaption) {
        newRow();
        if (columns_ > 1 && shortCaption) {
            grid_->addWidget(label, row_, 0);
            grid_->addWidget(combo, row_++, 1, 1, columns_ - 1);
        } else {
            grid_->addWidget(label, row_++, 0, 1, columns_);
            grid_->addWidget(combo, row_++, 0, 1, columns_);
        }
    }
    void addCell(QWidget* widget) {
        grid_->addWidget(widget, row_, col_);
        nextCell();
    }
    void addCell(QLayout* layout) {
        grid_->addLayout(layout, row_, col_);
        nextCell();
    }

private:
    void nextCell() {
        if (++col_ == columns_) newRow();
    }
    void newRow() {
        if (col_ != 0) ++row_;
        col_ = 0;
    }
    QGridLayout* grid_;
    int columns_;
    int row_ = 0, col_ = 0;
};

// A frame with the group's title, or a plain widget for a group without one; its grid.
QWidget* groupBox(const GroupDef& group, QGridLayout*& grid) {
    QWidget* box = group.title ? new QGroupBox(QLatin1String(group.title)) : new QWidget;
    grid = new QGridLayout(box);
    const int margin = group.title ? 4 : 0;
    grid->setContentsMargins(margin, margin, margin, margin);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    return box;
}

QComboBox* listControl(const ControlDef& c, GroupGrid& at, const QFont& font) {
    auto* label = new QLabel(QLatin1String(c.caption));
    auto* combo = new QComboBox;
    combo->addItems(c.items());
    label->setBuddy(combo);
    at.addList(label, combo, QFontMetrics(font).horizontalAdvance(label->text()) < 80);
    return combo;
}

// What a ticked lock bit box does to the card it is programmed into.
QString lockBitHint(const QString& name) {
    static const std::pair<const char*, const char*> hints[] = {
        {"LockBit1", "lock bit 1 is programmed: the flash and EEPROM can no longer be programmed"},
        {"LockBit2",
         "lock bit 2 is programmed: together with lock bit 1, the flash and EEPROM can no longer "
         "be read back (verify) either"},
        {"lb1", "LB1 is programmed (0): the flash and EEPROM can no longer be programmed"},
        {"lb2",
         "LB2 is programmed (0): together with LB1, the flash and EEPROM can no longer be read "
         "back (verify) either"},
        {"blb01", "BLB01 is programmed (0): SPM may not write to the application section"},
        {"blb02",
         "BLB02 is programmed (0): LPM in the boot loader section may not read the application "
         "section"},
        {"blb11", "BLB11 is programmed (0): SPM may not write to the boot loader section"},
        {"blb12",
         "BLB12 is programmed (0): LPM in the application section may not read the boot loader "
         "section"},
    };
    for (const auto& [suffix, hint] : hints)
        if (name.endsWith(QLatin1String(suffix)))
            return QStringLiteral("Ticked: %1, from the next Program on, until the card is erased.")
                .arg(QLatin1String(hint));
    return {};
}

QCheckBox* checkControl(const ControlDef& c, GroupGrid& at) {
    auto* tick = new QCheckBox(QLatin1String(c.caption));
    tick->setToolTip(lockBitHint(QLatin1String(c.name)));
    at.addCell(tick);
    return tick;
}

// An ID box: its digit as the caption, one hexadecimal digit in a fixed-width font.
QLineEdit* idControl(const ControlDef& c, GroupGrid& at, const QFont& font) {
    auto* cell = new QHBoxLayout;
    cell->setSpacing(2);
    auto* label = new QLabel(QLatin1String(c.caption));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* edit = new QLineEdit(QStringLiteral("F"));
    edit->setMaxLength(1);
    edit->setAlignment(Qt::AlignHCenter);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(font.pointSizeF());
    edit->setFont(fixed);
    edit->setValidator(new HexDigitValidator(edit));
    const int width = QFontMetrics(fixed).horizontalAdvance(u'W') + 14;
    edit->setFixedWidth(width);
    label->setBuddy(edit);
    cell->addWidget(label);
    cell->addWidget(edit);
    at.addCell(cell);
    return edit;
}

QWidget* control(const ControlDef& c, GroupGrid& at, const QFont& font) {
    switch (c.kind) {
        case Kind::List:
            return listControl(c, at, font);
        case Kind::Check:
            return checkControl(c, at);
        case Kind::Id:
            return idControl(c, at, font);
    }
    return nullptr;
}

}  // namespace

struct FuseEditors::Binding {
    const ControlDef* def;
    FusePage page;
    QWidget* widget;
};

FuseEditors::FuseEditors(TDevices& devices, FuseModel& model, QWidget* parent)
    : QTabWidget(parent), devices_(devices), model_(model) {
    setObjectName(QStringLiteral("CfgCtrl"));
    for (int i = 0; i < static_cast<int>(pages().size()); ++i) buildPage(i);
    connect(&model_, &FuseModel::changed, this, &FuseEditors::refresh);
    refresh();
}

FuseEditors::~FuseEditors() = default;

int FuseEditors::tabOf(FusePage page) const {
    for (size_t i = 0; i < tabPages_.size(); ++i)
        if (tabPages_[i] == page) return static_cast<int>(i);
    return -1;
}

void FuseEditors::buildPage(int pageIndex) {
    const PageDef& def = pages()[static_cast<size_t>(pageIndex)];
    auto* page = new QWidget;
    page->setObjectName(QLatin1String(def.name));
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(3, 3, 3, 3);
    column->setSpacing(3);

    for (const GroupDef& group : def.groups) {
        QGridLayout* grid = nullptr;
        QWidget* box = groupBox(group, grid);
        GroupGrid at(grid, group.columns);
        for (const ControlDef& c : group.controls) {
            QWidget* w = control(c, at, font());
            connectControl(Binding{&c, def.page, w});
            w->setObjectName(QLatin1String(c.name));
            bindings_.push_back({&c, def.page, w});
        }
        column->addWidget(box);
    }
    column->addStretch(1);

    addTab(page, QLatin1String(def.caption));
    tabPages_.push_back(def.page);
}

// Every change of a control goes to the model at once; leaving an ID box runs its exit rule
// (see eventFilter).
void FuseEditors::connectControl(const Binding& b) {
    const ControlDef* c = b.def;
    switch (c->kind) {
        case Kind::List:
            connect(static_cast<QComboBox*>(b.widget), &QComboBox::currentIndexChanged, this,
                    [this, c](int index) {
                        if (!refreshing_ && index >= 0) c->index(model_) = index;
                    });
            break;
        case Kind::Check:
            connect(static_cast<QCheckBox*>(b.widget), &QCheckBox::toggled, this,
                    [this, c](bool on) {
                        if (!refreshing_) c->flag(model_) = on;
                    });
            break;
        case Kind::Id: {
            b.widget->installEventFilter(this);
            const FusePage page = b.page;
            connect(static_cast<QLineEdit*>(b.widget), &QLineEdit::textEdited, this,
                    [this, c, page](const QString& text) {
                        idEdited(Binding{c, page, nullptr}, text);
                    });
            break;
        }
    }
}

void FuseEditors::refresh() {
    refreshing_ = true;
    for (const Binding& b : bindings_) {
        const ControlDef& c = *b.def;
        switch (c.kind) {
            case Kind::Check:
                static_cast<QCheckBox*>(b.widget)->setChecked(c.flag(model_));
                break;
            case Kind::List:
                static_cast<QComboBox*>(b.widget)->setCurrentIndex(c.index(model_));
                break;
            case Kind::Id: {
                const auto& ids = b.page == FusePage::CfgPic ? model_.pic84.id : model_.pic876.id;
                auto* edit = static_cast<QLineEdit*>(b.widget);
                const QString text = ids[static_cast<size_t>(c.tag)].left(1).toUpper();
                if (edit->text() != text) edit->setText(text);
                break;
            }
        }
        if (b.widget->objectName() == QLatin1String("cbAvrFuse")) {
            auto* box = static_cast<QCheckBox*>(b.widget);
            if (!model_.avr.fuseCaption.isEmpty()) box->setText(model_.avr.fuseCaption);
            box->setVisible(model_.avr.fuseVisible);
        }
    }
    const int shown = tabOf(model_.shown);
    for (int i = 0; i < count(); ++i) setTabVisible(i, i == shown);
    if (shown >= 0) setCurrentIndex(shown);
    refreshing_ = false;
}

void FuseEditors::idEdited(const Binding& b, const QString& text) {
    auto& ids = b.page == FusePage::CfgPic ? model_.pic84.id : model_.pic876.id;
    ids[static_cast<size_t>(b.def->tag)] = text;
    // A typed digit is the ID at once, so that a save or a program started from a shortcut
    // while the box still has the focus takes it. Leaving the box then runs the full rule.
    bool ok = false;
    const unsigned value = text.toUInt(&ok, 16);
    if (ok && !text.isEmpty()) {
        if (devices_.IdBuf.length() <= b.def->tag) devices_.IdBuf.values().resize(5, 0x000F);
        devices_.IdBuf[b.def->tag] = static_cast<uint16_t>(value & 0x3FFF);
    }
}

void FuseEditors::idLeft(const Binding& b) {
    auto* edit = static_cast<QLineEdit*>(b.widget);
    eCfgExit(devices_, model_, b.page == FusePage::CfgDs9, b.def->tag, edit->text());
}

bool FuseEditors::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::FocusOut)
        return QTabWidget::eventFilter(watched, event);
    for (const Binding& b : bindings_) {
        if (b.widget != watched) continue;
        if (event->type() == QEvent::KeyPress) {
            // Only typed characters are filtered; editing and navigation keys pass.
            const QString text = static_cast<QKeyEvent*>(event)->text();
            if (text.size() == 1 && text[0].isPrint() && !eCfgKeyAccepted(text[0])) return true;
        } else {
            // Switching to another window or opening a menu is not leaving the box.
            const Qt::FocusReason why = static_cast<QFocusEvent*>(event)->reason();
            if (why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason &&
                why != Qt::MenuBarFocusReason)
                idLeft(b);
        }
        break;
    }
    return QTabWidget::eventFilter(watched, event);
}

}  // namespace kelvano
