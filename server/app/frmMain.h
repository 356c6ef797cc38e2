#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include <QMainWindow>
#include <QString>

#include "Pane.h"
#include "SendTimer.h"
#include "SockCtl.h"

class QAction;
class QCheckBox;
class QCloseEvent;
class QMenu;
class QPushButton;
class QSlider;

// The program's only window. It owns every control and the send buffer, and
// handles each notification in a method of its own.
class frmMain : public QMainWindow
{
    Q_OBJECT

  public:
    static constexpr std::int32_t port = 20319;
    static constexpr std::int32_t socketBufferSize = 32768;
    static constexpr std::int32_t initialPeriod = 1000;
    static constexpr std::int32_t dumpLength = 8;

    explicit frmMain(QWidget *parent = nullptr);

    // Reads the pattern and starts the server; a failure ends the program.
    void load(const std::filesystem::path &patternFile = defaultPatternFile());
    void load(const QString &patternFile);
    // test.txt beside the program's own file.
    static std::filesystem::path defaultPatternFile();

    // Appends a hex dump of at most maxBytes leading bytes of dat to txtDump.
    void dump(std::span<const std::uint8_t> dat, std::int32_t maxBytes);

    const std::vector<std::uint8_t> &pattern() const { return sendBuf; }
    int unloadCount() const { return unloadCount_; }

    // The controls, by the names the handlers use.
    QCheckBox *chkEvent = nullptr;
    QPushButton *cmdMonitorInit = nullptr;
    QCheckBox *chkDump = nullptr;
    QSlider *sldPeriod = nullptr;
    Pane *txtStat = nullptr;
    QPushButton *cmdSend = nullptr;
    SendTimer *tmr1 = nullptr;
    Pane *txtDump = nullptr;
    SockCtl *askServer = nullptr;
    QMenu *mnuFile = nullptr;
    QAction *mnuExit = nullptr;

  signals:
    void unloaded();

  protected:
    void closeEvent(QCloseEvent *event) override;

  private:
    void createControls();
    void wireNotifications();

    void startServer();
    void acceptClient(std::int32_t requestID);
    void closeAndListen();
    void toggleSending();
    void applyPeriod();
    void sendPattern();
    void receiveData(std::int32_t bytesTotal);
    void logSend(std::int32_t bytesSent, std::int32_t bytesRemaining);
    void clearPanes();
    void unload();

    std::vector<std::uint8_t> sendBuf;
    int unloadCount_ = 0;
};
