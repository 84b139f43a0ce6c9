#include "form4.h"
#include "ui_form4.h"

#include "answers.h"
#include "assistivetechnology.h"
#include "form12.h"
#include "form7.h"
#include "form9.h"
#include "gatewayaddress.h"
#include "internettransfer.h"
#include "keytext.h"
#include "lists.h"
#include "messagebox.h"
#include "namedelegate.h"
#include "namelistmodel.h"
#include "platformerror.h"
#include "programend.h"
#include "settingsfile.h"
#include "systembrowser.h"
#include "windowlook.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTimer>
#include <QTreeView>
#include <optional>
#include <utility>

namespace {
const QString kCrLf = QStringLiteral("\r\n");

// Gathers the failures of one action, so that a gateway that is down gives one message,
// not one per request.
class FailureScope {
public:
    FailureScope(QStringList*& slot) : m_Slot(slot), m_Outer(slot) { m_Slot = &m_List; }
    ~FailureScope() { m_Slot = m_Outer; }
    const QStringList& list() const { return m_List; }

private:
    QStringList*& m_Slot;
    QStringList* m_Outer;
    QStringList m_List;
};
} // namespace

Form4::Form4(const QString& gatewayBase, const QString& settingsPath, const QString& gatewayConfig,
             QWidget* parent)
    : QMainWindow(parent), m_GatewayBase(gatewayBase), m_SettingsPath(settingsPath),
      m_GatewayConfig(gatewayConfig) {
    WindowLook::Prepare();
    ui = std::make_unique<Ui::Form4>();
    ui->setupUi(this);
    WindowLook::FixPointSizes(this);

    Inet1 = new InternetTransfer(this);
    Inet1->setObjectName(QStringLiteral("Inet1"));
    Inet2 = new InternetTransfer(this);
    Inet2->setObjectName(QStringLiteral("Inet2"));

    // The client area is 541 x 472 below the menu bar.
    ui->centralwidget->setFixedSize(541, 472);
    WindowLook::FixedFrame(this, 541, 472 + ui->menubar->sizeHint().height());
    ui->centralwidget->setAutoFillBackground(true);

    connect(ui->Exit, &QAction::triggered, this, &Form4::Exit_Click);
    connect(ui->settin, &QAction::triggered, this, &Form4::settin_Click);
    connect(ui->dem, &QAction::triggered, this, &Form4::dem_Click);
    connect(ui->get, &QAction::triggered, this, &Form4::get_Click);
    connect(ui->about, &QAction::triggered, this, &Form4::about_Click);
    connect(ui->xpcmdbutton1, &xpcmdbutton::Click, this, &Form4::xpcmdbutton1_Click);
    connect(ui->xpcmdbutton2, &xpcmdbutton::Click, this, &Form4::xpcmdbutton2_Click);
    connect(ui->xpcmdbutton3, &xpcmdbutton::Click, this, &Form4::xpcmdbutton3_Click);
    connect(ui->xpcmdbutton4, &xpcmdbutton::Click, this, &Form4::xpcmdbutton4_Click);
    connect(ui->xpcmdbutton5, &xpcmdbutton::Click, this, &Form4::xpcmdbutton5_Click);
    connect(ui->xphelp1, &xphelp::Click, this, &Form4::xphelp1_Click);
    connect(ui->xphelp2, &xphelp::Click, this, &Form4::xphelp2_Click);

    // The lists live in models: a refresh is one reset, whatever the number of names.
    m_Accounts = new NameListModel(this);
    m_Packages = new NameListModel(this);
    ui->TreeView1->setModel(m_Accounts);
    ui->TreeView2->setModel(m_Packages);
    for (QTreeView* tree : {ui->TreeView1, ui->TreeView2})
        tree->setItemDelegate(new NameDelegate(tree));
    m_Accounts->setHeading(ui->Label55->text());
    m_Packages->setHeading(ui->Label53->text());

    // Assistive technology sees the controls a person sees, named as the form names them,
    // and not the hidden fields (the connection settings, the access key among them, and the
    // advertising panes) nor the frame's lines.
    for (QWidget* field :
         QList<QWidget*>{ui->dom, ui->usr, ui->hst, ui->key, ui->ad1, ui->ad2, ui->ad3})
        AssistiveTechnology::Conceal(field);
    for (QFrame* line : ui->centralwidget->findChildren<QFrame*>(
             QRegularExpression(QStringLiteral("^Line\\d+$")), Qt::FindDirectChildrenOnly))
        AssistiveTechnology::Conceal(line);

    // A click anywhere in a tree, beside the nodes too, copies the selected node.
    ui->TreeView1->viewport()->installEventFilter(this);
    ui->TreeView2->viewport()->installEventFilter(this);

    // The browser pane makes its focus child only once it renders; that child joins the
    // end of the focus chain, so the order is laid again whenever the pane gains a child.
    ui->WebBrowser1->installEventFilter(this);
    connect(ui->WebBrowser1, &BrowserPane::LoadFailed, this, &Form4::WebBrowser1_LoadFailed);
    connect(ui->WebBrowser1, &BrowserPane::Loaded, this, &Form4::EndCommandWait);
    ui->centralwidget->installEventFilter(this);
    ui->plan->setFocus();
}

