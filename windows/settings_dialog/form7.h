#pragma once

#include "requests.h"

#include <QWidget>
#include <memory>

namespace Ui {
class Form7;
}

// The settings dialog: the WHM user, host and access key. Modeless; its save hides it,
// its close box discards it (the main window creates it anew next time). It knows nothing
// of the main window: it gets the settings to show and the file to save, and tells what
// happened through its signals.
class Form7 : public QWidget {
    Q_OBJECT
public:
    explicit Form7(const QString& settingsPath);
    ~Form7() override;

    // Fills the boxes from the connection settings the main window holds.
    void Form_Load(const Connection& settings);

signals:
    // The file was written; the values are what it holds now, read back (the key with line
    // breaks). The receiver takes them, shows the main window and reloads the lists; the
    // dialog hides itself after that.
    void Saved(const QString& usr, const QString& hst, const QString& key);
    // The close box discarded the dialog.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void xpcmdbutton1_Click();
    void xphelp1_Click();

    std::unique_ptr<Ui::Form7> ui;
    QString m_SettingsPath;
    bool m_Saving = false; // the main window is taking a save's values
    bool m_ClosedWhileSaving = false;
};
