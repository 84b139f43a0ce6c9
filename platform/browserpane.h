#pragma once

#include <QString>
#include <QUrl>
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

signals:
    // The page last given to Navigate could not be loaded at all: the connection was
    // refused, the host was not found, it timed out... reason says which, in words. A page
    // the server sent, an error page included, has loaded; so has one replaced by a newer
    // Navigate.
    void LoadFailed(const QString& address, const QString& reason);

private:
    QString m_LastAddress;
    QUrl m_LastUrl;
    QStringList m_History;
};
