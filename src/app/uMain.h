#pragma once
#include <QColor>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "base/Host.h"
#include "base/MainView.h"
#include "base/Options.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "session/Settings.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QGroupBox;
class QHBoxLayout;
class QMenu;
class QPlainTextEdit;
class QTabWidget;
class QToolBar;
class QToolButton;
class QVBoxLayout;

namespace kelvano {

class DumpGridView;
class GridEditing;

// The connection lamp of the first toolbar: bright red when lit, maroon when dark.
class LedLamp : public QWidget {
    Q_OBJECT
public:
    explicit LedLamp(QWidget* parent = nullptr);
    bool isLit() const { return lit_; }
    void setLit(bool lit);
    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool lit_ = false;
};

// What an open or save dialog is asked to show, and what the user chose.
struct FileDialogRequest {
    bool save = false;
    QString title;
    QString directory;    // initial directory
    QString fileName;     // initial file name
    QStringList filters;  // in the dialog's order; filterIndex counts from 1
    int filterIndex = 1;
};
struct FileDialogChoice {
    QString fileName;
    int filterIndex = 1;
};
using FileDialogHook = std::function<std::optional<FileDialogChoice>(const FileDialogRequest&)>;

// The answer to "edits not saved": save them first, drop them, or leave things as they are.
enum class UnsavedChoice { Save, Discard, Cancel };
using UnsavedQuestionHook = std::function<UnsavedChoice(const QString& text)>;

// "desc|pattern;pattern|desc|pattern" as file dialogs of this system want them:
// "desc (pattern pattern)", one entry per pair, in the same order. "*.*" means every file.
QStringList qtFileFilters(const QString& pairs);

// The open filters and the save filter of the file commands.
extern const char* const kPicOpenFilter;
extern const char* const kAvrFlashOpenFilter;
extern const char* const kAvrEepromOpenFilter;
extern const char* const kSlot3OpenFilter;
extern const char* const kSaveFilter;

// The main window: memory pages with the three dump grids, the fuse pages, the Enable boxes,
// the toolbars and menus, the card type catalogue in the Devices menu, the open and save
// commands, and the start-up and close sequences.
class TMain : public QMainWindow, public MainView {
    Q_OBJECT
public:
    // The calls the window makes into the other modules. Each may be left empty; the command
    // that needs it then does nothing.
    struct Links {
        std::function<void()> fillPortList;         // the configuration dialog's port list
        std::function<void(bool write)> iniConfig;  // "Config" section
        std::function<void(bool write)> iniDevice;  // section of the selected card type
        std::function<void()> connect;
        std::function<void()> disconnect;
        std::function<bool()> portOpen;  // serial port open
        std::function<bool()> usbConnected;
        std::function<bool(const QString& name, int slot)> openFile;
        std::function<bool(const QString& name, int slot, int filterIndex)> saveFile;
        std::function<void()> showConfig;               // modal configuration dialog
        std::function<void(int actionCode)> runAction;  // ActionMode := code, modal dialog
        std::function<void()> showAbout;
        std::function<void(int code)> deviceApplied;  // after ApplyDevice, with the code
        // Where the window was: read after the "Config" section, written after it at close.
        std::function<void(WindowPlacement& placement, bool write)> iniWindow;
    };

    TMain(Host& host, Options& options, EnableBoxes& boxes, FuseModel& fuses, SlotFiles& files,
          QWidget* parent = nullptr);
    ~TMain() override;

    // Binds the window to the selected card state (its grids) and the other modules. Called
    // once, after all modules exist and before the window is first shown. `fuseEditors`, when
    // given, becomes the fuse page control.
    void wire(TDevices& devices, Links links, QWidget* fuseEditors = nullptr);
    // The program's folder (with a trailing separator); the show handler takes the folder of
    // the program file unless one was set here first.
    void setProgramDir(const QString& dir) { ProgDir = dir; }
    // Replaces the file dialogs (tests drive the commands without real dialogs).
    void setFileDialogHook(FileDialogHook hook) { fileDialog_ = std::move(hook); }
    // Replaces the question asked before edits that are not saved would be lost.
    void setUnsavedQuestionHook(UnsavedQuestionHook hook) { unsavedQuestion_ = std::move(hook); }
    // Title and file version ("KELVANO 2.5", "2.5.0.2").
    static QString programTitle();
    static QString fileVersion();

    int DeviceId() const { return devices_ ? devices_->DeviceId : 10; }
    void setDeviceId(int code) {
        if (devices_) devices_->DeviceId = code;
    }
    TDevices* devices() const { return devices_; }
    const SlotFiles& slotFiles() const { return files_; }

    QString ProgDir;
    QString CrdPath;
    int FillTarget = 1;
    int FillValue = 255;

    // ---- start, card type, commands ----
    void FormShow();
    void Startup();
    void FormClose();
    void ApplyDevice();
    void ChgDev(int code);
    void ButConnectClick(bool down);
    void FormKeyDown(int key);
    void ActExecute(int actionCode);
    void ActConfigExecute();
    void Info1Click();
    void GridContextPopup(int tag);
    void PopFillClick(int tag);
    // Open and save commands.
    void ActOpenClick(int slot);
    // True when the buffer was written.
    bool ActSaveExecute(int slot);
    void FastOpenExecute();
    void BtnOpenDropDown(int slot);
    void PopFilesClick(QAction* item);
    QStringList openFilters(int slot) const;
    // The open or save dialog (or the hook that replaces it).
    std::optional<FileDialogChoice> askFile(const FileDialogRequest& request);
    // Before a command drops the buffers of the slots `which` (all when empty): when some of
    // them hold edits that are not saved, asks whether to save them first. False when the
    // command is not to go on (cancelled, or a save that did not happen).
    bool keepEditsBefore(const QString& doing, const std::vector<int>& which = {});

