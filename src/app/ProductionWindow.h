#pragma once
#include <QDialog>
#include <memory>

#include "production/Job.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;

namespace kelvano {

class ProductionLog;
class ProductionRun;

// Action > Production...: a production run of a job file on one or more boxes, with large
// pass and fail counters, the next serial, the last card's result in colour and the last
// cards of the log. The run works on buffers of its own: the main window's are not touched.
class ProductionWindow : public QDialog {
    Q_OBJECT
public:
    explicit ProductionWindow(QWidget* parent = nullptr);
    ~ProductionWindow() override;

    // Reads a job file; false (with the reason shown in the window) when it is not usable.
    bool openJob(const QString& path);
    // Comma-separated ports ("SIM" for a simulated box that swaps its cards itself).
    void setPorts(const QString& ports);
    bool start();
    void stop();
    bool running() const;

    // For the tests and the screenshots.
    QString passText() const;
    QString failText() const;
    QString nextSerialText() const;
    QString lastResultText() const;
    int logRows() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refresh();
    void showBoxes(int& pass, int& fail);
    void showLog(QString& error);
    void showRunEnd(int pass, int fail);
    void showMessage(const QString& text, bool bad);
    QString logPath() const;

    std::unique_ptr<Job> job_;
    std::unique_ptr<ProductionRun> run_;
    std::unique_ptr<ProductionLog> log_;
    QLabel* jobLabel_;
    QLineEdit* ports_;
    QSpinBox* count_;
    QLineEdit* logEdit_;
    QLabel* pass_;
    QLabel* fail_;
    QLabel* next_;
    QLabel* last_;
    QLabel* boxes_;
    QLabel* message_;
    QTableWidget* table_;
    QPushButton* open_;
    QPushButton* start_;
    QPushButton* stop_;
    QTimer* timer_;
};

}  // namespace kelvano
