#include "form9.h"
#include "ui_form9.h"

#include "messagebox.h"
#include "platformerror.h"
#include "requests.h"
#include "systembrowser.h"
#include "windowlook.h"

#include <QMouseEvent>

Form9::Form9(const QString& site, QWidget* parent) : QWidget(parent), m_Site(site) {
    WindowLook::Prepare();
    ui = std::make_unique<Ui::Form9>();
    ui->setupUi(this);
    WindowLook::FixPointSizes(this);
    setAttribute(Qt::WA_DeleteOnClose);
    WindowLook::FixedFrame(this, 256, 235);

    ui->Label1_4->setText(ui->Label1_4->text() + m_Site);
    // The three lines stand on the desktop's highlight-text colour.
    for (QLabel* line : {ui->Label1_0, ui->Label1_1, ui->Label1_4}) {
        QPalette p = line->palette();
        p.setColor(QPalette::Window, palette().color(QPalette::HighlightedText));
        line->setPalette(p);
        line->setCursor(Qt::PointingHandCursor);
        line->installEventFilter(this);
    }
}

Form9::~Form9() = default;

bool Form9::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == ui->Label1_0)
            Label1_Click(0);
        else if (watched == ui->Label1_1)
            Label1_Click(1);
        else if (watched == ui->Label1_4)
            Label1_Click(4);
    }
    return QWidget::eventFilter(watched, event);
}

void Form9::Label1_Click(int /*index*/) {
    const QString home = Requests::Home(m_Site);
    try {
        SystemBrowser::open(home);
    } catch (const PlatformError& e) {
        MessageBox::Show(this,
                         tr("Corvala could not open its web site in the web browser.") +
                             QStringLiteral("\r\n") + e.description(),
                         tr("Web Browser"));
    }
}
