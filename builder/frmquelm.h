#pragma once

#include "notifier.h"

#include <quelm/datafilecomponent.h>

#include <QWidget>
#include <cstdint>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

namespace quelm {

// The program's one window: a box for the number of bars, the Build button and the next file
// number, with the data file component through which every file of the run is made and closed.
class frmQuelm final : public QWidget
{
    Q_OBJECT

public:
    frmQuelm(std::unique_ptr<DataFileComponent> component, Notifier &notifier,
             QWidget *parent = nullptr);
    ~frmQuelm() override;

    // Starts the run at file number 1; called once by the constructor.
    void Form_Load();
    // Builds the next numbered file with the number of bars in the box, and reports it.
    void cmdBuild_Click();
    // Hands every file number of the run back to the component; does its work only once.
    void Form_Unload();
    // Ends the run from outside the window (a signal): closes an open box, then the window.
    void endRun();

    std::int32_t nextFileNumber() const { return lngFileNumber; }
    std::int32_t barCount() const { return lngBars; }
    // True when some number could not be released; the program then ends with a failure status.
    bool releaseFailed() const { return m_releaseFailed; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void build();
    void showFileNumber(const QString &number);

    std::unique_ptr<DataFileComponent> Quelm1;
    Notifier &m_notifier;
    // Both go to the component by reference; it may write into them.
    std::int32_t lngFileNumber = 0;
    std::int32_t lngBars = 0;

    QLabel *Label1;
    QLabel *lblFileNumber;
    QLabel *Label2;
    QLineEdit *txtSize;
    QPushButton *cmdBuild;

    bool m_building = false;
    bool m_closePending = false;
    bool m_unloaded = false;
    bool m_releaseFailed = false;
};

} // namespace quelm