Form4::~Form4() {
    // The other windows are top-level windows of their own; they end with this one.
    delete m_Form7.data();
    delete m_Form9.data();
    delete m_Form12.data();
}

void Form4::Start() {
    Form_Load();
    ApplyTabOrder();
    if (!m_HiddenByStartUp) {
        show();
        ui->plan->setFocus();
    }
    // The panes follow the window's first paint (see eventFilter). A window that is not
    // shown gets them at once; one the desktop never draws (minimized) after a short wait.
    QTimer::singleShot(isVisible() ? 500 : 0, this, &Form4::SendAdvertisingPanes);
}

void Form4::Form_Load() {
    FailureScope failures(m_Failures);

    // The base address comes first: the version request and the update notice build on it.
    // A team's gateway named in the system-wide file wins over the compiled-in one.
    QString base = m_GatewayBase;
    try {
        if (const QString configured = GatewayAddress::FromFile(m_GatewayConfig);
            !configured.isEmpty())
            base = configured;
    } catch (const PlatformError& e) {
        MessageBox::Show(this,
                         e.description() + kCrLf + kCrLf +
                             tr("Corvala uses its built-in gateway, %1.").arg(m_GatewayBase),
                         tr("Gateway Address"));
    }
    ui->dom->setText(base);
    const QString dom = ui->dom->text();

    ui->WebBrowser1->Navigate(Requests::Tips(dom));

    // A version that cannot be fetched counts as not known: go on as for a current copy.
    bool current = true;
    try {
        current = IsCurrentVersion(Inet1->OpenURL(Requests::Version(dom)));
    } catch (const PlatformError& e) {
        Failed(tr("Checking the version"), e.description());
    }
    if (!current) {
        MessageBox::Show(this, QStringLiteral("You do not have the latest version!"));
        ShowUpdateNotice();
        m_HiddenByStartUp = true;
        hide();
    }

    ui->usr->setText(ReadIni(SettingsFile::kSection, SettingsFile::kUser, m_SettingsPath));
    ui->hst->setText(ReadIni(SettingsFile::kSection, SettingsFile::kHost, m_SettingsPath));
    KeyText::ToBox(ui->key, SettingsFile::KeyFromStored(ReadIni(
                                SettingsFile::kSection, SettingsFile::kKey, m_SettingsPath)));

    const Connection c = connection();
    const bool incomplete = c.usr.isEmpty() || c.hst.isEmpty() || c.key.isEmpty();
    if (incomplete) {
        if (c.usr.isEmpty() || c.hst.isEmpty())
            MessageBox::Show(this, QStringLiteral("Please fill in your WHM Settings"),
                             QStringLiteral("Settings"));
        m_HiddenByStartUp = true;
        hide();
        ShowSettings();
    }

    // Each pane that loads costs the browser engine's start-up work on this thread; the
    // user sees the window first (Start and the first paint send them).
    m_AdvertisingPending = true;

    {
        // The user is being asked for the settings: lists that an incomplete login cannot
        // load are no news, and their failure box would land on top of the dialog.
        std::optional<FailureScope> unreported;
        if (incomplete)
            unreported.emplace(m_Failures);
        client();
        Paks();
    }

    ReportFailures(tr("Requests to the gateway failed while Corvala was starting up."),
                   failures.list());
}

void Form4::SendAdvertisingPanes() {
    if (!m_AdvertisingPending) // already sent, by the paint or by Start's wait
        return;
    m_AdvertisingPending = false;
    const QString dom = ui->dom->text();
    ui->ad1->Navigate(Requests::PartnerA(dom));
    ui->ad3->Navigate(Requests::PartnerB(dom));
}

void Form4::client() {
    FillTree(m_Accounts, tr("Loading the account list"),
             [this] { return FetchAccountList(*Inet2, connection()); });
}

void Form4::Paks() {
    FillTree(m_Packages, tr("Loading the package list"),
             [this] { return FetchPackageList(*Inet2, connection()); });
}

void Form4::RefreshLists() {
    FailureScope failures(m_Failures);
    client();
    Paks();
    ReportFailures(tr("Requests to the gateway failed while the lists were refreshed."),
                   failures.list());
}

