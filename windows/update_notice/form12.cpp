#include "form12.h"
#include "ui_form12.h"

#include "programend.h"
#include "requests.h"
#include "windowlook.h"

#include <QCloseEvent>

Form12::Form12(QWidget* parent) : QWidget(parent) {
    WindowLook::Prepare();
    ui = std::make_unique<Ui::Form12>();
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // A tool window: narrow title bar, close box, no icon, fixed size.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(465, 374);
    // A tool window does not keep the program running by default; the notice must, since
    // closing the settings dialog beside it must not end the program.
    setAttribute(Qt::WA_QuitOnClose, true);
}

Form12::~Form12() = default;

void Form12::Form_Load(const QString& dom) {
    ui->WebBrowser1->Navigate(Requests::Download(dom));
}

void Form12::closeEvent(QCloseEvent* event) {
    event->accept();
    ProgramEnd::End();
}