    // ---- layout ----
    // The smallest size of the window and the one it first has: the designed client area,
    // unless this platform's fonts make the controls need more.
    QSize designedSize() const { return designedSize_; }
    WindowPlacement placement() const;
    // Puts the window where it was, or centres it at its designed size.
    void applyPlacement(const WindowPlacement& placement);
    // A panel (a report, the find bar) under the memory pages, hidden until shown; the grids
    // give it their height and keep their selected row in view.
    void addPanelBelowPages(QWidget* panel);
    void keepSelectionInView();

    // ---- MainView ----
    void setLamp(bool lit) override;
    void toggleLamp() override;
    void showConnected(bool connected) override;
    void setQxPane(const QString& text) override;
    void appendDebug(const QString& line) override;
    void fastOpen() override { FastOpenExecute(); }
    void showMemoryPage(int page) override;
    void setFileLabel(int grid, const QString& text) override;

    // ---- controls (named as in the form; tests and the other modules find them here) ----
    QAction *ActExit, *ActOpen1, *ActOpen2, *ActOpen3, *FastOpen, *ActSave1, *ActSave2, *ActSave3;
    QAction *ActConfig, *ActRead, *ActErase, *ActBlankChk, *ActVerify, *ActProg, *Act2Prg;
    QAction *Mnu2Prg, *Info1;
    QMenu *MnuFile, *MnuDevices, *MnuAction, *MnuHelp, *PopFill;
    std::array<QMenu*, 4> PopFiles{};  // per open button 1..3
    QAction *FillFF, *Fill00;
    QActionGroup* DevGroup;
    QToolBar *ToolBar1, *ToolBar2;
    QToolButton *BtnExit, *BtnUtilities, *ButConnect;
    std::array<QToolButton*, 4> BtnOpen{}, BtnSave{};
    LedLamp* Led1;
    QLabel *QxPane, *DevPane, *ComPane;
    QTabWidget* PageCtl;
    QWidget *Pg1, *Pg2, *PageDebug;
    QPlainTextEdit* Memo1;
    DumpGridView *pGrid, *dGrid, *eGrid;
    QLabel *LabProgMem, *LabDataMem, *LabEepMem, *LabFnProgMem, *LabFnDataMem, *LabFnEepMem;
    // The title row over grid 1..3: caption, slot number, file name. A widget added at its
    // end sits right of the file name, which gives way to it.
    std::array<QHBoxLayout*, 4> TitleRow{};
    QVBoxLayout* LeftColumn = nullptr;  // the memory pages, then the panels under them
    QWidget* CfgCtrl;                   // the fuse page control
    QWidget* CfgPanel;
    QGroupBox* GrpEnable;
    QCheckBox *cbProgMem, *cbDataMem, *cbConfig, *cbEepMem;
    QTimer Timer1;
    // Edit mode, undo, go to, find and the comparisons (made by wire()).
    GridEditing* Editing = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Names and colour of one memory grid and its title row.
    struct GridNames {
        QString title;
        QString slotLabel;
        QString fileLabel;
        QString grid;
        QColor colour;
    };
    // The window is built in this order: actions, menus, toolbars, central area, status bar.
    void buildActions();
    void createActions();
    void setActionIcons();
    void connectActions();
    void buildMenus();
    void buildFileMenu();
    void buildDevicesMenu();
    void buildActionMenu();
    void buildHelpMenu();
    void buildFillMenu();
    void buildToolBars();
    void buildFileToolBar();
    void addSlotButtons(int slot);
    void buildActionToolBar();
    void buildCentral();
    void buildMemoryPages();
    QWidget* addMemoryPage(const QString& name, QVBoxLayout*& column);
    DumpGridView* addMemoryGrid(QVBoxLayout* column, const GridNames& names, QLabel*& slot,
                                QLabel*& file, int tag);
    void buildDebugPage();
    void connectGridPopups();
    void buildFuseHolder(QWidget* column, QVBoxLayout* right);
    void buildEnablePanel(QWidget* column, QVBoxLayout* right);
    void buildStatusBar();
    void AddDeviceItem(int code, const QString& caption);
    void refreshEnableBoxes();
    void refreshDeviceTicks();
    void fitDesignedSize();
    std::vector<int> editedSlots(const std::vector<int>& which) const;
    void setComPane(const QString& port);
    QAction* openAction(int slot) const;
    QAction* saveAction(int slot) const;
    void busyStarted();
    void busyEnded();

    Host& host_;
    Options& options_;
    EnableBoxes& boxes_;
    FuseModel& fuses_;
    SlotFiles& files_;
    TDevices* devices_ = nullptr;
    Links links_;
    FileDialogHook fileDialog_;
    UnsavedQuestionHook unsavedQuestion_;
    QString lastDir_;  // the folder of the file last chosen in an open or save dialog
    QSize designedSize_;
    QWidget* cfgHolder_ = nullptr;
    bool shown_ = false;
    bool closed_ = false;
    // Set while a command fills buffers and grids. Filling lets pending events run, so a menu
    // command could otherwise resize the buffers under the running fill.
    int busy_ = 0;
    struct BusyScope {
        explicit BusyScope(TMain& m) : main(m) {
            if (main.busy_++ == 0) main.busyStarted();
        }
        ~BusyScope() {
            if (--main.busy_ == 0) main.busyEnded();
        }
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;
        TMain& main;
    };
};

}  // namespace kelvano
