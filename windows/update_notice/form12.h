#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class Form12;
}

// The update notice: shows the gateway's download page. Closing it ends the program.
class Form12 : public QWidget {
    Q_OBJECT
public:
    explicit Form12(QWidget* parent = nullptr);
    ~Form12() override;

    // Sends the pane to the download page of the gateway at dom.
    void Form_Load(const QString& dom);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::Form12> ui;
};