void Form4::FillTree(NameListModel* names, const QString& doing,
                     const std::function<GatewayList()>& fetch) {
    // Emptied first: while the answer is awaited the window repaints without old names.
    names->setNames({});
    try {
        names->setNames(fetch());
    } catch (const PlatformError& e) {
        Failed(doing, e.description());
    }
}

void Form4::Failed(const QString& doing, const QString& why) {
    const QString line = doing + QStringLiteral(": ") + why;
    if (m_Failures) {
        m_Failures->append(line);
        return;
    }
    ReportFailures(tr("Corvala could not finish a request to its gateway."), {line});
}

void Form4::ReportFailures(const QString& during, const QStringList& failures) {
    if (failures.isEmpty())
        return;
    MessageBox::Show(this,
                     during + kCrLf + kCrLf + failures.join(kCrLf) + kCrLf + kCrLf +
                         tr("A list that could not be loaded stays empty; \"Refresh All\" "
                            "tries again."),
                     tr("Gateway Request Failed"));
}

Connection Form4::connection() const {
    return Connection{ui->dom->text(), ui->usr->text(), ui->hst->text(), KeyText::FromBox(ui->key)};
}

void Form4::setConnectionSettings(const QString& usr, const QString& hst, const QString& key) {
    ui->usr->setText(usr);
    ui->hst->setText(hst);
    KeyText::ToBox(ui->key, key);
}

void Form4::ShowSettings() {
    if (!m_Form7) {
        m_Form7 = new Form7(m_SettingsPath);
        connect(m_Form7, &Form7::Saved, this, &Form4::SettingsSaved);
        connect(m_Form7, &Form7::Closed, this, &Form4::SettingsDialogClosed);
        m_Form7->Form_Load(connection());
    }
    m_Form7->show();
    m_Form7->raise();
    m_Form7->activateWindow();
}

void Form4::ShowAbout() {
    if (!m_Form9)
        m_Form9 = new Form9(ui->dom->text());
    m_Form9->show();
    m_Form9->raise();
    m_Form9->activateWindow();
}

void Form4::ShowUpdateNotice() {
    if (!m_Form12) {
        m_Form12 = new Form12;
        m_Form12->Form_Load(ui->dom->text());
    }
    m_Form12->show();
    m_Form12->raise();
    m_Form12->activateWindow();
}

Form7* Form4::settingsDialog() const {
    return m_Form7;
}

Form9* Form4::aboutWindow() const {
    return m_Form9;
}

Form12* Form4::updateNotice() const {
    return m_Form12;
}

void Form4::SettingsSaved(const QString& usr, const QString& hst, const QString& key) {
    setConnectionSettings(usr, hst, key);
    show(); // start-up may have hidden it
    RefreshLists();
}

void Form4::SettingsDialogClosed() {
    // Without this the program would run on with no window on the screen.
    if (m_HiddenByStartUp && isHidden() && !(m_Form12 && m_Form12->isVisible())) {
        m_HiddenByStartUp = false;
        show();
    }
}

void Form4::closeEvent(QCloseEvent* event) {
    event->accept();
    ProgramEnd::End();
}

void Form4::ApplyTabOrder() {
    // The pane takes the focus through its proxy child. The pane itself must sit in the
    // order too (the form gives it a focus policy, or setTabOrder passes it over): where it
    // sits is where Tab enters it, and left at the end of the chain it caught Tab after
    // TreeView2 instead of plan.
    const QList<QWidget*> order{
        ui->plan,         ui->domain,       ui->pass,         ui->user,         ui->ausr,
        ui->WebBrowser1,  ui->xpcmdbutton1, ui->xpcmdbutton2, ui->xpcmdbutton3, ui->xpcmdbutton4,
        ui->xpcmdbutton5, ui->TreeView1,    ui->TreeView2};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

namespace {
// A button pressed, held or pressed twice beside a tree's nodes: the view would clear its
// selection, and such a click must leave the last selected node selected to copy it again.
// The view never sees it; the tree takes the focus all the same, before any filter runs.
bool PressedBesideNodes(const QTreeView* tree, const QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        const auto* e = static_cast<const QMouseEvent*>(event);
        return e->buttons() != Qt::NoButton && !tree->indexAt(e->position().toPoint()).isValid();
    }
    default:
        return false;
    }
}
} // namespace

