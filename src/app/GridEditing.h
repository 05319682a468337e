#pragma once
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <map>
#include <optional>

#include "device/BufferHistory.h"
#include "device/Compare.h"
#include "device/uDevices.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QRadioButton;

namespace kelvano {

class ComparePanel;
class DumpGridView;
class FuseModel;
class Host;
class TMain;

// What the main window offers beyond its hex views: the edit mode with undo and redo, go to
// address, find, and the comparisons (with a file, with the card) whose differences are
// listed in a dialog and marked in the grids. Without these commands the window behaves as
// before: the edit mode starts off and the marks appear only after a comparison.
class GridEditing : public QObject {
    Q_OBJECT
public:
    GridEditing(TMain& main, TDevices& devices, Host& host, FuseModel& fuses);
    ~GridEditing() override;

    // The card comparison of the program (reads the card into scratch buffers); the
    // command stays without effect until it is set.
    void setCardCompare(std::function<std::optional<CompareReport>()> compare) {
        cardCompare_ = std::move(compare);
    }

    // ---- commands ----
    void setEditMode(bool on);
    bool editMode() const { return editMode_; }
    void undo();
    void redo();
    // Go to an address (hex) in the focused grid; false (with a message) when it is not one.
    bool goToAddress(const QString& text);
    // Finds the next or previous occurrence in the focused grid from its cursor; the element
    // found, or -1 (with the reason in lastMessage()).
    int find(const QString& input, bool asHex, bool forward);
    // Compares the buffers of the focused grid's slot with a file, and with the card.
    void compareWithFile(const QString& name);
    void compareWithFileAsked();
    void compareWithCard();
    void showReport(const CompareReport& report);
    // Records what the last command changed in the buffers, so that it can be undone. The
    // window calls it after every command that may have changed a buffer.
    void commandDone();
    // The file the buffers of `slot` hold now, as undo and redo leave them (empty: blank,
    // filled or read from a card); the save command proposes it.
    QString bufferFile(int slot) const;
    // True when a buffer of `slot` was edited since it was loaded, filled or saved.
    bool slotEdited(int slot) const;
    // A save of `slot` to `name`: the buffers now hold that file, unedited.
    void saved(int slot, const QString& name);

    DumpGridView* focusedGrid() const;
    DumpGridView* view(int grid) const;
    BufferHistory& history() { return history_; }
    ComparePanel* comparePanel() const { return panel_; }
    QWidget* findBar() const { return findBar_; }
    QString lastMessage() const { return lastMessage_; }

    QAction *ActEditMode, *ActUndo, *ActRedo, *ActGoTo, *ActFind, *ActCompare, *ActCompareFile;
    QMenu* MnuEdit;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildActions();
    void onTyped(DumpGridView* view, int element, int sub, bool inText, QChar key);
    void onGridChanged(int grid);
    void redraw(const std::vector<int>& grids);
    void renderLabel(int grid);
    QLabel* label(int grid) const;
    void refreshActions();
    void say(DumpGridView* view, const QString& text);
    void showFind();
    void buildFindBar();
    // The edited marks: the cells whose value differs from the buffer as it was loaded,
    // filled or saved, whatever undo and redo did in between.
    void refreshEditedMarks();
    TBufArray& buffer(int grid);
    std::vector<int> gridsOfSlot(int slot) const;
    int slotOfGrid(int grid) const;

    TMain& main_;
    TDevices& devices_;
    Host& host_;
    FuseModel& fuses_;
    BufferHistory history_;
    std::array<QString, 4> rendered_;
    int deviceId_ = -1;
    bool editMode_ = false;
    bool editing_ = false;  // a cell edit is redrawing its grid
    DumpGridView* lastFocused_ = nullptr;
    ComparePanel* panel_ = nullptr;
    QWidget* findBar_ = nullptr;
    QLineEdit* findText_ = nullptr;
    QRadioButton* findHex_ = nullptr;
    QLabel* findStatus_ = nullptr;
    // Per grid, the buffer as it was when it last held each file unedited ("" for none).
    std::array<std::map<QString, TBufArray>, 4> baselines_;
    QString lastMessage_;
    std::function<std::optional<CompareReport>()> cardCompare_;
};

}  // namespace kelvano
