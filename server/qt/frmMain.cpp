#include "frmMain.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>

#include "ProgramDir.h"
#include "SendStatsTip.h"

namespace {

std::filesystem::path toPath(const QString &file)
{
#ifdef _WIN32
    return std::filesystem::path(file.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(file).toStdString());
#endif
}

} // namespace

void frmMain::ButtonCaption::setCaption(std::string_view text)
{
    button->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void frmMain::CheckBoxValue::follow(QCheckBox *box)
{
    checked = box->isChecked();
    QObject::connect(box, &QAbstractButton::toggled, box, [this](bool on) { checked = on; });
}

frmMain::frmMain(QWidget *parent) : QMainWindow(parent)
{
    createControls();
    chkEventValue_.follow(chkEvent);
    chkDumpValue_.follow(chkDump);
    cmdSendCaption_.button = cmdSend;
    sldPeriodValue_.slider = sldPeriod;
    handlers_ = std::make_unique<kesmar::frmMainHandlers>(
        kesmar::FormControls{chkEventValue_, chkDumpValue_, *txtStat, *txtDump, cmdSendCaption_,
                             sldPeriodValue_},
        loop_);
    tmr1 = &handlers_->tmr1;
    askServer = &handlers_->askServer;
    wireNotifications();
    new SendStatsTip(cmdSend,
                     [h = handlers_.get()] { return QString::fromStdString(h->sendTip()); });
}

frmMain::~frmMain()
{
    // The handlers write to the panes, which go with the window's children.
    handlers_.reset();
}

std::filesystem::path frmMain::defaultPatternFile()
{
    return programDirectory() / "test.txt";
}

void frmMain::load(const std::filesystem::path &patternFile)
{
    handlers_->load(patternFile);
}

void frmMain::load(const QString &patternFile)
{
    load(toPath(patternFile));
}

void frmMain::dump(std::span<const std::uint8_t> dat, std::int32_t maxBytes)
{
    handlers_->dump(dat, maxBytes);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    unload();
    event->accept();
}

void frmMain::unload()
{
    const int before = handlers_->unloadCount();
    handlers_->unload();
    if (handlers_->unloadCount() != before)
        emit unloaded();
}