bool Form4::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->centralwidget && event->type() == QEvent::Paint && m_AdvertisingPending)
        QTimer::singleShot(0, this, &Form4::SendAdvertisingPanes); // once the paint is on screen
    if (watched == ui->WebBrowser1 && event->type() == QEvent::ChildPolished)
        ApplyTabOrder();
    QTreeView* tree = watched == ui->TreeView1->viewport()   ? ui->TreeView1
                      : watched == ui->TreeView2->viewport() ? ui->TreeView2
                                                             : nullptr;
    if (tree && PressedBesideNodes(tree, event))
        return true;
    if (tree && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (tree == ui->TreeView1)
            TreeView1_Click();
        else
            TreeView2_Click();
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form4::Exit_Click() {
    ProgramEnd::End();
}

void Form4::settin_Click() {
    ShowSettings();
}

void Form4::dem_Click() {
    OpenSitePage(Requests::LiveDemo(ui->dom->text()), tr("the live demo"));
}

void Form4::get_Click() {
    OpenSitePage(Requests::Help(ui->dom->text()), tr("the help page"));
}

void Form4::about_Click() {
    ShowAbout();
}

void Form4::OpenSitePage(const QString& address, const QString& what) {
    try {
        SystemBrowser::open(address);
    } catch (const PlatformError& e) {
        MessageBox::Show(this,
                         tr("Corvala could not open %1 in the web browser.").arg(what) + kCrLf +
                             e.description(),
                         tr("Web Browser"));
    }
}

namespace {
// The tree's selected node, or none: a click with nothing selected does nothing.
QModelIndex SelectedNode(const QTreeView* tree) {
    const QModelIndexList selected = tree->selectionModel()->selectedRows();
    return selected.isEmpty() ? QModelIndex() : selected.first();
}
} // namespace

void Form4::TreeView1_Click() {
    if (const QModelIndex node = SelectedNode(ui->TreeView1); node.isValid())
        ui->ausr->setText(node.data().toString());
}

void Form4::TreeView2_Click() {
    if (const QModelIndex node = SelectedNode(ui->TreeView2); node.isValid())
        ui->plan->setText(node.data().toString());
}

void Form4::ShowCommandPage(const QString& command, const QString& address) {
    // The pane shows the last page until the new one has come: say what is awaited.
    m_Command = command;
    setWindowTitle(tr("Corvala - waiting for \"%1\"").arg(command));
    ui->WebBrowser1->ShowBusy(true);
    ui->WebBrowser1->Navigate(address);
}

QString Form4::EndCommandWait() {
    ui->WebBrowser1->ShowBusy(false);
    setWindowTitle(QStringLiteral("Corvala"));
    return std::exchange(m_Command, QString());
}

void Form4::WebBrowser1_LoadFailed(const QString& /*address*/, const QString& reason) {
    // Only a command's own page: the tips page is not the administrator's business. The
    // pane reports only the page it was last sent to, so no address needs comparing.
    if (m_Command.isEmpty())
        return;
    const QString command = EndCommandWait();
    MessageBox::Show(
        this,
        tr("\"%1\" failed: its page could not be loaded from the gateway: %2").arg(command, reason),
        tr("Gateway Request Failed"));
}

void Form4::xpcmdbutton1_Click() {
    ui->WebBrowser1->Navigate(QStringLiteral("about:blank"));
    ShowCommandPage(QStringLiteral("Create Account"),
                    Requests::CreateAccount(connection(), ui->domain->text(), ui->user->text(),
                                            ui->pass->text(), ui->plan->text()));
}

void Form4::xpcmdbutton2_Click() {
    RefreshLists();
}

void Form4::xpcmdbutton3_Click() {
    ShowCommandPage(QStringLiteral("Suspend Account"),
                    Requests::Suspend(connection(), ui->ausr->text()));
}

void Form4::xpcmdbutton4_Click() {
    ShowCommandPage(QStringLiteral("UnSuspend Account"),
                    Requests::Unsuspend(connection(), ui->ausr->text()));
}

void Form4::xpcmdbutton5_Click() {
    const QString account = ui->ausr->text();
    // Terminating deletes the account's data on the server: nothing goes out without a Yes.
    // An empty field is named as such rather than leaving a gap where the name would be.
    const QString question =
        account.isEmpty()
            ? QStringLiteral("The user name field is empty. Terminate the account with an "
                             "empty user name?")
            : QStringLiteral("Terminate the account %1?").arg(account);
    if (!MessageBox::Confirm(
            this, question + QStringLiteral(" Its files, mail and databases are deleted."),
            QStringLiteral("Terminate Account")))
        return;
    ShowCommandPage(QStringLiteral("Terminate Account"),
                    Requests::Terminate(connection(), account));
}

void Form4::xphelp1_Click() {
    MessageBox::Show(this,
                     QStringLiteral("To create an account you need to fill in") + kCrLf +
                         QStringLiteral("ALL of the fields above."),
                     QStringLiteral("Help"));
}

void Form4::xphelp2_Click() {
    MessageBox::Show(this,
                     QStringLiteral("Simply type the User in and click the desired command") +
                         kCrLf +
                         QStringLiteral("You can use the client list on the right to get a "
                                        "username."),
                     QStringLiteral("Help"));
}
