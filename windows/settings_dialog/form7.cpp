#include "form7.h"
#include "ui_form7.h"

#include "keytext.h"
#include "messagebox.h"
#include "platformerror.h"
#include "settingsfile.h"
#include "windowlook.h"

#include <QCloseEvent>

Form7::Form7(const QString& settingsPath) : QWidget(nullptr), m_SettingsPath(settingsPath) {
    WindowLook::Prepare();
    ui = std::make_unique<Ui::Form7>();
    ui->setupUi(this);
    WindowLook::FixPointSizes(this);
    setAttribute(Qt::WA_DeleteOnClose);
    WindowLook::FixedFrame(this, 353, 399);
    connect(ui->xpcmdbutton1, &xpcmdbutton::Click, this, &Form7::xpcmdbutton1_Click);
    connect(ui->xphelp1, &xphelp::Click, this, &Form7::xphelp1_Click);
}

Form7::~Form7() = default;

void Form7::Form_Load(const Connection& settings) {
    ui->user->setText(settings.usr);
    KeyText::ToBox(ui->key, settings.key);
    ui->host->setText(settings.hst);
}

void Form7::xpcmdbutton1_Click() {
    using namespace SettingsFile;
    const QString& path = m_SettingsPath;
    try {
        Save(ui->user->text(), ui->host->text(), KeyToStored(KeyText::FromBox(ui->key)), path);
    } catch (const PlatformError& e) {
        // Nothing downstream may act as if the save happened: the dialog stays open with
        // what was typed, and the main window keeps the settings it had.
        MessageBox::Show(
            this, tr("The settings could not be saved.") + QStringLiteral("\r\n") + e.description(),
            QStringLiteral("Settings"));
        return;
    }
    // The main window takes what the file holds now, not what was typed. It reloads the
    // lists meanwhile, with events handled, so the close box may be clicked inside this call.
    m_Saving = true;
    emit Saved(ReadIni(kSection, kUser, path), ReadIni(kSection, kHost, path),
               KeyFromStored(ReadIni(kSection, kKey, path)));
    m_Saving = false;
    if (m_ClosedWhileSaving)
        deleteLater(); // once this call and the button's are over
    else
        hide();
}

void Form7::xphelp1_Click() {
    MessageBox::Show(this,
                     QStringLiteral("You can find your Access Key by logging into your WHM "
                                    "manually and clicking 'Setup Remote Access Key'.") +
                         QStringLiteral("\r\n") +
                         QStringLiteral("Then copy and paste this into the Key box on this "
                                        "software."),
                     QStringLiteral("Help"));
}

void Form7::closeEvent(QCloseEvent* event) {
    event->accept();
    if (m_Saving) {
        // Deleted now, the dialog would be gone under its own save; it goes when that ends.
        setAttribute(Qt::WA_DeleteOnClose, false);
        m_ClosedWhileSaving = true;
    }
    emit Closed();
}
