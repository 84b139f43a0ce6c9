#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class Form7;
}
class Form4;

// The settings dialog: the WHM user, host and access key. Modeless; its save hides it,
// its close box discards it (the main window creates it anew next time).
class Form7 : public QWidget {
    Q_OBJECT
public:
    explicit Form7(Form4& main);
    ~Form7() override;

    // Fills the boxes from the main window's connection settings.
    void Form_Load();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void xpcmdbutton1_Click();
    void xphelp1_Click();

    std::unique_ptr<Ui::Form7> ui;
    Form4& m_Main;
};
