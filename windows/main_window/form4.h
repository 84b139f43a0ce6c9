#pragma once

#include "requests.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

namespace Ui {
class Form4;
}
class Form7;
class Form9;
class Form12;
class GatewayList;
class InternetTransfer;
class NameListModel;

// The main window, and the program's start-up.
//
// Using it (the program's main() and the tests do exactly this):
//
//     Form4 w(gatewayBase, settingsPath, gatewayConfig); // builds the window, runs nothing yet
//     w.Start();                    // Form_Load, then shows w unless start-up hid it
//
// gatewayBase is the gateway's address without a trailing '/' (the program passes the
// compiled-in CORVALA_GATEWAY_URL); settingsPath is the settings.whm to read and write
// (the program passes SettingsFile::Path()); gatewayConfig is the system-wide file whose
// [gateway] address=, when it gives one, is used instead of gatewayBase (the program passes
// CORVALA_GATEWAY_CONFIG, /etc/corvala/corvala.conf; empty: none). Form_Load() can also be
// called on its own when a test wants to look at the window before it is shown.
//
// Controls keep their designer names as objectNames: the text boxes "domain", "user",
// "pass", "plan", "ausr"; the hidden fields "dom", "usr", "hst" (QLineEdit) and "key"
// (QPlainTextEdit, read it through connection() to get CR LF breaks); the trees
// "TreeView1" (accounts) and "TreeView2" (packages), QTreeViews whose model holds one row
// per item; the buttons "xpcmdbutton1".."xpcmdbutton5" and help icons "xphelp1", "xphelp2";
// the panes "WebBrowser1", "ad1", "ad2", "ad3" (BrowserPane); the transfers "Inet1",
// "Inet2"; the menu actions "Exit", "settin", "dem", "get", "space", "about".
//
// Failures never end the program: a failed fetch is reported in one message box per user
// action (one for the whole start-up), and the list being fetched stays empty.
class Form4 : public QMainWindow {
    Q_OBJECT
public:
    Form4(const QString& gatewayBase, const QString& settingsPath,
          const QString& gatewayConfig = QString(), QWidget* parent = nullptr);
    ~Form4() override;

    // Form_Load, then shows the window unless start-up hid it; the advertising panes
    // follow once it is up.
    void Start();
    // The start-up: base address, tips page, version check, settings, completeness check,
    // both lists. Always runs to its end. The advertising panes are left for Start, or
    // the window's first paint, so they never hold back its showing.
    void Form_Load();

    // Empty TreeView1 / TreeView2 and fill it from the gateway's account / package list.
    void client();
    void Paks();
    // client, then Paks, with at most one message box for both.
    void RefreshLists();

    // The connection settings as the hidden fields hold them now.
    Connection connection() const;
    QString settingsPath() const { return m_SettingsPath; }

    // Each window exists at most once: created and loaded on first showing, raised on the
    // next, discarded when its close box is used.
    void ShowSettings();
    void ShowAbout();
    void ShowUpdateNotice();
    Form7* settingsDialog() const;
    Form9* aboutWindow() const;
    Form12* updateNotice() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Exit_Click();
    void settin_Click();
    void dem_Click();
    void get_Click();
    void about_Click();
    void TreeView1_Click();
    void TreeView2_Click();
    void xpcmdbutton1_Click();
    void xpcmdbutton2_Click();
    void xpcmdbutton3_Click();
    void xpcmdbutton4_Click();
    void xpcmdbutton5_Click();
    void xphelp1_Click();
    void xphelp2_Click();
    void WebBrowser1_LoadFailed(const QString& address, const QString& reason);
    // Sends the result pane to a command's page; a page that cannot be loaded is reported.
    // Until it has loaded or failed, the pane shows the busy cursor and the title the command.
    void ShowCommandPage(const QString& command, const QString& address);
    QString EndCommandWait(); // returns the command that was awaited

    // Written by the settings dialog's save only.
    void setConnectionSettings(const QString& usr, const QString& hst, const QString& key);
    // The settings dialog's save: take what the file holds, show, reload both lists.
    void SettingsSaved(const QString& usr, const QString& hst, const QString& key);
    // The settings dialog was closed with its close box.
    void SettingsDialogClosed();

    void ApplyTabOrder();
    void FillTree(NameListModel* names, const QString& doing,
                  const std::function<GatewayList()>& fetch);
    void SendAdvertisingPanes();
    void Failed(const QString& doing, const QString& why);
    void OpenSitePage(const QString& address, const QString& what);
    void ReportFailures(const QString& during, const QStringList& failures);

    std::unique_ptr<Ui::Form4> ui;
    InternetTransfer* Inet1;
    InternetTransfer* Inet2;
    NameListModel* m_Accounts;
    NameListModel* m_Packages;
    QString m_GatewayBase;
    QString m_SettingsPath;
    QString m_GatewayConfig;
    QPointer<Form7> m_Form7;
    QPointer<Form9> m_Form9;
    QPointer<Form12> m_Form12;
    QStringList* m_Failures = nullptr; // collects failures while one action runs
    bool m_HiddenByStartUp = false;
    QString m_Command;                 // the command whose page the result pane is loading
    bool m_AdvertisingPending = false; // start-up has not sent ad1 and ad3 yet
};
