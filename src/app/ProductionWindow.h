#pragma once
#include <QDialog>
#include <QList>
#include <memory>

#include "production/Job.h"
#include "production/ProductionLog.h"

class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QTableWidget;
class QTimer;

namespace kelvano {

class BoxTile;
class ProductionChart;
class ProductionLog;
class ProductionRun;

// Action > Production...: a production run of a job file on one or more boxes, with large
// pass, fail and abort counters, the next serial, a tile per box, a chart of the run and the
// last cards of the log. The run works on buffers of its own: the main window's are not
// touched.
class ProductionWindow : public QDialog {
    Q_OBJECT
public:
    explicit ProductionWindow(QWidget* parent = nullptr);
    ~ProductionWindow() override;

    // Reads a job file; false (with the reason shown in the window) when it is not usable,
    // and then no job stays loaded.
    bool openJob(const QString& path);
    // Comma-separated ports: serial ports, "USB", or "SIM" for a simulated box that swaps its
    // cards itself; "SIM(FAULT;FAULT...)" gives that box faults in kelvano-boxsim's --fault
    // syntax.
    void setPorts(const QString& ports);
    bool start();
    // Ends the run as Ctrl-C does in the terminal: the cards in work are aborted, their
    // serials given back, and the summary is shown when every box is idle.
    void stop();
    bool running() const;
    // Settles a serial that a run which died left unconfirmed in the shown log, as
    // `kelvano-cli log settle` does; false (with the reason shown) when the log refuses.
    bool settle(const QString& serial, ProductionLog::Settle how);
    // The unconfirmed serials of the shown log.
    QStringList unconfirmed();

    // For the tests and the screenshots.
    QString passText() const;
    QString failText() const;
    QString abortedText() const;
    QString nextSerialText() const;
    QString messageText() const;
    QList<BoxTile*> tiles() const { return tiles_; }
    // The log of the next run: the Log field's (a server address whole, with the password the
    // field does not show), else the job's.
    QString logPath() const;
    int logRows() const;

public slots:
    // Escape: while a run is on, the same question as closing the window.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildLayout();
    void refresh();
    void showBoxes(int& pass, int& fail, int& aborted);
    void showLog();
    void showCards();
    void showRunEnd(int pass, int fail, int aborted);
    void showMessage(const QString& text, bool bad);
    void setEditable(bool on);
    void makeTiles();
    void fitTiles();
    bool askToStop();
    void askSettle();
    void maskLog();

    std::unique_ptr<Job> job_;
    std::unique_ptr<ProductionRun> run_;
    std::unique_ptr<ProductionLog> log_;
    QString logShown_;    // the log that log_ reads
    QString logAddress_;  // the server address the Log field shows without its password
    bool stopAsked_ = false;
    bool closeWhenIdle_ = false;
    QLabel* jobLabel_;
    QLineEdit* ports_;
    QSpinBox* count_;
    QLineEdit* logEdit_;
    QLabel* pass_;
    QLabel* fail_;
    QLabel* aborted_;
    QLabel* next_;
    QGridLayout* tileGrid_;
    QScrollArea* tileArea_;
    QList<BoxTile*> tiles_;
    ProductionChart* chart_;
    QLabel* message_;
    QTableWidget* table_;
    QLineEdit* find_;  // a serial whose cards the table shows; empty: the last cards
    QPushButton* open_;
    QPushButton* start_;
    QPushButton* stop_;
    QPushButton* settle_;
    QTimer* timer_;
    QTimer* logEdited_;
};

}  // namespace kelvano
