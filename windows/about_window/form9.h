#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class Form9;
}

// The About window: banner, name, version, and three lines that open the site.
class Form9 : public QWidget {
    Q_OBJECT
public:
    // site is the address of the program's web site (the gateway's base address).
    explicit Form9(const QString& site, QWidget* parent = nullptr);
    ~Form9() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Label1_Click(int index);

    std::unique_ptr<Ui::Form9> ui;
    QString m_Site;
};
