#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include <QCheckBox>
#include <QMainWindow>
#include <QPushButton>
#include <QString>

#include "Pane.h"
#include "QtEventLoop.h"
#include "Slider.h"
#include "frmMainHandlers.h"

class QAction;
class QCloseEvent;
class QMenu;

// The program's only window on Qt: its controls, and the platform's
// notifications turned into calls of frmMain's handlers.
class frmMain : public QMainWindow
{
    Q_OBJECT

  public:
    static constexpr std::int32_t port = kesmar::frmMainHandlers::port;
    static constexpr std::int32_t dumpLength = kesmar::frmMainHandlers::dumpLength;

    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // Reads the pattern and starts the server; a failure ends the program.
    void load(const std::filesystem::path &patternFile = defaultPatternFile());
    void load(const QString &patternFile);
    // test.txt beside the program's own file.
    static std::filesystem::path defaultPatternFile();

    // Appends a hex dump of at most maxBytes leading bytes of dat to txtDump.
    void dump(std::span<const std::uint8_t> dat, std::int32_t maxBytes);

    const std::vector<std::uint8_t> &pattern() const { return handlers_->pattern(); }
    int unloadCount() const { return handlers_->unloadCount(); }

    // The controls, by the names the handlers use.
    QCheckBox *chkEvent = nullptr;
    QPushButton *cmdMonitorInit = nullptr;
    QCheckBox *chkDump = nullptr;
    Slider *sldPeriod = nullptr;
    Pane *txtStat = nullptr;
    QPushButton *cmdSend = nullptr;
    kesmar::SendClock *tmr1 = nullptr;
    Pane *txtDump = nullptr;
    kesmar::SockCtl *askServer = nullptr;
    QMenu *mnuFile = nullptr;
    QAction *mnuExit = nullptr;

  signals:
    void unloaded();

  protected:
    void closeEvent(QCloseEvent *event) override;

  private:
    // What the handlers see of the Qt controls.
    // Read on every tick and every line: a copy kept by toggled() spares
    // each of them a trip into the widget's memory, which a tick's costs
    // show to be far dearer than the read.
    struct CheckBoxValue final : kesmar::CheckBox
    {
        bool checked = false;
        void follow(QCheckBox *box);
        int value() const override { return checked ? 1 : 0; }
    };
    struct ButtonCaption final : kesmar::Button
    {
        QPushButton *button = nullptr;
        void setCaption(std::string_view text) override;
    };
    struct SliderValue final : kesmar::PeriodSlider
    {
        QSlider *slider = nullptr;
        std::int32_t value() const override { return slider->value(); }
        void setValue(std::int32_t value) override { slider->setValue(value); }
    };

    void createControls();
    void wireNotifications();
    void unload();

    QtEventLoop loop_;
    CheckBoxValue chkEventValue_;
    CheckBoxValue chkDumpValue_;
    ButtonCaption cmdSendCaption_;
    SliderValue sldPeriodValue_;
    std::unique_ptr<kesmar::frmMainHandlers> handlers_;
};
