#pragma once

#include <QString>
#include <QWebEngineView>

// An embedded browser pane. Navigate loads in the background and remembers the address
// it was last given, which is what tests read.
class BrowserPane : public QWebEngineView {
    Q_OBJECT
public:
    explicit BrowserPane(QWidget* parent = nullptr);

    void Navigate(const QString& address);
    QString lastAddress() const { return m_LastAddress; }
    QStringList history() const { return m_History; } // every address given, in order

private:
    QString m_LastAddress;
    QStringList m_History;
};
